#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/BackupFileMap.h"
#include "backup/ManifestDbReader.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;
using testsupport::StoredNameFor;

// Runs statements on a database the test owns.
void Execute(const fs::path& database, const std::string& sql) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &handle), SQLITE_OK);
  char* message = nullptr;
  const int code = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message);
  const std::string words = message ? message : "";
  sqlite3_free(message);
  sqlite3_close(handle);
  ASSERT_EQ(code, SQLITE_OK) << words;
}

TEST(ManifestDb, KeepsRegularFilesWithTheirKeysAndStoredNames) {
  const corvyn::testing::TempFolder folder("manifest-db");
  testsupport::BackupBuilder builder;
  builder.AddFile("HomeDomain", "Library/SMS/sms.db", "sqlite bytes");
  builder.AddDirectory("HomeDomain", "Library/SMS");
  builder.AddLink("HomeDomain", "Library/link", "/private/var/x");
  builder.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", "jpeg bytes");
  ASSERT_EQ(builder.WriteNewerLayout(folder.Path()), kOk);
  const fs::path manifest = folder / "Manifest.db";
  // Rows no stored file can belong to, and rows whose fileID would lead
  // outside the folder.
  Execute(manifest,
          "INSERT INTO Files VALUES ('" + StoredNameFor("HomeDomain", "") +
              "', 'HomeDomain', '', 2, NULL);"
              "INSERT INTO Files VALUES (NULL, NULL, NULL, 16, NULL);"
              "INSERT INTO Files VALUES ('../../../../etc/passwd', 'HomeDomain', 'Library/escape', 1, NULL);"
              "INSERT INTO Files VALUES ('" +
              std::string(40, 'g') +
              "', 'HomeDomain', 'Library/notHex', 1, NULL);"
              "INSERT INTO Files VALUES ('" +
              StoredNameFor("MediaDomain", "") +
              "', 'MediaDomain', '', 1, NULL);"
              "INSERT INTO Files VALUES ('" +
              std::string(40, 'A') + "', 'HomeDomain', 'Library/Upper', 1, X'00');");
  const auto before = testsupport::HashFolder(folder.Path());

  BackupFileMap map;
  map.push_back({"kept-entry", std::string(40, '0')});
  ASSERT_EQ(ReadManifestDb(manifest, map), kOk);
  std::vector<std::pair<std::string, std::string>> expected = {
      {"HomeDomain-Library/SMS/sms.db", StoredNameFor("HomeDomain", "Library/SMS/sms.db")},
      {"HomeDomain-Library/Upper", std::string(40, 'a')},
      {"CameraRollDomain-Media/DCIM/100APPLE/IMG_0001.JPG",
       StoredNameFor("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG")},
  };
  // Appended after the entries already there, in fileID order.
  std::sort(expected.begin(), expected.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  expected.insert(expected.begin(), {"kept-entry", std::string(40, '0')});
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& entry : map) got.emplace_back(entry.key, entry.storedName);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(testsupport::HashFolder(folder.Path()), before) << "reading wrote into the backup";
  EXPECT_FALSE(fs::exists(folder / "Manifest.db-journal"));
  EXPECT_FALSE(fs::exists(folder / "Manifest.db-wal"));
}

TEST(ManifestDb, StoredFilesLieInTheSubfolderOfTheirFirstTwoDigits) {
  const std::string name = StoredNameFor("HomeDomain", "Library/SMS/sms.db");
  EXPECT_EQ(StoredFilePath("/backup", StoredLayout::kPrefixFolders, name), fs::path("/backup/3d") / name);
  EXPECT_EQ(StoredFilePath("/backup", StoredLayout::kFlat, name), fs::path("/backup") / name);

  const corvyn::testing::TempFolder folder("manifest-db-layout");
  testsupport::BackupBuilder builder;
  builder.AddFile("HomeDomain", "Library/SMS/sms.db", "sqlite bytes");
  ASSERT_EQ(builder.WriteNewerLayout(folder.Path()), kOk);
  BackupFileMap map;
  ASSERT_EQ(ReadManifestDb(folder / "Manifest.db", map), kOk);
  ASSERT_EQ(map.size(), 1u);
  const fs::path stored = StoredFilePath(folder.Path(), StoredLayout::kPrefixFolders, map[0].storedName);
  std::ifstream file(stored, std::ios::binary);
  std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(contents, "sqlite bytes") << stored;
}

TEST(ManifestDb, AFileThatIsNoFileListIsRefusedInWords) {
  const corvyn::testing::TempFolder folder("manifest-db-bad");
  BackupFileMap map;
  EXPECT_EQ(ReadManifestDb(folder / "Manifest.db", map), kFileMapUnopenable);
  EXPECT_EQ(ReadManifestDb(folder.Path(), map), kFileMapUnopenable);

  std::ofstream(folder / "Manifest.db") << "SQLite format 3 but no pages";
  Status status = ReadManifestDb(folder / "Manifest.db", map);
  EXPECT_EQ(status, kInvalidData);
  EXPECT_NE(status.detail().find("Manifest.db cannot be read as a database"), std::string::npos) << status;

  const fs::path other = folder / "other.db";
  Execute(other, "CREATE TABLE Something (a);");
  status = ReadManifestDb(other, map);
  EXPECT_EQ(status, kInvalidData);
  EXPECT_NE(status.detail().find("no such table: Files"), std::string::npos) << status;
  EXPECT_TRUE(map.empty());
}

}  // namespace
}  // namespace corvyn::backup
