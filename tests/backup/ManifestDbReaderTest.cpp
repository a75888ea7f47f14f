#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "backup/BackupFileMap.h"
#include "backup/FileMapSource.h"
#include "backup/ManifestDbReader.h"
#include "backup/ManifestFileBlob.h"
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

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string ToBinary(plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::string out(bytes ? bytes : "", length);
  std::free(bytes);
  plist_free(root);
  return out;
}

// A keyed archive whose $top.root names `rootUid` in `objects` (taken over).
std::string Archive(plist_t objects, uint64_t rootUid) {
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "$archiver", plist_new_string("NSKeyedArchiver"));
  plist_t top = plist_new_dict();
  plist_dict_set_item(top, "root", plist_new_uid(rootUid));
  plist_dict_set_item(root, "$top", top);
  plist_dict_set_item(root, "$objects", objects);
  return ToBinary(root);
}

// 4-byte little-endian class 3, then 40 wrapped-key bytes.
std::string WrappedKey() {
  std::string key("\x03\x00\x00\x00", 4);
  for (int i = 0; i < 40; ++i) key.push_back(static_cast<char>(0xA0 + i));
  return key;
}

TEST(ManifestFileBlob, ReadsTheMBFileOfAKeyedArchive) {
  testsupport::ManifestRecordPlan file;
  file.domain = "HomeDomain";
  file.path = "Library/SMS/sms.db";
  file.contents = std::string(1234, 'x');
  file.protectionClass = 3;
  file.lastModified = 1607000000;
  file.encryptionKey = WrappedKey();
  ManifestFileAttributes read;
  ASSERT_EQ(ParseManifestFileBlob(Bytes(testsupport::FileAttributesBlob(file)), read), kOk);
  EXPECT_TRUE(read.hasSize && read.hasProtectionClass && read.hasLastModified);
  EXPECT_EQ(read.size, 1234u);
  EXPECT_EQ(read.protectionClass, 3u);
  EXPECT_EQ(read.lastModified, 1607000000);
  EXPECT_EQ(read.encryptionKey, WrappedKey());

  // NS.data may itself be a UID naming the bytes; a record may lack keys.
  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  plist_t record = plist_new_dict();
  plist_dict_set_item(record, "Size", plist_new_uint(9));
  plist_dict_set_item(record, "EncryptionKey", plist_new_uid(2));
  plist_array_append_item(objects, record);
  plist_t data = plist_new_dict();
  plist_dict_set_item(data, "NS.data", plist_new_uid(3));
  plist_array_append_item(objects, data);
  const std::string key = WrappedKey();
  plist_array_append_item(objects, plist_new_data(key.data(), key.size()));
  ASSERT_EQ(ParseManifestFileBlob(Bytes(Archive(objects, 1)), read), kOk);
  EXPECT_TRUE(read.hasSize);
  EXPECT_EQ(read.size, 9u);
  EXPECT_FALSE(read.hasProtectionClass);
  EXPECT_FALSE(read.hasLastModified);
  EXPECT_EQ(read.encryptionKey, key);
}

