// Small builder of application databases for the decoder tests: tables with
// the column count and positions of the phone's databases (columns the
// decoders do not read are filled with plausible names), rows placed by
// column number, and deletes that leave the row bytes in the file
// (secure_delete off) for the carving to find. Uses the SQLite library.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;

namespace corvyn::testing {

using FixtureValue = std::variant<std::nullptr_t, int64_t, double, std::string>;
using FixtureRow = std::map<int, FixtureValue>;  // column number -> value; others NULL

// A fresh temporary folder, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

class FixtureDb {
 public:
  // Creates (replacing) the database file; 4096-byte pages, no WAL.
  explicit FixtureDb(const std::filesystem::path& path);
  ~FixtureDb();
  FixtureDb(const FixtureDb&) = delete;
  FixtureDb& operator=(const FixtureDb&) = delete;

  void Exec(const std::string& sql);

  // CREATE TABLE name (c0 INTEGER PRIMARY KEY, c1, ..., c<count-1>).
  void CreateTable(const std::string& name, int columnCount);

  // Inserts a row; rowid 0 lets SQLite choose. Returns the rowid.
  int64_t Insert(const std::string& table, const FixtureRow& row, int64_t rowid = 0);
  void Delete(const std::string& table, int64_t rowid);

  // Closes the connection (the file is complete afterwards).
  void Close();

 private:
  sqlite3* handle_ = nullptr;
  std::map<std::string, int> columnCounts_;
};

// The iOS 6-8 era tables the decoders read, with their real column counts.
void CreateMessageTables(FixtureDb& db);     // message 38, handle 5, attachment 9, message_attachment_join 2
void CreateAddressBookTable(FixtureDb& db);  // ABPersonFullTextSearch_content 24
void CreateOldCallTable(FixtureDb& db);      // call 13
void CreateCallRecordTable(FixtureDb& db);   // ZCALLRECORD 17
void CreateNoteTables(FixtureDb& db);        // ZNOTE 19, ZNOTEBODY 7
// WhatsApp with ZWAMESSAGE of `messageColumns` (27, 28 or 29) columns;
// ZWACHATSESSION 20 and ZWAGROUPMEMBER 11 for 28 and 29, else 18 and 10.
void CreateWhatsAppTables(FixtureDb& db, int messageColumns);

// Copies a read-only sample (with its -wal/-shm when present) into `folder`
// and returns the copy's path.
std::filesystem::path CopySample(const std::filesystem::path& sample, const std::filesystem::path& folder);

// Root of the external sample data, or empty when it is absent.
std::filesystem::path ExternalTestData();

}  // namespace corvyn::testing
