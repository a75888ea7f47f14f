// The real Player and Player1 programs with a stand-in "mpv" first in PATH:
// what they hand to mpv, that mpv takes over their process, and how they end
// without a file or without mpv.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::player {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct PlayerRun {
  platform::ExitStatus exit;
  int pid = 0;
  std::string output;  // stdout and stderr together
};

class PlayerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(withMpv_);
    fs::create_directories(withoutMpv_);
    // Prints its process id and then each argument on a line of its own.
    const fs::path fake = withMpv_ / "mpv";
    std::ofstream(fake) << "#!/bin/sh\nprintf 'pid %s\\n' \"$$\"\nprintf '%s\\n' \"$@\"\n";
    fs::permissions(fake, fs::perms::owner_all);
  }

  PlayerRun Start(const char* program, std::vector<std::string> arguments, const fs::path& pathFolder) {
    platform::ProcessSpec spec;
    spec.executable = fs::path(CORVYN_BIN_DIR) / program;
    spec.arguments = std::move(arguments);
    spec.environment = {{"PATH", pathFolder.string()}};
    std::unique_ptr<platform::IChildProcess> child;
    PlayerRun run;
    EXPECT_EQ(launcher_->Start(spec, &child), kOk);
    if (!child) return run;
    run.pid = child->Pid();
    for (bool ended = false; !ended;) {
      if (child->ReadOutput(&run.output, 65536, 10s, &ended) != kOk) break;
    }
    EXPECT_EQ(child->Wait(10s, &run.exit), kOk);
    return run;
  }

  testing::TempFolder temp_{"player"};
  fs::path withMpv_ = temp_.Path() / "with-mpv";
  fs::path withoutMpv_ = temp_.Path() / "without-mpv";
  std::unique_ptr<platform::IProcessLauncher> launcher_ = platform::MakePosixProcessLauncher();
};

TEST_F(PlayerProgram, BecomesMpvWithTheTranslatedOptions) {
  const PlayerRun video = Start("Player",
                                {"-aspect", "16:9", "-vo", "direct3d", "-lavdopts", "threads=4", "-geometry",
                                 "845:260", "-x", "326", "-y", "189", "/tmp/work dir/tmp.avi"},
                                withMpv_);
  EXPECT_TRUE(video.exit.Succeeded());
  // The note about -vo comes first (on stderr), then mpv, in the same process.
  std::ostringstream expected;
  expected << "Player: ignored -vo direct3d (mpv chooses its own)\n"
           << "pid " << video.pid << "\n"
           << "--force-window=yes\n--geometry=326x189+845+260\n--video-aspect-override=16:9\n"
           << "--vd-lavc-threads=4\n--term-playing-msg=Playing ${filename}: ${percent-pos}%\n"
           << "--term-status-msg=${time-pos} / ${duration} (${percent-pos}%)\n--\n/tmp/work dir/tmp.avi\n";
  EXPECT_EQ(video.output.substr(video.output.find("Player:")), expected.str());

  const PlayerRun audio = Start("Player1", {"/tmp/work/tmp.wav"}, withMpv_);
  EXPECT_TRUE(audio.exit.Succeeded());
  EXPECT_NE(
      audio.output.find("pid " + std::to_string(audio.pid) + "\n--force-window=yes\n--geometry=360x120\n"),
      std::string::npos)
      << audio.output;
  EXPECT_NE(audio.output.find("--\n/tmp/work/tmp.wav\n"), std::string::npos) << audio.output;
}

TEST_F(PlayerProgram, SaysWhatIsMissing) {
  const PlayerRun noFile = Start("Player", {"-x", "326"}, withMpv_);
  EXPECT_TRUE(noFile.exit.exited);
  EXPECT_EQ(noFile.exit.code, 2);
  EXPECT_NE(noFile.output.find("no file to play was given"), std::string::npos) << noFile.output;
  EXPECT_NE(noFile.output.find("usage: Player "), std::string::npos) << noFile.output;
  EXPECT_EQ(noFile.output.find("pid "), std::string::npos) << "mpv must not start";

  const PlayerRun noMpv = Start("Player1", {"song.wav"}, withoutMpv_);
  EXPECT_TRUE(noMpv.exit.exited);
  EXPECT_EQ(noMpv.exit.code, 127);
  EXPECT_NE(noMpv.output.find("mpv is not installed"), std::string::npos) << noMpv.output;
}

}  // namespace
}  // namespace corvyn::player
