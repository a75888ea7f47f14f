// Databases in WAL mode whose write-ahead log is kept for the reader: the
// SQLite library writes every change to `<file>-wal` and never checkpoints
// it, and SnapshotWithWal copies the file and its log as they stand (closing
// the connection would checkpoint the log into the file and remove it). Also
// small editors of a copied log for the damaged and foreign cases.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/sqlite_fixtures/SqliteFixture.h"

namespace corvyn::testing {

// Switches an open fixture database to WAL mode with automatic checkpoints
// off; everything committed before stays in the main file. With
// spillEveryPage, the page cache holds almost nothing, so a long transaction
// writes frames to the log before it commits. False (and LastError) on
// failure.
bool SwitchToWal(FixtureDatabase& database, bool spillEveryPage = false);

// Copies the database file and its `-wal` (when there is one) to `target`
// and `target-wal`, replacing them. False when a copy fails.
bool SnapshotWithWal(const FixtureDatabase& database, const std::filesystem::path& target);

// `path` with `suffix` appended to its last part ("-wal", "-shm").
std::filesystem::path WithSuffix(const std::filesystem::path& path, const char* suffix);

// Copies a database and those of its `-wal` and `-shm` that exist to
// `target` (removing stale companions of the target), writable by the owner.
void CopyWithCompanions(const std::filesystem::path& source, const std::filesystem::path& target);

// rowid -> every column as text ("" for NULL) of `SELECT rowid, *`, through
// the SQLite library on a scratch copy of the database and its log (the
// library applies the log, then checkpoints and removes it on close, so the
// files given stay as they are). Empty when the table cannot be read.
std::map<int64_t, std::vector<std::string>> LibraryRows(const std::filesystem::path& database,
                                                        const std::string& table);
// One column of LibraryRows by rowid.
std::map<int64_t, std::string> LibraryColumn(const std::filesystem::path& database, const std::string& table,
                                             std::size_t column);

// Layout of a log file: its page size and number of whole frames.
struct WalLayout {
  uint32_t pageSize = 0;
  uint64_t frames = 0;
  uint64_t FrameOffset(uint64_t frame) const { return 32 + frame * (24 + static_cast<uint64_t>(pageSize)); }
};
WalLayout ReadWalLayout(const std::filesystem::path& wal);

// Rewrites the log's magic for checksums over big- or little-endian words
// and recomputes the header checksum and the running checksum of every
// frame that carries the header's salts, so that edits made to frame
// headers or pages (page number, database size) stay valid. False on
// failure.
bool ResealWal(const std::filesystem::path& wal, bool bigEndianChecksums);
// Reads or writes a big-endian 32-bit number in the file.
uint32_t ReadNumber(const std::filesystem::path& file, uint64_t offset);
bool WriteNumber(const std::filesystem::path& file, uint64_t offset, uint32_t value);

// Cuts the file to `size` bytes; false on failure.
bool TruncateFile(const std::filesystem::path& file, uint64_t size);
// XORs one byte of the file with 0xff; false on failure.
bool FlipByte(const std::filesystem::path& file, uint64_t offset);
// Replaces the first `count` bytes of `target` with those of `source`.
bool CopyPrefix(const std::filesystem::path& source, const std::filesystem::path& target, std::size_t count);

}  // namespace corvyn::testing
