#include "tests/tools/BackupFolderFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace corvyn::testing {
namespace fs = std::filesystem;
namespace {

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

backup::MbdbRecord MakeRecord(const std::string& domain, const std::string& path, std::uint16_t mode,
                              std::uint64_t size, std::uint8_t protectionClass) {
  backup::MbdbRecord record;
  record.domain = domain;
  record.path = path;
  record.dataHash = std::string(20, '\x5a');
  record.mode = mode;
  record.inode = 4824;
  record.userId = 501;
  record.groupId = 501;
  record.time1 = 1628082463;
  record.time2 = 1628082509;
  record.time3 = 1627974948;
  record.size = size;
  record.protectionClass = protectionClass;
  return record;
}

}  // namespace

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string PatternBytes(std::size_t size, unsigned salt) {
  std::string bytes(size, '\0');
  std::uint32_t state = 2166136261u ^ salt;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string PlainBackupBuilder::AddFile(const std::string& domain, const std::string& path,
                                        const std::string& contents, std::uint8_t protectionClass) {
  records_.push_back(MakeRecord(domain, path, 0x81A4, contents.size(), protectionClass));
  const std::string name = records_.back().StoredName();
  files_.emplace_back(name, contents);
  return name;
}

void PlainBackupBuilder::AddDirectory(const std::string& domain, const std::string& path) {
  records_.push_back(MakeRecord(domain, path, 0x41ED, 0, 0));
  records_.back().dataHash.reset();
}

void PlainBackupBuilder::AddMissingFile(const std::string& domain, const std::string& path) {
  records_.push_back(MakeRecord(domain, path, 0x81A4, 10, 3));
}

void PlainBackupBuilder::Write(const fs::path& folder) const {
  fs::create_directories(folder);
  std::string mbdb = backup::MbdbHeader();
  for (const auto& record : records_) ASSERT_EQ(backup::AppendMbdbRecord(record, mbdb), kOk);
  WriteBytes(folder / "Manifest.mbdb", mbdb);
  for (const auto& [name, contents] : files_) WriteBytes(folder / name, contents);
  WriteBytes(folder / "Info.plist",
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
             "<key>Device Name</key><string>Test Phone</string>"
             "<key>Product Version</key><string>9.3.5</string></dict></plist>\n");
  WriteBytes(
      folder / "Manifest.plist",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
      "<key>IsEncrypted</key><false/>"
      "<key>Lockdown</key><dict><key>ProductVersion</key><string>9.3.5</string></dict></dict></plist>\n");
}

fs::path ToolPath() {
  return fs::path(CORVYN_BIN_DIR) / "tool";
}

ToolRun RunTool(const std::vector<std::string>& args, const std::string& input) {
  TempFolder io;
  WriteBytes(io.Path() / "stdin", input);
  std::string command = ShellQuote(ToolPath().string());
  for (const auto& arg : args) command += " " + ShellQuote(arg);
  command = "(" + command + " < " + ShellQuote((io.Path() / "stdin").string()) + " > " +
            ShellQuote((io.Path() / "out").string()) + " 2>&1; echo $? > " +
            ShellQuote((io.Path() / "rc").string()) + ")";
  ToolRun run;
  if (std::system(command.c_str()) != 0) return run;
  run.output = ReadBytes(io.Path() / "out");
  run.exitCode = std::atoi(ReadBytes(io.Path() / "rc").c_str());
  return run;
}

}  // namespace corvyn::testing
