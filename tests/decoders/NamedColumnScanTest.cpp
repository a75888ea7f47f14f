// Records carved from a live leaf's unallocated space by the scan that looks
// columns up by name: bytes that only look like a record (zeros behind a
// stale pointer word) and records whose wanted values a later cell cut are
// not handed over as rows; a record whose cut values are unwanted is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoders/NamedColumnScan.h"
#include "sqlite/RecordDecodersCommon.h"
#include "tests/support/sqlite_fixtures/PagePatch.h"
#include "tests/support/sqlite_fixtures/SqliteFixture.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

namespace fx = corvyn::testing;

TEST(NamedColumnScan, GapBytesThatAreNoWholeRowAreNotHandedOver) {
  struct Case {
    const char* what;
    // Written into the table's leaf so that they end `below` bytes under its
    // lowest cell; a record that runs on into the cell loses its last bytes
    // to it.
    std::vector<uint8_t> bytes;
    std::size_t below;
    std::vector<std::string> deleted;  // "jid|name" of the rows handed over as deleted
  };
  const std::vector<uint8_t> jidAndName = {'j', 'i', 'd', '-', '9', 'A', 'n', 'n', ' ', 'L'};
  const auto freed = [&](uint8_t size, std::vector<uint8_t> types, std::vector<uint8_t> rest) {
    std::vector<uint8_t> bytes = {0x00, 0x00, 0x00, size};
    bytes.insert(bytes.end(), types.begin(), types.end());
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
  };
  std::vector<uint8_t> bodies = {0x05};
  bodies.insert(bodies.end(), jidAndName.begin(), jidAndName.end());
  const std::vector<Case> cases = {
      // A pointer word left in the gap reads as a freeblock header
      // (next 0, size 64); the zeros after it as five NULL serial types.
      {"zeros behind a stale pointer word", {0x00, 0x00, 0x00, 0x40, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {}},
      // Freed cells whose freeblock ran up to the lowest cell, which was then
      // written over their last byte: the name's "e", or the count.
      {"the name cut by the cell written after it", freed(20, {0x00, 0x01, 0x17, 0x19, 0x00}, bodies), 0, {}},
      {"only the unwanted count cut",
       [&] {
         std::vector<uint8_t> whole = bodies;
         whole.push_back('e');
         return freed(21, {0x00, 0x01, 0x17, 0x19, 0x01}, whole);
       }(),
       0,
       {"jid-9|Ann Le"}},
      {"a whole freed record below the cells",
       [&] {
         std::vector<uint8_t> whole = bodies;
         whole.push_back('e');
         return freed(21, {0x00, 0x01, 0x17, 0x19, 0x00}, whole);
       }(),
       8,
       {"jid-9|Ann Le"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fx::TempFolder folder("named-scan");
    const std::filesystem::path file = folder.Path() / "store.db";
    auto db = fx::FixtureDatabase::Create(file);
    ASSERT_TRUE(db);
    ASSERT_TRUE(
        db->Exec("CREATE TABLE ZCHAT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZJID TEXT, ZNAME TEXT,"
                 " ZCOUNT INTEGER);"
                 "INSERT INTO ZCHAT VALUES (1, 3, 'jid-1', 'Bea Moor', 4);"
                 "INSERT INTO ZCHAT VALUES (2, 3, 'jid-2', 'Cai Ortiz', 5);"))
        << db->LastError();
    db->Close();
    // The table's only page is page 2.
    std::vector<uint8_t> bytes = fx::ReadFileBytes(file);
    const std::size_t page = 4096;
    ASSERT_GE(bytes.size(), 2 * page);
    const std::size_t contentStart = (std::size_t{bytes[page + 5]} << 8) | bytes[page + 6];
    const std::size_t at = page + contentStart - c.below - c.bytes.size();
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    ASSERT_TRUE(fx::WriteFileBytes(file, bytes));

    sqlite::SqliteDbReader reader;
    ASSERT_EQ(reader.Open(file), kOk);
    std::vector<std::string> live, deleted;
    ASSERT_EQ(ScanNamedColumns(reader, "ZCHAT", {{"ZJID"}, {"ZNAME"}},
                               [&](const NamedRow& row) {
                                 (row.deleted != 0 ? deleted : live)
                                     .push_back(sqlite::detail::TextValue(row.columns[0]) + "|" +
                                                sqlite::detail::TextValue(row.columns[1]));
                                 return true;
                               }),
              kOk);
    EXPECT_EQ(live, (std::vector<std::string>{"jid-1|Bea Moor", "jid-2|Cai Ortiz"}));
    EXPECT_EQ(deleted, c.deleted);
  }
}

}  // namespace
}  // namespace corvyn::decoders
