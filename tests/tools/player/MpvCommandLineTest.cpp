// The players' command lines as the preview pane writes them, and odd ones,
// translated to mpv's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/player/MpvCommandLine.h"

namespace corvyn::player {
namespace {

using Arguments = std::vector<std::string>;

const std::string kPlaying = "--term-playing-msg=Playing ${filename}: ${percent-pos}%";
const std::string kStatus = "--term-status-msg=${time-pos} / ${duration} (${percent-pos}%)";

struct Case {
  const char* what;
  PlayerKind kind;
  Arguments player;
  Arguments mpv;      // empty: refused
  std::size_t notes;  // how many dropped options are reported
};

Arguments Mpv(Arguments front, const std::string& path) {
  front.insert(front.end(), {kPlaying, kStatus, "--", path});
  return front;
}

TEST(MpvCommandLine, TranslatesThePlayerCommandLines) {
  const Case cases[] = {
      {"the preview pane's video line",
       PlayerKind::kVideo,
       {"-aspect", "16:9", "-vo", "direct3d", "-lavdopts", "threads=4", "-geometry", "845:260", "-x", "326",
        "-y", "189", "/tmp/work/tmp.avi"},
       Mpv({"--force-window=yes", "--geometry=326x189+845+260", "--video-aspect-override=16:9",
            "--vd-lavc-threads=4"},
           "/tmp/work/tmp.avi"),
       1},
      {"the preview pane's audio line",
       PlayerKind::kAudio,
       {"/tmp/work/tmp.wav"},
       Mpv({"--force-window=yes", "--geometry=360x120"}, "/tmp/work/tmp.wav"),
       0},
      {"a path with blanks and a leading dash stays one argument after --",
       PlayerKind::kAudio,
       {"--", "-my song.wav"},
       Mpv({"--force-window=yes", "--geometry=360x120"}, "-my song.wav"),
       0},
      {"video without options gets a window of mpv's size",
       PlayerKind::kVideo,
       {"clip.avi"},
       Mpv({"--force-window=yes"}, "clip.avi"),
       0},
      {"unknown options are dropped, their neighbours are not taken for the file",
       PlayerKind::kVideo,
       {"-fs", "-ao", "alsa", "--quiet", "clip.avi"},
       Mpv({"--force-window=yes"}, "clip.avi"),
       3},
      {"other decoder sub-options are dropped, threads kept",
       PlayerKind::kVideo,
       {"-lavdopts", "fast:threads=2:skiploopfilter=all", "clip.avi"},
       Mpv({"--force-window=yes", "--vd-lavc-threads=2"}, "clip.avi"),
       2},
      {"position in per cent, size alone",
       PlayerKind::kVideo,
       {"-geometry", "50%:50%", "clip.avi"},
       Mpv({"--force-window=yes", "--geometry=+50%+50%"}, "clip.avi"),
       0},
      {"X11-style geometry with -x overriding the width",
       PlayerKind::kVideo,
       {"-geometry", "640x480-10+20", "-x", "320", "clip.avi"},
       Mpv({"--force-window=yes", "--geometry=320x480-10+20"}, "clip.avi"),
       0},
      {"a geometry that makes no sense and a zero size are dropped",
       PlayerKind::kVideo,
       {"-geometry", "left:top", "-y", "0", "clip.avi"},
       Mpv({"--force-window=yes"}, "clip.avi"),
       2},
      {"the last plain argument is the file",
       PlayerKind::kVideo,
       {"first.avi", "second.avi"},
       Mpv({"--force-window=yes"}, "second.avi"),
       1},
      {"no file", PlayerKind::kVideo, {"-aspect", "4:3"}, {}, 0},
      {"nothing at all", PlayerKind::kAudio, {}, {}, 0},
      {"an option without its value", PlayerKind::kVideo, {"clip.avi", "-geometry"}, {}, 0},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.what);
    const MpvCommand command = TranslateCommandLine(row.kind, row.player);
    EXPECT_EQ(command.arguments, row.mpv);
    EXPECT_EQ(command.error.empty(), !row.mpv.empty()) << command.error;
    EXPECT_EQ(command.notes.size(), row.notes);
  }
}

TEST(MpvCommandLine, ErrorsAndUsageSayWhatIsWrong) {
  EXPECT_EQ(TranslateCommandLine(PlayerKind::kVideo, {"-aspect", "4:3"}).error, "no file to play was given");
  EXPECT_EQ(TranslateCommandLine(PlayerKind::kVideo, {"a.avi", "-x"}).error, "the option -x needs a value");
  EXPECT_EQ(TranslateCommandLine(PlayerKind::kVideo, {"-fs", "a.avi"}).notes,
            std::vector<std::string>{"ignored the unknown option -fs"});
  EXPECT_NE(Usage(PlayerKind::kAudio).find("Player1 FILE"), std::string::npos);
  EXPECT_NE(Usage(PlayerKind::kVideo).find("-geometry X:Y"), std::string::npos);
}

}  // namespace
}  // namespace corvyn::player
