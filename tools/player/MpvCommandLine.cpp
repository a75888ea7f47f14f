#include "tools/player/MpvCommandLine.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>

namespace corvyn::player {
namespace {

// Shown once when playback starts and then as mpv's status line; the "%"
// tells the preview pane the player is running.
constexpr char kPlayingMessage[] = "--term-playing-msg=Playing ${filename}: ${percent-pos}%";
constexpr char kStatusMessage[] = "--term-status-msg=${time-pos} / ${duration} (${percent-pos}%)";
// The audio player's window: just room for the title and the controls.
constexpr char kAudioWindowSize[] = "360x120";

// MPlayer options with a value that have no meaning for mpv.
constexpr std::array<std::string_view, 13> kDroppedWithValue = {
    "vo", "ao", "vf", "af", "vc", "ac", "fps", "wid", "cache", "ss", "endpos", "volume", "speed"};

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// "123" or "45%".
bool IsCoordinate(std::string_view text) {
  if (!text.empty() && text.back() == '%') text.remove_suffix(1);
  return AllDigits(text);
}

// "+X+Y", "-X+Y", ... with X and Y coordinates.
bool IsSignedPosition(std::string_view text) {
  if (text.empty() || (text[0] != '+' && text[0] != '-')) return false;
  const std::size_t second = text.find_first_of("+-", 1);
  return second != std::string_view::npos && IsCoordinate(text.substr(1, second - 1)) &&
         IsCoordinate(text.substr(second + 1));
}

// The window's place and size as mpv's --geometry wants them.
struct Window {
  std::string width, height;  // digits, or empty
  std::string position;       // "+X+Y" style, or empty

  // Reads an MPlayer -geometry value; false when it is none of the known forms.
  bool ReadGeometry(std::string_view value) {
    if (const std::size_t colon = value.find(':'); colon != std::string_view::npos) {
      const std::string_view x = value.substr(0, colon), y = value.substr(colon + 1);
      if (!IsCoordinate(x) || !IsCoordinate(y)) return false;
      position = "+" + std::string(x) + "+" + std::string(y);
      return true;
    }
    if (IsSignedPosition(value)) {
      position = std::string(value);
      return true;
    }
    // WxH, optionally followed by a signed position.
    const std::size_t times = value.find('x');
    if (times == std::string_view::npos) return false;
    const std::size_t sign = value.find_first_of("+-", times);
    const std::string_view w = value.substr(0, times);
    const std::string_view h =
        value.substr(times + 1, sign == std::string_view::npos ? sign : sign - times - 1);
    if (!AllDigits(w) || !AllDigits(h)) return false;
    if (sign != std::string_view::npos) {
      if (!IsSignedPosition(value.substr(sign))) return false;
      position = std::string(value.substr(sign));
    }
    width = std::string(w);
    height = std::string(h);
    return true;
  }

  std::optional<std::string> Option() const {
    std::string size = width;
    if (!height.empty()) size += "x" + height;
    if (size.empty() && position.empty()) return std::nullopt;
    return "--geometry=" + size + position;
  }
};

std::string_view OptionName(std::string_view argument) {
  argument.remove_prefix(argument[1] == '-' ? 2 : 1);  // "-x" and "--x" alike
  return argument;
}

}  // namespace

std::string Usage(PlayerKind kind) {
  if (kind == PlayerKind::kAudio) {
    return "usage: Player1 FILE\n"
           "Plays the sound FILE with mpv in a small window and prints its progress.\n";
  }
  return "usage: Player [-aspect W:H] [-lavdopts threads=N] [-geometry X:Y] [-x WIDTH] [-y HEIGHT] FILE\n"
         "Plays the video FILE with mpv in a window of WIDTH by HEIGHT at X,Y and prints its progress.\n";
}

MpvCommand TranslateCommandLine(PlayerKind kind, const std::vector<std::string>& playerArguments) {
  MpvCommand command;
  std::vector<std::string> options;
  std::optional<std::string> path;
  Window window;
  if (kind == PlayerKind::kAudio) window.ReadGeometry(kAudioWindowSize);

  auto fail = [&command](std::string error) {
    command.arguments.clear();
    command.error = std::move(error);
    return command;
  };
  auto takePath = [&](const std::string& argument) {
    if (path) command.notes.push_back("ignored the extra argument \"" + *path + "\"");
    path = argument;
  };

  for (std::size_t i = 0; i < playerArguments.size(); ++i) {
    const std::string& argument = playerArguments[i];
    if (argument == "--") {
      for (++i; i < playerArguments.size(); ++i) takePath(playerArguments[i]);
      break;
    }
    if (argument.size() < 2 || argument[0] != '-') {
      takePath(argument);
      continue;
    }
    const std::string name(OptionName(argument));
    const bool takesValue =
        name == "aspect" || name == "lavdopts" || name == "geometry" || name == "x" || name == "y" ||
        std::find(kDroppedWithValue.begin(), kDroppedWithValue.end(), name) != kDroppedWithValue.end();
    if (!takesValue) {
      command.notes.push_back("ignored the unknown option " + argument);
      continue;
    }
    if (i + 1 >= playerArguments.size()) return fail("the option " + argument + " needs a value");
    const std::string& value = playerArguments[++i];

    if (name == "aspect") {
      options.push_back("--video-aspect-override=" + value);
    } else if (name == "lavdopts") {
      // Sub-options "name=value" separated by colons; only the thread count means something here.
      std::string_view rest = value;
      while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(':'), rest.size());
        const std::string_view sub = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (sub.substr(0, 8) == "threads=" && AllDigits(sub.substr(8))) {
          options.push_back("--vd-lavc-threads=" + std::string(sub.substr(8)));
        } else if (!sub.empty()) {
          command.notes.push_back("ignored the decoder option " + std::string(sub));
        }
      }
    } else if (name == "geometry") {
      Window read = window;
      if (read.ReadGeometry(value)) {
        window = read;
      } else {
        command.notes.push_back("ignored the window geometry \"" + value + "\" (use X:Y or WxH+X+Y)");
      }
    } else if (name == "x" || name == "y") {
      if (!AllDigits(value) || value == "0" || value.size() > 5) {
        command.notes.push_back("ignored " + argument + " " + value + ": not a window size in pixels");
      } else {
        (name == "x" ? window.width : window.height) = value;
      }
    } else {
      command.notes.push_back("ignored " + argument + " " + value + " (mpv chooses its own)");
    }
  }
  if (!path || path->empty()) return fail("no file to play was given");

  command.arguments.push_back("--force-window=yes");
  if (const auto geometry = window.Option()) command.arguments.push_back(*geometry);
  command.arguments.insert(command.arguments.end(), options.begin(), options.end());
  command.arguments.push_back(kPlayingMessage);
  command.arguments.push_back(kStatusMessage);
  command.arguments.push_back("--");
  command.arguments.push_back(*path);
  return command;
}

}  // namespace corvyn::player