TEST(ManifestFileBlob, WhatIsNoArchiveIsRefusedInWordsAndNothingIsReadOutsideTheBytes) {
  // A record whose UIDs point outside $objects or at other UIDs.
  plist_t objects = plist_new_array();
  plist_array_append_item(objects, plist_new_string("$null"));
  plist_t record = plist_new_dict();
  plist_dict_set_item(record, "Size", plist_new_uid(99));
  plist_dict_set_item(record, "ProtectionClass", plist_new_uid(2));
  plist_dict_set_item(record, "EncryptionKey", plist_new_uid(1));  // itself: no data
  plist_array_append_item(objects, record);
  plist_array_append_item(objects, plist_new_uid(2));
  ManifestFileAttributes read;
  ASSERT_EQ(ParseManifestFileBlob(Bytes(Archive(objects, 1)), read), kOk);
  EXPECT_FALSE(read.hasSize || read.hasProtectionClass);
  EXPECT_TRUE(read.encryptionKey.empty());

  plist_t xml = plist_new_dict();
  char* xmlBytes = nullptr;
  uint32_t xmlLength = 0;
  plist_to_xml(xml, &xmlBytes, &xmlLength);
  const std::string xmlText(xmlBytes, xmlLength);
  std::free(xmlBytes);
  plist_free(xml);
  plist_t strings = plist_new_array();
  plist_array_append_item(strings, plist_new_string("$null"));
  const struct {
    const char* what;
    std::string blob;
  } cases[] = {
      {"empty", ""},
      {"text", "not a property list at all"},
      {"XML", xmlText},
      {"a bare header", "bplist00"},
      {"no archive", ToBinary(plist_new_string("MBFile"))},
      {"root outside $objects", Archive(plist_new_array(), 5)},
      {"root is no record", Archive(strings, 0)},
  };
  for (const auto& c : cases) {
    ManifestFileAttributes attributes;
    attributes.size = 77;
    const Status status = ParseManifestFileBlob(Bytes(c.blob), attributes);
    EXPECT_EQ(status, kInvalidData) << c.what;
    EXPECT_NE(status.Message().find("the file attributes cannot be read"), std::string::npos) << c.what;
    EXPECT_FALSE(attributes.hasSize) << c.what;
    EXPECT_EQ(attributes.size, 0u) << c.what;
  }

  // Every cut and a flipped byte anywhere of a real blob: a result, never a
  // read outside the bytes (the sanitizer build checks the reads).
  testsupport::ManifestRecordPlan file;
  file.domain = "HomeDomain";
  file.path = "Library/a";
  file.encryptionKey = WrappedKey();
  const std::string blob = testsupport::FileAttributesBlob(file);
  for (std::size_t cut = 0; cut < blob.size(); ++cut) {
    ManifestFileAttributes attributes;
    const Status status = ParseManifestFileBlob(Bytes(blob.substr(0, cut)), attributes);
    if (status != kOk) {
      EXPECT_FALSE(attributes.hasSize) << cut;
    }
  }
  for (std::size_t at = 0; at < blob.size(); ++at) {
    std::string flipped = blob;
    flipped[at] = static_cast<char>(flipped[at] ^ 0xFF);
    ManifestFileAttributes attributes;
    (void)ParseManifestFileBlob(Bytes(flipped), attributes);
  }
}

