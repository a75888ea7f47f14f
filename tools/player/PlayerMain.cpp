// Player and Player1: the media players beside the program. Each translates
// its MPlayer-style command line (tools/player/MpvCommandLine.h) and becomes
// mpv, so the process the preview pane started, watches and ends is the
// player itself.
//
// Exit status: mpv's own; 2 for a command line without a file (usage on
// standard error); 127 when mpv is not installed, 126 when it cannot be
// started for another reason.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/player/MpvCommandLine.h"

#ifndef CORVYN_PLAYER_KIND
#error "CORVYN_PLAYER_KIND names the player this program is (kAudio or kVideo)"
#endif

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitCannotStart = 126;
constexpr int kExitNotInstalled = 127;

}  // namespace

int main(int argc, char** argv) {
  using corvyn::player::PlayerKind;
  constexpr PlayerKind kKind = PlayerKind::CORVYN_PLAYER_KIND;
  const char* self = argc > 0 ? argv[0] : "Player";

  const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
  const corvyn::player::MpvCommand command = corvyn::player::TranslateCommandLine(kKind, arguments);
  for (const std::string& note : command.notes) std::fprintf(stderr, "%s: %s\n", self, note.c_str());
  if (!command.error.empty()) {
    std::fprintf(stderr, "%s: %s\n%s", self, command.error.c_str(), corvyn::player::Usage(kKind).c_str());
    return kExitUsage;
  }

  std::vector<char*> mpvArgv;
  std::string program = corvyn::player::kMpvProgram;
  mpvArgv.push_back(program.data());
  std::vector<std::string> mpvArguments = command.arguments;
  for (std::string& argument : mpvArguments) mpvArgv.push_back(argument.data());
  mpvArgv.push_back(nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  execvp(program.c_str(), mpvArgv.data());

  const int error = errno;
  if (error == ENOENT) {
    std::fprintf(stderr,
                 "%s: the media player mpv is not installed (no \"mpv\" in PATH); "
                 "install it, e.g. with \"apt-get install mpv\"\n",
                 self);
    return kExitNotInstalled;
  }
  std::fprintf(stderr, "%s: cannot start mpv: %s\n", self, std::strerror(error));
  return kExitCannotStart;
}
