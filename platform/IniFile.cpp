#include "platform/IniFile.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/Ascii.h"

namespace corvyn::platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

bool IsContentLine(std::string_view trimmed) {
  return !trimmed.empty() && trimmed.front() != ';';
}

bool LineHasKey(std::string_view line, std::string_view key) {
  const std::string_view trimmed = Trim(line);
  if (!IsContentLine(trimmed)) return false;
  return EqualsIgnoringCase(SplitAtFirstEquals(trimmed).first, Trim(key));
}

}  // namespace

std::pair<std::string, std::string> SplitAtFirstEquals(std::string_view line) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return {std::string(Trim(line)), std::string()};
  return {std::string(Trim(line.substr(0, equals))), std::string(Trim(line.substr(equals + 1)))};
}

Status IniFile::Load(const std::filesystem::path& path) {
  sections_.clear();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::error_code error;
    return Status::System(std::filesystem::exists(path, error) ? EACCES : ENOENT, path.string());
  }
  std::ostringstream content;
  content << file.rdbuf();
  Parse(content.str());
  return kOk;
}

void IniFile::Parse(std::string_view text) {
  sections_.clear();
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  sections_.push_back(Section{});
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::string_view trimmed = Trim(line);
    if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.find(']') != std::string_view::npos) {
      Section section;
      section.name = std::string(Trim(trimmed.substr(1, trimmed.find(']') - 1)));
      section.hasHeader = true;
      sections_.push_back(std::move(section));
      continue;
    }
    sections_.back().lines.emplace_back(line);
  }
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& section : sections_) {
    if (!section.hasHeader) continue;
    bool seen = false;
    for (const auto& name : names) seen = seen || EqualsIgnoringCase(name, section.name);
    if (!seen) names.push_back(section.name);
  }
  return names;
}

std::vector<std::string> IniFile::SectionLines(std::string_view name) const {
  std::vector<std::string> lines;
  for (const auto& section : sections_) {
    if (!section.hasHeader || !EqualsIgnoringCase(section.name, Trim(name))) continue;
    for (const auto& line : section.lines) {
      const std::string_view trimmed = Trim(line);
      if (IsContentLine(trimmed)) lines.emplace_back(trimmed);
    }
  }
  return lines;
}

std::optional<std::string> IniFile::Value(std::string_view name, std::string_view key) const {
  for (const auto& section : sections_) {
    if (!section.hasHeader || !EqualsIgnoringCase(section.name, Trim(name))) continue;
    for (const auto& line : section.lines) {
      if (LineHasKey(line, key)) return SplitAtFirstEquals(Trim(line)).second;
    }
  }
  return std::nullopt;
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  for (auto& section : sections_) {
    if (section.hasHeader && EqualsIgnoringCase(section.name, Trim(name))) return &section;
  }
  return nullptr;
}

void IniFile::SetValue(std::string_view name, std::string_view key, std::string_view value) {
  const std::string newLine = std::string(Trim(key)) + "=" + std::string(value);
  for (auto& section : sections_) {
    if (!section.hasHeader || !EqualsIgnoringCase(section.name, Trim(name))) continue;
    for (auto& line : section.lines) {
      if (LineHasKey(line, key)) {
        line = newLine;
        return;
      }
    }
  }
  Section* section = FindSection(name);
  if (section == nullptr) {
    sections_.push_back(Section{std::string(Trim(name)), true, {}});
    section = &sections_.back();
  }
  // Append after the section's last content line, before trailing blanks.
  auto insertAt = section->lines.end();
  while (insertAt != section->lines.begin() && Trim(*(insertAt - 1)).empty()) --insertAt;
  section->lines.insert(insertAt, newLine);
}

bool IniFile::RemoveValue(std::string_view name, std::string_view key) {
  bool removed = false;
  for (auto& section : sections_) {
    if (!section.hasHeader || !EqualsIgnoringCase(section.name, Trim(name))) continue;
    removed =
        std::erase_if(section.lines, [&](const std::string& line) { return LineHasKey(line, key); }) > 0 ||
        removed;
  }
  return removed;
}

std::string IniFile::Serialize() const {
  std::string text(kByteOrderMark);
  for (const auto& section : sections_) {
    if (section.hasHeader) text += "[" + section.name + "]\r\n";
    for (const auto& line : section.lines) text += line + "\r\n";
  }
  return text;
}

Status IniFile::Save(const std::filesystem::path& path) const {
  std::error_code error;
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) return Status::System(error, path.parent_path().string());
  }
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    if (!file) return Status::System(errno != 0 ? errno : EACCES, temporary.string());
    const std::string text = Serialize();
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.flush();
    if (!file) {
      file.close();
      std::filesystem::remove(temporary, error);
      return Status::System(EIO, temporary.string());
    }
  }
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return Status::System(error, path.string());
  }
  return kOk;
}

}  // namespace corvyn::platform
