// Databases of the newer systems' layouts, built with known live and deleted
// rows: a call log whose ZCALLRECORD has the 18 columns of iOS 9 or the 21 of
// iOS 10 and later, and an address book with ABPerson and ABMultiValue.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/sqlite_fixtures/AppSchemas.h"
#include "tests/support/sqlite_fixtures/SqliteFixture.h"

namespace corvyn::testing {

// ZCALLRECORD with 18 or 21 columns (declared order as on the phone), rows
// of every call type, ZADDRESS as BLOB and as TEXT, ZDATE as REAL and as
// INTEGER; some rows deleted (see the ground truth). nullptr on failure.
std::unique_ptr<FixtureDatabase> BuildModernCallHistory(const std::filesystem::path& path, int columns,
                                                        std::string* error = nullptr);

// ABPerson (51 columns), ABMultiValue, ABMultiValueLabel and the 26-column
// ABPersonFullTextSearch_content; persons with phones (property 3), e-mail
// addresses (4) and labels; one person and one phone value deleted.
std::unique_ptr<FixtureDatabase> BuildModernAddressBook(const std::filesystem::path& path,
                                                        std::string* error = nullptr);

// WhatsApp ChatStorage.sqlite with the tables of the app's iOS 15 version
// (ZWAMESSAGE with 34 columns): a one-to-one chat and a group whose members
// have no group name (one has a push name), messages with text and one with a
// media item; two messages deleted (see the ground truth).
std::unique_ptr<FixtureDatabase> BuildModernChatStorage(const std::filesystem::path& path,
                                                        std::string* error = nullptr);

// The declared columns of `table` in the database file at `database` (name
// and type; the INTEGER PRIMARY KEY column typed so, NOT NULL kept), so a
// table one of the builders above writes can be filled again at any size.
// No columns when the file or the table cannot be read.
TableSchema TableSchemaOf(const std::filesystem::path& database, const std::string& table);

// Creates the database at `path` with the one table, fills it with `rows`
// rows made by MakeRow (customize, when given, may change each row before
// it is inserted), then deletes, each kind in its own transaction: every
// fifth inner leaf page whole (its page goes to the free list), a run of
// four neighbouring rows on every fifth other page, and rows picked at
// random (from `randomStart`) among the rest, about one in eight. Secure delete is
// off. Returns the closed database with its ground truth; nullptr and
// *error on failure.
std::unique_ptr<FixtureDatabase> BuildTableWithDeletions(
    const std::filesystem::path& path, const TableSchema& table, int rows, uint32_t randomStart,
    std::string* error = nullptr,
    const std::function<void(const TableSchema&, int64_t, std::vector<FixtureValue>&)>& customize = nullptr);

}  // namespace corvyn::testing
