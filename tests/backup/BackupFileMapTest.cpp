#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "backup/BackupFileMap.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {

using testsupport::EncodeManifest;
using testsupport::EncodeManifestRecord;
using testsupport::ManifestRecordPlan;

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

ManifestRecordPlan File(std::string domain, std::string path) {
  ManifestRecordPlan record;
  record.domain = std::move(domain);
  record.path = std::move(path);
  record.contents = "payload";
  return record;
}

TEST(StoredName, KnownDatabasesHaveTheirWellKnownNames) {
  const struct {
    const char* key;
    const char* storedName;
  } cases[] = {
      {"HomeDomain-Library/SMS/sms.db", "3d0d7e5fb2ce288813306e4d4636395e047a3d28"},
      {"HomeDomain-Library/AddressBook/AddressBook.sqlitedb", "31bb7ba8914766d4ba40d6dfb6113c8b614be442"},
      {"HomeDomain-Library/CallHistoryDB/CallHistory.storedata", "5a4935c78a5255723f707230a451d79c540d2741"},
      {"WirelessDomain-Library/CallHistory/call_history.db", "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca"},
      {"HomeDomain-Library/Notes/notes.sqlite", "ca3bc056d4da0bbf88b5fb3be254f3b7147e639c"},
      {"MyTestDomain-Media/Test.txt", "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StoredNameOf(c.key), c.storedName) << c.key;
    EXPECT_TRUE(IsStoredName(StoredNameOf(c.key)));
  }
}

TEST(StoredName, OnlyFortyLowerCaseHexDigitsCount) {
  EXPECT_TRUE(IsStoredName("3d0d7e5fb2ce288813306e4d4636395e047a3d28"));
  for (const char* bad :
       {"3D0D7E5FB2CE288813306E4D4636395E047A3D28", "3d0d7e5fb2ce288813306e4d4636395e047a3d2",
        "../d7e5fb2ce288813306e4d4636395e047a3d28", "", "3d0d7e5fb2ce288813306e4d4636395e047a3d28a"}) {
    EXPECT_FALSE(IsStoredName(bad)) << bad;
  }
}

TEST(ParseBackupFileMap, KeepsFilesAndLinksButNotDirectoriesOrIncompleteKeys) {
  ManifestRecordPlan directory = File("HomeDomain", "Library/SMS");
  directory.mode = testsupport::kModeDirectory;
  ManifestRecordPlan link = File("HomeDomain", "Library/link");
  link.mode = testsupport::kModeSymlink;
  link.linkTarget = "/var/mobile/x";
  ManifestRecordPlan absentPath = File("HomeDomain", "");
  absentPath.absentPath = true;
  ManifestRecordPlan emptyDomain = File("", "Library/orphan");
  ManifestRecordPlan withProperties = File("MediaDomain", "Media/a.jpg");
  withProperties.properties = {
      {"com.apple.assetsd.x", std::string("\x00\x01", 2)}, {"b", ""}, {"c", "three"}};

  const std::string manifest =
      EncodeManifest({File("HomeDomain", "Library/SMS/sms.db"), directory, link, absentPath, emptyDomain,
                      withProperties, File("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG")});
  BackupFileMap map;
  FileMapReadReport report;
  ASSERT_EQ(ParseBackupFileMap(Bytes(manifest), map, &report), kOk);
  EXPECT_EQ(report.records, 7u);
  EXPECT_EQ(report.truncatedBytes, 0u);
  std::vector<std::string> keys;
  for (const auto& entry : map) {
    keys.push_back(entry.key);
    EXPECT_EQ(entry.storedName, StoredNameOf(entry.key));
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"HomeDomain-Library/SMS/sms.db", "HomeDomain-Library/link",
                                            "MediaDomain-Media/a.jpg",
                                            "CameraRollDomain-Media/DCIM/100APPLE/IMG_0001.JPG"}));
}

TEST(ParseBackupFileMap, RejectsWhatIsNotAManifestAndLeavesTheMapAlone) {
  for (const std::string& bytes : {std::string(), std::string("mbd"), std::string("MBDB\x05\x00", 6),
                                   std::string("SQLite format 3\0", 16)}) {
    BackupFileMap map = {{"kept-key", "kept"}};
    EXPECT_EQ(ParseBackupFileMap(Bytes(bytes), map), kInvalidData);
    EXPECT_EQ(map.size(), 1u);
  }
  BackupFileMap map;
  EXPECT_EQ(ParseBackupFileMap(Bytes(std::string("mbdb\x05\x00", 6)), map), kOk);
  EXPECT_TRUE(map.empty());
}

// Cutting a two-record manifest anywhere never reads past the end and keeps
// exactly the records that were complete before the cut.
TEST(ParseBackupFileMap, CutAnywhereKeepsOnlyCompleteRecords) {
  ManifestRecordPlan second = File("MediaDomain", "Media/b.png");
  second.properties = {{"name", "value"}};
  const std::string first = EncodeManifestRecord(File("HomeDomain", "Library/a.db"));
  const std::string whole = EncodeManifest({File("HomeDomain", "Library/a.db"), second});
  for (std::size_t cut = 4; cut < whole.size(); ++cut) {
    // A copy of exactly `cut` bytes, so the sanitizer sees any over-read.
    const std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    BackupFileMap map;
    FileMapReadReport report;
    ASSERT_EQ(ParseBackupFileMap(bytes, map, &report), kOk) << cut;
    const std::size_t expected = cut >= 6 + first.size() ? 1 : 0;
    EXPECT_EQ(map.size(), expected) << "cut at " << cut;
    EXPECT_EQ(report.records, expected);
    const bool atRecordBoundary = cut == 6 || cut == 6 + first.size();
    EXPECT_EQ(report.truncatedBytes > 0, !atRecordBoundary) << cut;
  }
}

TEST(ParseBackupFileMap, HostileLengthsStopTheReadSafely) {
  const std::string header("mbdb\x05\x00", 6);
  const std::string goodRecord = EncodeManifestRecord(File("HomeDomain", "Library/a.db"));
  std::string hugeString = header + goodRecord + std::string("\xFF\xFE", 2) + "abc";
  std::string manyProperties = header + goodRecord + EncodeManifestRecord(File("D", "p"));
  manyProperties[manyProperties.size() - 1] = '\xFF';  // 255 properties, none present
  for (const std::string& bytes : {hugeString, manyProperties}) {
    const std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    BackupFileMap map;
    EXPECT_EQ(ParseBackupFileMap(copy, map), kOk);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0].key, "HomeDomain-Library/a.db");
  }
}

TEST(ReadBackupFileMap, FileErrorsHaveTheirOwnStatusAndEntriesAreAppended) {
  const corvyn::testing::TempFolder temp("filemap-read");
  const std::filesystem::path& folder = temp.Path();
  BackupFileMap map;
  EXPECT_EQ(ReadBackupFileMap("", map), kInvalidData);
  EXPECT_EQ(ReadBackupFileMap(folder / "missing.mbdb", map), kFileMapUnopenable);
  EXPECT_EQ(ReadBackupFileMap(folder, map), kFileMapUnopenable);

  const std::string bytes = EncodeManifest({File("HomeDomain", "Library/SMS/sms.db")});
  std::ofstream(folder / "Manifest.mbdb", std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  map = {{"earlier", "entry"}};
  ASSERT_EQ(ReadBackupFileMap(folder / "Manifest.mbdb", map), kOk);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map[1].storedName, "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
}

}  // namespace
}  // namespace corvyn::backup
