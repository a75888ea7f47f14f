// Manifest.mbdb records (backup/mbdb): the reader and writer shared by the
// engine and the decryption program.
#include <gtest/gtest.h>

#include <cstdlib>

#include "backup/mbdb/MbdbRecord.h"
#include "tests/tools/BackupFolderFixture.h"

namespace corvyn::testing {
namespace {
namespace fs = std::filesystem;

std::span<const std::uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(MbdbRecord, StoredNamesAreTheSha1OfDomainDashPath) {
  const struct {
    const char* domain;
    const char* path;
    const char* storedName;
  } cases[] = {
      {"HomeDomain", "Library/SMS/sms.db", "3d0d7e5fb2ce288813306e4d4636395e047a3d28"},
      {"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb", "31bb7ba8914766d4ba40d6dfb6113c8b614be442"},
      {"WirelessDomain", "Library/CallHistory/call_history.db", "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca"},
      {"MyTestDomain", "Media/Test.txt", "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc"},
  };
  for (const auto& c : cases) {
    backup::MbdbRecord record;
    record.domain = c.domain;
    record.path = c.path;
    EXPECT_EQ(record.StoredName(), c.storedName) << c.path;
  }
}

TEST(MbdbRecord, PyiosbackupManifestReadsItsOneEncryptedRecord) {
  const char* env = std::getenv("CORVYN_TESTDATA");
  const fs::path file =
      fs::path(env ? env : CORVYN_EXTERNAL_TESTDATA) / "matan1008__pyiosbackup/extracted/Manifest.mbdb";
  if (!fs::exists(file)) GTEST_SKIP() << "external test data not found at " << file;
  const std::string bytes = ReadBytes(file);
  std::vector<backup::MbdbRecord> records;
  ASSERT_EQ(backup::ParseMbdb(AsBytes(bytes), records), kOk);
  ASSERT_EQ(records.size(), 1u);
  const auto& record = records[0];
  EXPECT_EQ(*record.domain, "MyTestDomain");
  EXPECT_EQ(*record.path, "Media/Test.txt");
  EXPECT_FALSE(record.linkTarget);
  EXPECT_FALSE(record.dataHash);
  ASSERT_TRUE(record.encryptionKey);
  EXPECT_EQ(record.encryptionKey->size(), backup::kWrappedFileKeySize);
  EXPECT_EQ(record.encryptionKey->substr(0, 4), std::string("\x04\0\0\0", 4));
  EXPECT_EQ(record.mode, 0100755);
  EXPECT_EQ(record.inode, 4824u);
  EXPECT_EQ(record.userId, 501u);
  EXPECT_EQ(record.time1, 1628082463u);
  EXPECT_EQ(record.time3, 1627974948u);
  EXPECT_EQ(record.size, 9u);
  EXPECT_EQ(record.protectionClass, 4);

  // Written back it is the same bytes.
  std::string again = backup::MbdbHeader();
  ASSERT_EQ(backup::AppendMbdbRecord(record, again), kOk);
  EXPECT_EQ(again, bytes);
}

TEST(MbdbRecord, AbsentEmptyAndPropertyStringsSurviveARoundTrip) {
  backup::MbdbRecord withProperties;
  withProperties.domain = "AppDomain-com.example";
  withProperties.path = "Documents/a.bin";
  withProperties.linkTarget = "";  // empty, not absent
  withProperties.properties = {{"com.apple.a", std::string("\0\1", 2)}, {"b", std::nullopt}, {"", "c"}};
  backup::MbdbRecord directory;
  directory.domain = "HomeDomain";
  directory.path = "Library";
  directory.mode = 0x41ED;
  backup::MbdbRecord noPath;
  noPath.domain = "HomeDomain";

  std::string bytes = backup::MbdbHeader();
  for (const auto* record : {&withProperties, &directory, &noPath})
    ASSERT_EQ(backup::AppendMbdbRecord(*record, bytes), kOk);
  std::vector<backup::MbdbRecord> records;
  ASSERT_EQ(backup::ParseMbdb(AsBytes(bytes), records), kOk);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].linkTarget, std::optional<std::string>(""));
  EXPECT_FALSE(records[0].dataHash);
  EXPECT_EQ(records[0].properties, withProperties.properties);
  EXPECT_TRUE(records[0].HasStoredFile());
  EXPECT_FALSE(records[1].HasStoredFile());  // directory
  EXPECT_FALSE(records[2].HasStoredFile());  // absent path
  EXPECT_FALSE(records[2].path);
}

TEST(MbdbRecord, DamagedManifestsKeepTheRecordsBeforeTheDamage) {
  backup::MbdbRecord record;
  record.domain = "HomeDomain";
  record.path = "Library/SMS/sms.db";
  record.encryptionKey = std::string(44, 'k');
  record.properties = {{"p", "v"}};
  std::string one;
  ASSERT_EQ(backup::AppendMbdbRecord(record, one), kOk);
  const std::string good = backup::MbdbHeader() + one + one;

  std::vector<backup::MbdbRecord> records;
  EXPECT_EQ(backup::ParseMbdb(AsBytes("mbdx\x05\x00" + one), records), kInvalidData);
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(backup::ParseMbdb(AsBytes(std::string("mbd")), records), kInvalidData);

  // A domain length that claims more bytes than remain.
  std::string overlong = good;
  overlong[6 + one.size()] = '\x7f';
  records.clear();
  EXPECT_EQ(backup::ParseMbdb(AsBytes(overlong), records), kInvalidData);
  EXPECT_EQ(records.size(), 1u);

  // Cut at every length: never a read past the end, and the complete records
  // before the cut are kept.
  for (std::size_t length = 6; length < good.size(); ++length) {
    records.clear();
    std::size_t damaged = 1;
    const Status status = backup::ParseMbdb(AsBytes(good.substr(0, length)), records, &damaged);
    const std::size_t complete = (length - 6) / one.size();
    EXPECT_EQ(records.size(), complete) << length;
    EXPECT_EQ(damaged, (length - 6) % one.size()) << length;
    EXPECT_EQ(status, (length - 6) % one.size() == 0 ? kOk : kInvalidData) << length;
  }
}

TEST(MbdbRecord, UnencodableRecordsAreRefused) {
  backup::MbdbRecord longString;
  longString.domain = std::string(0xFFFF, 'a');
  backup::MbdbRecord manyProperties;
  manyProperties.properties.resize(256);
  std::string out;
  EXPECT_EQ(backup::AppendMbdbRecord(longString, out), kInvalidData);
  EXPECT_EQ(backup::AppendMbdbRecord(manyProperties, out), kInvalidData);
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace corvyn::testing
