#include "tests/support/sqlite_fixtures/WalFixture.h"

#include <fstream>
#include <system_error>
#include <vector>

namespace corvyn::testing {

bool SwitchToWal(FixtureDatabase& database, bool spillEveryPage) {
  if (!database.Exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0")) return false;
  return !spillEveryPage || database.Exec("PRAGMA cache_size=1; PRAGMA cache_spill=1");
}

bool SnapshotWithWal(const FixtureDatabase& database, const std::filesystem::path& target) {
  std::error_code error;
  const auto overwrite = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::path targetWal = target;
  targetWal += "-wal";
  std::filesystem::remove(targetWal, error);
  if (!std::filesystem::copy_file(database.Path(), target, overwrite, error)) return false;
  std::filesystem::path wal = database.Path();
  wal += "-wal";
  if (!std::filesystem::exists(wal, error)) return true;
  return std::filesystem::copy_file(wal, targetWal, overwrite, error);
}

WalLayout ReadWalLayout(const std::filesystem::path& wal) {
  WalLayout layout;
  std::ifstream file(wal, std::ios::binary);
  unsigned char header[32] = {};
  if (!file.read(reinterpret_cast<char*>(header), sizeof header)) return layout;
  layout.pageSize = static_cast<uint32_t>(header[8]) << 24 | static_cast<uint32_t>(header[9]) << 16 |
                    static_cast<uint32_t>(header[10]) << 8 | header[11];
  std::error_code error;
  const uint64_t size = std::filesystem::file_size(wal, error);
  if (error || layout.pageSize == 0) return layout;
  layout.frames = (size - 32) / (24 + static_cast<uint64_t>(layout.pageSize));
  return layout;
}

bool TruncateFile(const std::filesystem::path& file, uint64_t size) {
  std::error_code error;
  std::filesystem::resize_file(file, size, error);
  return !error;
}

bool FlipByte(const std::filesystem::path& file, uint64_t offset) {
  std::fstream stream(file, std::ios::binary | std::ios::in | std::ios::out);
  char byte = 0;
  if (!stream.seekg(static_cast<std::streamoff>(offset)) || !stream.get(byte)) return false;
  byte = static_cast<char>(byte ^ 0xff);
  return static_cast<bool>(stream.seekp(static_cast<std::streamoff>(offset)).put(byte));
}

bool CopyPrefix(const std::filesystem::path& source, const std::filesystem::path& target, std::size_t count) {
  std::ifstream in(source, std::ios::binary);
  std::vector<char> bytes(count);
  if (!in.read(bytes.data(), static_cast<std::streamsize>(count))) return false;
  std::fstream out(target, std::ios::binary | std::ios::in | std::ios::out);
  return static_cast<bool>(out.write(bytes.data(), static_cast<std::streamsize>(count)));
}

}  // namespace corvyn::testing
