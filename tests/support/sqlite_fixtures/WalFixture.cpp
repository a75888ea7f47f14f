#include "tests/support/sqlite_fixtures/WalFixture.h"

#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace corvyn::testing {

std::filesystem::path WithSuffix(const std::filesystem::path& path, const char* suffix) {
  std::filesystem::path result = path;
  result += suffix;
  return result;
}

void CopyWithCompanions(const std::filesystem::path& source, const std::filesystem::path& target) {
  const auto overwrite = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::copy_file(source, target, overwrite);
  for (const char* suffix : {"-wal", "-shm"}) {
    std::filesystem::remove(WithSuffix(target, suffix));
    if (std::filesystem::exists(WithSuffix(source, suffix)))
      std::filesystem::copy_file(WithSuffix(source, suffix), WithSuffix(target, suffix), overwrite);
  }
  for (const auto& file : {target, WithSuffix(target, "-wal"), WithSuffix(target, "-shm")}) {
    if (std::filesystem::exists(file))
      std::filesystem::permissions(file,
                                   std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
}

std::map<int64_t, std::vector<std::string>> LibraryRows(const std::filesystem::path& database,
                                                        const std::string& table) {
  const std::filesystem::path copy = WithSuffix(database, ".library");
  CopyWithCompanions(database, copy);
  std::map<int64_t, std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    const std::string sql = "SELECT rowid, * FROM \"" + table + "\"";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string>& row = rows[sqlite3_column_int64(statement, 0)];
        for (int column = 1; column < sqlite3_column_count(statement); ++column) {
          const auto* text = sqlite3_column_text(statement, column);
          row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(WithSuffix(copy, suffix));
  return rows;
}

std::map<int64_t, std::string> LibraryColumn(const std::filesystem::path& database, const std::string& table,
                                             std::size_t column) {
  std::map<int64_t, std::string> values;
  for (const auto& [rowid, row] : LibraryRows(database, table)) values[rowid] = row.at(column);
  return values;
}

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

namespace {

uint32_t BigEndian(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

void PutBigEndian(unsigned char* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// SQLite's log checksum, continued over `size` bytes (a multiple of 8).
void Checksum(uint32_t sum[2], const unsigned char* bytes, std::size_t size, bool bigEndianWords) {
  for (std::size_t i = 0; i < size; i += 8) {
    uint32_t words[2];
    for (int w = 0; w < 2; ++w) {
      const unsigned char* p = bytes + i + 4 * w;
      words[w] = bigEndianWords ? BigEndian(p)
                                : static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 |
                                      static_cast<uint32_t>(p[1]) << 8 | p[0];
    }
    sum[0] += words[0] + sum[1];
    sum[1] += words[1] + sum[0];
  }
}

}  // namespace

bool ResealWal(const std::filesystem::path& wal, bool bigEndianChecksums) {
  std::fstream file(wal, std::ios::binary | std::ios::in | std::ios::out);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() < 32) return false;
  PutBigEndian(bytes.data(), bigEndianChecksums ? 0x377f0683 : 0x377f0682);
  uint32_t sum[2] = {0, 0};
  Checksum(sum, bytes.data(), 24, bigEndianChecksums);
  PutBigEndian(&bytes[24], sum[0]);
  PutBigEndian(&bytes[28], sum[1]);
  const std::size_t pageSize = BigEndian(&bytes[8]);
  for (std::size_t offset = 32; pageSize != 0 && offset + 24 + pageSize <= bytes.size();
       offset += 24 + pageSize) {
    unsigned char* frame = &bytes[offset];
    if (BigEndian(frame + 8) != BigEndian(&bytes[16]) || BigEndian(frame + 12) != BigEndian(&bytes[20]))
      break;
    Checksum(sum, frame, 8, bigEndianChecksums);
    Checksum(sum, frame + 24, pageSize, bigEndianChecksums);
    PutBigEndian(frame + 16, sum[0]);
    PutBigEndian(frame + 20, sum[1]);
  }
  file.clear();
  file.seekp(0);
  return static_cast<bool>(
      file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())));
}

uint32_t ReadNumber(const std::filesystem::path& file, uint64_t offset) {
  std::ifstream stream(file, std::ios::binary);
  unsigned char bytes[4] = {};
  stream.seekg(static_cast<std::streamoff>(offset));
  stream.read(reinterpret_cast<char*>(bytes), 4);
  return BigEndian(bytes);
}

bool WriteNumber(const std::filesystem::path& file, uint64_t offset, uint32_t value) {
  std::fstream stream(file, std::ios::binary | std::ios::in | std::ios::out);
  unsigned char bytes[4];
  PutBigEndian(bytes, value);
  return stream.seekp(static_cast<std::streamoff>(offset)) &&
         stream.write(reinterpret_cast<const char*>(bytes), 4);
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
