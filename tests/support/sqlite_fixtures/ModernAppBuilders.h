// Databases of the newer systems' layouts, built with known live and deleted
// rows: a call log whose ZCALLRECORD has the 18 columns of iOS 9 or the 21 of
// iOS 10 and later, and an address book with ABPerson and ABMultiValue.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

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

}  // namespace corvyn::testing
