// Small helpers for the decryption tests: whole-file reads and writes, a
// plain old-format backup builder and a way to run the "tool" program with a
// given standard input.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/mbdb/MbdbRecord.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::testing {

void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& path);
// Deterministic filler of `size` bytes that differs with `salt`.
std::string PatternBytes(std::size_t size, unsigned salt);

// Builds a plain backup folder: Info.plist, Manifest.plist (IsEncrypted
// false), Manifest.mbdb and each file under its stored name.
class PlainBackupBuilder {
 public:
  // Adds a regular file record and its stored file. Returns the stored name.
  std::string AddFile(const std::string& domain, const std::string& path, const std::string& contents,
                      std::uint8_t protectionClass = 3);
  void AddDirectory(const std::string& domain, const std::string& path);
  // A record whose stored file is left out of the folder.
  void AddMissingFile(const std::string& domain, const std::string& path);
  void Write(const std::filesystem::path& folder) const;

  const std::vector<backup::MbdbRecord>& records() const { return records_; }

 private:
  std::vector<backup::MbdbRecord> records_;
  std::vector<std::pair<std::string, std::string>> files_;  // stored name, contents
};

struct ToolRun {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

// Runs build*/bin/tool with `args` (each passed as one word) and `input` on
// its standard input.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& input);
std::filesystem::path ToolPath();

}  // namespace corvyn::testing