TEST(ManifestDb, EntriesCarryTheirAttributesAndDatabaseCompanionsAreFilesOfTheirOwn) {
  const corvyn::testing::TempFolder folder("manifest-db-attributes");
  testsupport::BackupBuilder builder;
  testsupport::ManifestRecordPlan sms;
  sms.domain = "HomeDomain";
  sms.path = "Library/SMS/sms.db";
  sms.contents = std::string(4096, 's');
  sms.protectionClass = 3;
  sms.lastModified = 1607001234;
  sms.encryptionKey = WrappedKey();
  builder.AddRecord(sms);
  builder.AddFile("HomeDomain", "Library/SMS/sms.db-wal", std::string(100, 'w'));
  builder.AddFile("HomeDomain", "Library/SMS/sms.db-shm", std::string(32, 'm'));
  testsupport::ManifestRecordPlan broken;
  broken.domain = "HomeDomain";
  broken.path = "Library/Broken";
  broken.contents = "still here";
  broken.attributesBlob = "bplist00 but cut";
  builder.AddRecord(broken);
  testsupport::ManifestRecordPlan oddKey;
  oddKey.domain = "HomeDomain";
  oddKey.path = "Library/OddKey";
  oddKey.contents = "odd";
  oddKey.protectionClass = 2;  // the key says class 3
  oddKey.encryptionKey = WrappedKey();
  builder.AddRecord(oddKey);
  ASSERT_EQ(builder.WriteNewerLayout(folder.Path()), kOk);

  BackupFileMap map;
  ManifestDbReport report;
  ASSERT_EQ(ReadManifestDb(folder / "Manifest.db", map, &report), kOk);
  ASSERT_EQ(map.size(), 5u);
  const struct {
    const char* key;
    bool hasAttributes;
    uint64_t size;
  } expected[] = {
      {"HomeDomain-Library/SMS/sms.db", true, 4096},   {"HomeDomain-Library/SMS/sms.db-wal", true, 100},
      {"HomeDomain-Library/SMS/sms.db-shm", true, 32}, {"HomeDomain-Library/Broken", false, 0},
      {"HomeDomain-Library/OddKey", true, 3},
  };
  for (const auto& e : expected) {
    const auto found = std::find_if(map.begin(), map.end(),
                                    [&](const BackupFileEntry& entry) { return entry.key == e.key; });
    ASSERT_NE(found, map.end()) << e.key;
    EXPECT_EQ(found->storedName, StoredNameFor("HomeDomain", std::string(e.key).substr(11))) << e.key;
    EXPECT_EQ(found->hasAttributes, e.hasAttributes) << e.key;
    EXPECT_EQ(found->size, e.size) << e.key;
    EXPECT_EQ(fs::file_size(StoredFilePath(folder.Path(), StoredLayout::kPrefixFolders, found->storedName)),
              e.hasAttributes ? e.size : 10u)
        << e.key;
  }
  const BackupFileEntry& first = *std::find_if(
      map.begin(), map.end(), [](const BackupFileEntry& entry) { return entry.key.ends_with("sms.db"); });
  EXPECT_EQ(first.protectionClass, 3u);
  EXPECT_EQ(first.lastModified, 1607001234);
  EXPECT_EQ(first.wrappedKey, WrappedKey());
  EXPECT_EQ(report.files, 5u);
  EXPECT_EQ(report.damagedAttributes, 2u);
  std::string warnings;
  for (const auto& words : report.warnings) warnings += words + "\n";
  EXPECT_EQ(report.warnings.size(), 2u) << warnings;
  EXPECT_NE(warnings.find("HomeDomain-Library/Broken: the file attributes cannot be read"), std::string::npos)
      << warnings;
  EXPECT_NE(
      warnings.find("HomeDomain-Library/OddKey: the file's key names protection class 3, the file class 2"),
      std::string::npos)
      << warnings;
}

