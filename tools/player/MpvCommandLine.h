// The command lines of the media players beside the program, in the old
// MPlayer style the preview pane uses, and the mpv command lines that do the
// same:
//
//   Player1 PATH                                        audio
//   Player -aspect 16:9 -vo direct3d -lavdopts threads=4
//          -geometry 845:260 -x 326 -y 189 "PATH"       video
//
// The last argument that is not an option is the file; an option whose
// value goes with it ("-vo direct3d") never counts as the file.
//
// Both players print their progress as "... N% ..." on mpv's terminal
// output (the preview pane counts a player as started once its output holds
// a per-cent sign), once when playback starts and then as the status line.
//
// Options, MPlayer → mpv:
//   -aspect A             --video-aspect-override=A
//   -lavdopts threads=N   --vd-lavc-threads=N        (other sub-options noted and dropped)
//   -geometry X:Y         the window position  \  together one
//   -x W, -y H            the window size      /  --geometry=WxH+X+Y
//   -geometry WxH+X+Y     passed on as written
//   -vo, -ao, -vf, -af, -vc, -ac, -fps, -wid, -cache, -ss, -endpos, -volume,
//   -speed, each with its value: noted and dropped (the drivers of other
//                         systems mean nothing here; mpv picks its own)
//   any other "-name":    noted and dropped, taking no value
// Notes go to standard error; mpv's own output follows on the same streams.
#pragma once

#include <string>
#include <vector>

namespace corvyn::player {

enum class PlayerKind {
  kAudio,  // "Player1": a small window with the status, sound only
  kVideo,  // "Player": a window of the given size at the given place
};

// The program to start instead of the player.
inline constexpr char kMpvProgram[] = "mpv";

struct MpvCommand {
  std::vector<std::string> arguments;  // mpv's arguments, without argv[0]
  std::vector<std::string> notes;      // options that were dropped, one line each
  std::string error;                   // not empty: the command line cannot be used
};

// Translates the player's arguments (without argv[0]). On error `arguments`
// is empty and `error` says what is wrong in words.
MpvCommand TranslateCommandLine(PlayerKind kind, const std::vector<std::string>& playerArguments);

// The usage text of a player, several lines ending in a line break.
std::string Usage(PlayerKind kind);

}  // namespace corvyn::player
