// A small INI document: our stand-in for the system's profile-file calls,
// used by the registry stand-in and by the language and configuration files.
//
// File form (read leniently, written as the program writes every text file):
//   optional UTF-8 byte-order mark, then lines ended by CR LF or LF;
//   "[name]" starts a section; other non-blank lines belong to the current
//   section (lines before the first section are kept but belong to none);
//   lines starting with ';' are comments.
// Section names and keys compare ignoring ASCII case, as the system's calls
// do; section and line order is kept as in the file.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvyn::platform {

class IniFile {
 public:
  // Reads `path`. A missing or unreadable file gives an empty document and
  // returns the system error (ENOENT for a missing one); the document stays usable.
  Status Load(const std::filesystem::path& path);
  void Parse(std::string_view text);

  // Section names in file order, each once (the first spelling wins).
  std::vector<std::string> SectionNames() const;

  // The lines of a section (all of its sections when the name repeats), in
  // file order, without comments, blank lines and surrounding blanks. Empty
  // when the section is missing.
  std::vector<std::string> SectionLines(std::string_view section) const;

  // The value of the first "key=value" line of the section whose key (up to
  // the first '=', blanks trimmed) equals `key`; nullopt when absent.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

  // Replaces the first line for `key` in the section, or appends one; creates
  // the section at the end when missing.
  void SetValue(std::string_view section, std::string_view key, std::string_view value);
  // Removes every line for `key` in the section. True when one was removed.
  bool RemoveValue(std::string_view section, std::string_view key);

  // The document as text: BOM, CR LF line ends.
  std::string Serialize() const;
  // Writes the document to `path` through a temporary file and a rename, so
  // a reader never sees half a file. Creates missing parent folders.
  Status Save(const std::filesystem::path& path) const;

 private:
  struct Section {
    std::string name;  // empty for the lines before the first header
    bool hasHeader = false;
    std::vector<std::string> lines;  // raw lines, comments and blanks included
  };
  Section* FindSection(std::string_view name);
  std::vector<Section> sections_;
};

// Splits `line` at its first '=' into key and value, trimming blanks around
// both. A line without '=' is all key with an empty value.
std::pair<std::string, std::string> SplitAtFirstEquals(std::string_view line);

}  // namespace corvyn::platform