TEST(ManifestDb, RowsThatCouldLeadOutsideTheirDomainAreSkippedAndCounted) {
  const corvyn::testing::TempFolder folder("manifest-db-hostile");
  testsupport::BackupBuilder builder;
  builder.AddFile("HomeDomain", "Library/kept.db", "kept");
  builder.AddDirectory("HomeDomain", "Library");
  builder.AddLink("HomeDomain", "Library/link", "/private/var/x");
  ASSERT_EQ(builder.WriteNewerLayout(folder.Path()), kOk);
  const struct {
    const char* domain;  // SQL expressions
    const char* path;
    const char* flags;
  } hostile[] = {
      {"'HomeDomain'", "'../../etc/passwd'", "1"},
      {"'HomeDomain'", "'Library/../../x'", "1"},
      {"'HomeDomain'", "'Library/..'", "1"},
      {"'HomeDomain'", "'./x'", "1"},
      {"'HomeDomain'", "'/etc/passwd'", "1"},
      {"'..'", "'x'", "1"},
      {"'Home/Domain'", "'x'", "1"},
      {"'/'", "'x'", "1"},
      {"'HomeDomain'", "CAST(X'4C6962006162' AS TEXT)", "1"},  // "Lib\0ab"
      {"CAST(X'486F6D6500' AS TEXT)", "'x'", "1"},             // "Home\0"
      {"'HomeDomain'", "'Library/odd'", "16"},
      {"'HomeDomain'", "'Library/odd2'", "NULL"},
      {"'HomeDomain'", "'Library/odd3'", "'file'"},
      {"NULL", "'x'", "1"},
  };
  std::string sql;
  int n = 0;
  for (const auto& row : hostile) {
    // A well-formed fileID, so only the domain, path or flags can refuse the row.
    sql += "INSERT INTO Files VALUES ('" + StoredNameFor("Hostile", std::to_string(n++)) + "', " +
           row.domain + ", " + row.path + ", " + row.flags + ", NULL);";
  }
  Execute(folder / "Manifest.db", sql);

  BackupFileMap map;
  ManifestDbReport report;
  ASSERT_EQ(ReadManifestDb(folder / "Manifest.db", map, &report), kOk);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map[0].key, "HomeDomain-Library/kept.db");
  EXPECT_EQ(report.rows, 3u + std::size(hostile));
  EXPECT_EQ(report.refusedRows, std::size(hostile));
  EXPECT_EQ(report.foldersAndLinks, 2u);
  EXPECT_EQ(report.warnings.size(), std::size(hostile));
  for (const auto& words : report.warnings) {
    EXPECT_EQ(words.find('\0'), std::string::npos);
    EXPECT_NE(words.find("was skipped"), std::string::npos) << words;
  }

  for (const char* safe : {"Library/..hidden", "Library/a..b/c", "Library/x.", "a"})
    EXPECT_TRUE(IsSafeManifestPath("HomeDomain", safe)) << safe;
}

// Some tools write 0 for every row's flags: the mode of its attributes
// tells files, folders and links apart, and a row without either is refused.
TEST(ManifestDb, RowsWithoutFlagsTakeTheirKindFromTheirMode) {
  const corvyn::testing::TempFolder folder("manifest-db-mode");
  testsupport::BackupBuilder builder;
  builder.AddFile("HomeDomain", "Library/kept.db", "kept");
  builder.AddDirectory("HomeDomain", "Library");
  builder.AddLink("HomeDomain", "Library/link", "/private/var/x");
  builder.AddFile("HomeDomain", "Library/no attributes", "x");
  ASSERT_EQ(builder.WriteNewerLayout(folder.Path()), kOk);
  Execute(folder / "Manifest.db",
          "UPDATE Files SET flags = 0; UPDATE Files SET file = NULL WHERE fileID = '" +
              StoredNameFor("HomeDomain", "Library/no attributes") + "';");
  BackupFileMap map;
  ManifestDbReport report;
  ASSERT_EQ(ReadManifestDb(folder / "Manifest.db", map, &report), kOk);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map[0].key, "HomeDomain-Library/kept.db");
  EXPECT_EQ(report.foldersAndLinks, 2u);
  EXPECT_EQ(report.refusedRows, 1u);
}

