#include "export/ExportText.h"

#include <cstdio>
#include <system_error>

#include "core/TextFormat.h"
#include "core/Utf8.h"
#include "platform/LocalTime.h"

namespace corvyn::exporting {
namespace fs = std::filesystem;

std::string HtmlEscape(std::string_view text, bool lineBreaks) {
  const std::string valid = ToValidUtf8(text);
  std::string out;
  out.reserve(valid.size() + valid.size() / 8);
  for (std::size_t i = 0; i < valid.size(); ++i) {
    const char c = valid[i];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\r':
        if (!lineBreaks) {
          out += c;
        } else if (i + 1 >= valid.size() || valid[i + 1] != '\n') {
          out += "<br />";
        }
        break;
      case '\n':
        out += lineBreaks ? "<br />" : "\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string CsvField(std::string_view text) {
  std::string field;
  if (CouldRunAsFormula(text)) field += '\'';
  field += text;
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

std::string SafeComponent(std::string_view name, std::string_view fallback) {
  const std::string valid = ToValidUtf8(name);
  std::string out;
  out.reserve(valid.size());
  for (const char c : valid) {
    const auto byte = static_cast<unsigned char>(c);
    out += (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) ? '_' : c;
  }
  if (out.size() > kMaxNameBytes) {
    std::size_t cut = kMaxNameBytes;
    // Step back to the first byte of a character.
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
  if (out.empty() || out == "." || out == "..") return std::string(fallback);
  // A leading dot would hide the file or folder in a file manager.
  for (char& c : out) {
    if (c != '.') break;
    c = '_';
  }
  return out;
}

fs::path UniquePath(const fs::path& path) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(path, error))) return path;
  const fs::path folder = path.parent_path();
  const std::string stem = path.stem().string();
  const std::string extension = path.extension().string();
  for (unsigned n = 1;; ++n) {
    fs::path candidate = folder / (stem + "(" + std::to_string(n) + ")" + extension);
    if (!fs::exists(fs::symlink_status(candidate, error))) return candidate;
  }
}

std::string ExportTimeStamp(int64_t unixSeconds) {
  platform::LocalTime local;
  if (!platform::ToLocalTime(unixSeconds, &local)) return "00000000000000";
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.year, local.month, local.day, local.hour,
                local.minute, local.second);
  return text;
}

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string_view MessageMark(const MessageRecord& message) {
  if (message.unsent != 0) return "Unsent";
  if (message.edited != 0) return "Edited";
  return {};
}

std::string NoteContentText(const NoteRecord& note) {
  return note.locked != 0 ? std::string(kLockedNoteText) : note.content;
}

}  // namespace corvyn::exporting
