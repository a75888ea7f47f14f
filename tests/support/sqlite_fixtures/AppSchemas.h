// The iOS 6 to 8 era application tables the decoders read, with the column
// counts and positions they rely on, and ready-made builders that fill them
// with rows and delete some so that every kind of free space holds deleted
// rows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/sqlite_fixtures/SqliteFixture.h"

namespace corvyn::testing {

struct ColumnSchema {
  std::string name;
  std::string
      type;  // declared type: "INTEGER PRIMARY KEY", "INTEGER", "TEXT", "REAL", "BLOB", "TIMESTAMP", ...
};

struct TableSchema {
  std::string name;
  std::vector<ColumnSchema> columns;
  std::vector<std::string> extraSql;  // indexes and triggers created after the table

  std::string CreateSql() const;
  int ColumnIndex(const std::string& columnName) const;  // -1 when absent
};

// sms.db: message (38), handle (5), attachment (9), message_attachment_join (2).
TableSchema MessageTable();
TableSchema HandleTable();
TableSchema AttachmentTable();
TableSchema MessageAttachmentJoinTable();
// AddressBook.sqlitedb: ABPersonFullTextSearch_content (24).
TableSchema ContactContentTable();
// call_history.db `call` (13) and CallHistory.storedata ZCALLRECORD (17).
TableSchema CallTable();
TableSchema CallRecordTable();
// notes.sqlite: ZNOTE (19), ZNOTEBODY (7).
TableSchema NoteTable();
TableSchema NoteBodyTable();
// WhatsApp ChatStorage.sqlite: ZWAMESSAGE with 27, 28 or 29 columns,
// ZWACHATSESSION with 18 (message columns 27) or 20, ZWAGROUPMEMBER with 10
// or 11.
TableSchema WhatsAppMessageTable(int columnCount);
TableSchema WhatsAppChatTable(int messageColumnCount);
TableSchema WhatsAppMemberTable(int messageColumnCount);
// QQ: tb_c2cTables (1) and tb_c2cMsg_<friendId> (50).
TableSchema QqTableListTable();
TableSchema QqMessageTable(const std::string& friendId);
// WeChat: Friend (13) and Chat_<md5 of the user name> (9).
TableSchema WeChatFriendTable();
TableSchema WeChatChatTable(const std::string& md5Hex);

// The tables of one application database, in creation order.
std::vector<TableSchema> SmsTables();    // message, handle, attachment, message_attachment_join
std::vector<TableSchema> NotesTables();  // ZNOTE, ZNOTEBODY
// ZWACHATSESSION, ZWAGROUPMEMBER, ZWAMESSAGE (messageColumnCount 27, 28 or 29).
std::vector<TableSchema> WhatsAppTables(int messageColumnCount);

// `name` with `columnCount` columns c0 (INTEGER PRIMARY KEY), c1, ... of no
// declared type: the least a decoder that reads by position can be given.
TableSchema NumberedTable(const std::string& name, int columnCount);

// A plausible row number n (from 1) of the table: unique texts ("<table>
// <column> <n> ..."), dates in the era (2001-based seconds around 2014 for
// Core Data and message tables, 1970-based for `call`, QQ and WeChat),
// small non-zero integers. Primary-key columns get null (SQLite picks the
// rowid). A text column named in `longTextColumn` gets `longTextLength`
// characters when longTextLength is not 0.
std::vector<FixtureValue> MakeRow(const TableSchema& table, int64_t n, int longTextColumn = -1,
                                  std::size_t longTextLength = 0);

// How a builder deletes rows once the table is filled.
struct DeletionPlan {
  bool freeblocks = true;   // a middle row of some leaf pages (cells become freeblocks)
  bool gapAndStale = true;  // the last cell of some leaf pages (gap, stale pointer)
  bool wholePages = true;   // every row of some leaf pages (pages go to the free list)
  bool overflowRow = true;  // one row with a 5,000-character text, deleted
};

struct TableFill {
  TableSchema table;
  int rows = 200;
  int textColumn = -1;  // column used for the long text (overflow); -1: none
  DeletionPlan plan;
};

// Creates the database with the tables, fills each with `rows` rows made by
// MakeRow (customize, when given, may change each row before it is
// inserted), deletes rows by the plan, and returns the database (closed, so
// the file is complete) with its ground truth. nullptr and *error on failure.
std::unique_ptr<FixtureDatabase> BuildDatabase(
    const std::filesystem::path& path, const std::vector<TableFill>& tables,
    const FixtureOptions& options = {}, std::string* error = nullptr,
    const std::function<void(const TableSchema&, int64_t, std::vector<FixtureValue>&)>& customize = nullptr);

// Ready-made application databases (deletion plan as given, default all).
std::unique_ptr<FixtureDatabase> BuildSmsDatabase(const std::filesystem::path& path, int rows = 200,
                                                  const DeletionPlan& plan = {});
std::unique_ptr<FixtureDatabase> BuildAddressBookDatabase(const std::filesystem::path& path, int rows = 200,
                                                          const DeletionPlan& plan = {});
std::unique_ptr<FixtureDatabase> BuildCallHistoryDatabase(const std::filesystem::path& path, bool coreData,
                                                          int rows = 200, const DeletionPlan& plan = {});
std::unique_ptr<FixtureDatabase> BuildNotesDatabase(const std::filesystem::path& path, int rows = 200,
                                                    const DeletionPlan& plan = {});
std::unique_ptr<FixtureDatabase> BuildWhatsAppDatabase(const std::filesystem::path& path,
                                                       int messageColumnCount, int rows = 200,
                                                       const DeletionPlan& plan = {});
// QQ: tb_c2cTables listing tb_c2cMsg_<friendId> for each friend id, and
// those tables.
std::unique_ptr<FixtureDatabase> BuildQqDatabase(const std::filesystem::path& path,
                                                 const std::vector<std::string>& friendIds, int rows = 200,
                                                 const DeletionPlan& plan = {});
// WeChat: Friend and one Chat_<md5> table per md5 given.
std::unique_ptr<FixtureDatabase> BuildWeChatDatabase(const std::filesystem::path& path,
                                                     const std::vector<std::string>& chatMd5s, int rows = 200,
                                                     const DeletionPlan& plan = {});

}  // namespace corvyn::testing