// A page of the Files table that is garbage: the rows before it are kept and
// the damage is said in words.
TEST(ManifestDb, AListDamagedPartWayKeepsWhatWasReadAndSaysWhy) {
  const corvyn::testing::TempFolder folder("manifest-db-damaged");
  testsupport::BackupBuilder builder;
  for (int i = 0; i < 400; ++i) builder.AddMissingFile("HomeDomain", "Library/file" + std::to_string(i));
  ASSERT_EQ(builder.WriteNewerLayout(folder.Path()), kOk);
  const fs::path manifest = folder / "Manifest.db";

  // The table's leaf pages, from the database's own page statistics.
  std::vector<int> leaves;
  {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(manifest.c_str(), &handle), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(handle,
                                 "SELECT pageno FROM dbstat WHERE name = 'Files' AND pagetype = 'leaf' "
                                 "ORDER BY pageno",
                                 -1, &statement, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(handle);
    while (sqlite3_step(statement) == SQLITE_ROW) leaves.push_back(sqlite3_column_int(statement, 0));
    sqlite3_finalize(statement);
    sqlite3_close(handle);
  }
  ASSERT_GE(leaves.size(), 4u);
  std::fstream file(manifest, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char header[18] = {};  // the page size is the big-endian number at offset 16
  file.read(reinterpret_cast<char*>(header), sizeof header);
  const std::size_t page = (std::size_t{header[16]} << 8) | header[17];
  const std::string garbage(page, '\xEE');
  file.seekp(static_cast<std::streamoff>((leaves[leaves.size() / 2] - 1) * page));
  file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  file.close();

  BackupFileMap map;
  ManifestDbReport report;
  ASSERT_EQ(ReadManifestDb(manifest, map, &report), kOk);
  EXPECT_GT(map.size(), 0u);
  EXPECT_LT(map.size(), 400u);
  EXPECT_NE(report.damage.find("is damaged after"), std::string::npos) << report.damage;
  ASSERT_FALSE(report.warnings.empty());
  EXPECT_EQ(report.warnings.back(), report.damage);
}

// The engine reads either file list through one call and sees the same
// entries for the same device files.
TEST(FolderFileMap, BothFileListsGiveTheSameEntriesAndTheirLayout) {
  testsupport::BackupBuilder builder;
  testsupport::ManifestRecordPlan notes;
  notes.domain = "HomeDomain";
  notes.path = "Library/Notes/notes.sqlite";
  notes.contents = std::string(300, 'n');
  notes.protectionClass = 2;
  notes.lastModified = 1500000000;
  builder.AddRecord(notes);
  builder.AddFile("MediaDomain", "Library/SMS/Attachments/a.jpg", "jpeg");
  builder.AddDirectory("HomeDomain", "Library/Notes");
  const struct {
    const char* label;
    bool newer;
    StoredLayout layout;
    const char* list;
  } cases[] = {
      {"Manifest.mbdb", false, StoredLayout::kFlat, "Manifest.mbdb"},
      {"Manifest.db", true, StoredLayout::kPrefixFolders, "Manifest.db"},
  };
  for (const auto& c : cases) {
    const corvyn::testing::TempFolder folder("folder-file-map");
    ASSERT_EQ(c.newer ? builder.WriteNewerLayout(folder.Path()) : builder.Write(folder.Path()), kOk)
        << c.label;
    BackupFileMap map;
    FileMapRead read;
    ASSERT_EQ(ReadFolderFileMap(folder.Path(), map, read), kOk) << c.label;
    EXPECT_EQ(read.layout, c.layout) << c.label;
    EXPECT_EQ(read.listPath, folder / c.list) << c.label;
    EXPECT_TRUE(read.warnings.empty()) << c.label;
    std::sort(map.begin(), map.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
    ASSERT_EQ(map.size(), 2u) << c.label;
    EXPECT_EQ(map[0].key, "HomeDomain-Library/Notes/notes.sqlite") << c.label;
    EXPECT_TRUE(map[0].hasAttributes) << c.label;
    EXPECT_EQ(map[0].size, 300u) << c.label;
    EXPECT_EQ(map[0].protectionClass, 2u) << c.label;
    EXPECT_EQ(map[0].lastModified, 1500000000) << c.label;
    EXPECT_EQ(map[1].key, "MediaDomain-Library/SMS/Attachments/a.jpg") << c.label;
    EXPECT_EQ(map[1].size, 4u) << c.label;
    for (const auto& entry : map)
      EXPECT_EQ(fs::file_size(StoredFilePath(folder.Path(), read.layout, entry.storedName)), entry.size)
          << c.label;
  }

  const corvyn::testing::TempFolder empty("folder-file-map-none");
  BackupFileMap map;
  FileMapRead read;
  const Status status = ReadFolderFileMap(empty.Path(), map, read);
  EXPECT_EQ(status, kFileMapUnopenable);
  EXPECT_NE(status.Message().find("holds no list of its files"), std::string::npos) << status;
}

}  // namespace
}  // namespace corvyn::backup
