#include <gtest/gtest.h>
#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "backup/BackupDiscovery.h"
#include "backup/ManifestDbReader.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;

// Sets TZ for one test and restores it afterwards.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, hadOld_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (hadOld_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string saved_;
  bool hadOld_ = false;
};

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// POSIX zone rules need no zone database: "<+01>-1" is one hour east of UTC.
TEST(LocalBackupDate, ConvertsWithTheRealOffsetAtThatDate) {
  const struct {
    const char* zone;
    const char* utc;
    const char* local;
  } cases[] = {
      {"<+01>-1", "2014-05-01T23:30:00Z", "2014-05-02 00:30:00"},  // the date moves with the hour
      {"<-05>5", "2014-05-01T23:30:00Z", "2014-05-01 18:30:00"},
      {"<-05>5", "2014-05-01T02:00:00Z", "2014-04-30 21:00:00"},
      {"<+01>-1", "2014-12-31T23:30:00Z", "2015-01-01 00:30:00"},
      {"<+0530>-5:30", "2014-05-01T20:45:10Z", "2014-05-02 02:15:10"},                // half-hour zone
      {"CET-1CEST,M3.5.0,M10.5.0/3", "2014-07-01T12:00:00Z", "2014-07-01 14:00:00"},  // summer time
      {"CET-1CEST,M3.5.0,M10.5.0/3", "2014-01-15T12:00:00Z", "2014-01-15 13:00:00"},  // standard time
      {"UTC0", "2016-02-29T00:00:00Z", "2016-02-29 00:00:00"},
  };
  for (const auto& c : cases) {
    ZoneGuard zone(c.zone);
    EXPECT_EQ(LocalBackupDate(c.utc), c.local) << c.zone << " " << c.utc;
  }
}

TEST(LocalBackupDate, TextThatIsNotAnIsoTimeKeepsItsDigits) {
  ZoneGuard zone("<+01>-1");
  EXPECT_EQ(LocalBackupDate("2014-05-01T25:30:00Z"), "2014-05-01 25:30:00");
  EXPECT_EQ(LocalBackupDate("2014-02-30T10:00:00Z"), "2014-02-30 10:00:00");
  EXPECT_EQ(LocalBackupDate("yesterday"), "yesterday");
  EXPECT_EQ(LocalBackupDate(""), "");
}

TEST(ReadBackupFolder, ReadsTheSummaryOfAnXmlInfoPlist) {
  ZoneGuard zone("<+01>-1");
  corvyn::testing::TempFolder folder("discovery-xml");
  testsupport::BackupInfo info;
  info.displayName = "Anna's iPhone \xE2\x98\x85";
  info.serialNumber = "C8QH6T96DPNG";
  info.phoneNumber = "+49 151 0000";
  WriteFile(folder.Path() / "Info.plist", testsupport::InfoPlistText(info));
  BackupDescriptor descriptor;
  ASSERT_EQ(ReadBackupFolder(folder.Path() / "", descriptor), kOk);
  EXPECT_EQ(descriptor.displayName, info.displayName);
  EXPECT_EQ(descriptor.serialNumber, "C8QH6T96DPNG");
  EXPECT_EQ(descriptor.phoneNumber, "+49 151 0000");
  EXPECT_EQ(descriptor.lastBackupDate, "2014-05-02 00:30:00");
  EXPECT_EQ(descriptor.folder, folder.Path());  // no trailing separator
  EXPECT_EQ(descriptor.encrypted, 0);
}

TEST(ReadBackupFolder, ReadsABinaryInfoPlistAndValuesOnTheKeyLine) {
  ZoneGuard zone("UTC0");
  corvyn::testing::TempFolder folder("discovery-binary");
  plist_t root = plist_new_dict();
  plist_dict_set_item(root, "Display Name", plist_new_string("Binary Phone"));
  plist_dict_set_item(root, "Serial Number", plist_new_string("SN-BIN"));
  // 2014-05-01T23:30:00Z is 420679800 seconds after 2001-01-01.
  plist_dict_set_item(root, "Last Backup Date", plist_new_date(420679800, 0));
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  WriteFile(folder.Path() / "Info.plist", std::string(bytes, length));
  free(bytes);
  plist_free(root);
  BackupDescriptor descriptor;
  ASSERT_EQ(ReadBackupFolder(folder.Path(), descriptor), kOk);
  EXPECT_EQ(descriptor.displayName, "Binary Phone");
  EXPECT_EQ(descriptor.serialNumber, "SN-BIN");
  EXPECT_EQ(descriptor.lastBackupDate, "2014-05-01 23:30:00");

  WriteFile(folder.Path() / "Info.plist",
            "<plist><dict><key>Display Name</key><string>Same Line</string></dict></plist>");
  ASSERT_EQ(ReadBackupFolder(folder.Path(), descriptor), kOk);
  EXPECT_EQ(descriptor.displayName, "Same Line");
}

TEST(ReadBackupFolder, BrokenXmlFallsBackToTheLineReader) {
  corvyn::testing::TempFolder folder("discovery-lines");
  WriteFile(
      folder.Path() / "Info.plist",
      "<dict>\n<key>Display Name</key>\n<string>First</string>\n<key>Serial Number</key>\n"
      "<string>SN1</string>\n<key>Display Name</key>\n<string>Last wins</string>\n<key>Phone Number</key>\n"
      "no tags here\n<unclosed");
  BackupDescriptor descriptor;
  ASSERT_EQ(ReadBackupFolder(folder.Path(), descriptor), kOk);
  EXPECT_EQ(descriptor.displayName, "Last wins");
  EXPECT_EQ(descriptor.serialNumber, "SN1");
  EXPECT_EQ(descriptor.phoneNumber, "");
}

TEST(ReadBackupFolder, AFolderWithoutInfoPlistFails) {
  corvyn::testing::TempFolder folder("discovery-empty");
  BackupDescriptor descriptor;
  EXPECT_NE(ReadBackupFolder(folder.Path(), descriptor), kOk);
  EXPECT_NE(ReadBackupFolder(folder.Path() / "missing", descriptor), kOk);
}

TEST(IsEncryptedBackup, JudgesTheAddressBookHeader) {
  const std::string name(kAddressBookStoredName);
  const struct {
    const char* label;
    std::string file;
    std::string bytes;
    bool encrypted;
  } cases[] = {
      {"plain database", name, std::string("SQLite format 3\0", 16), false},
      {"other letter case", name, "sQLITE FORMAT 3", false},
      {"older name", name + ".mddata", std::string("SQLite format 3\0", 16), false},
      {"cipher bytes", name, std::string("\x8f\x12\xa0\x33\x01\x02\x03\x04", 8), true},
      {"older name, cipher bytes", name + ".mddata", "\x01\x02garbage", true},
      {"shorter than the signature", name, "SQL", true},
      {"no address book", "somethingelse", "x", false},
      {"no address book, manifest says encrypted", "Manifest.plist",
       "<plist><dict><key>IsEncrypted</key><true/></dict></plist>", true},
      {"no address book, manifest says plain", "Manifest.plist",
       "<plist><dict><key>IsEncrypted</key><false/></dict></plist>", false},
  };
  for (const auto& c : cases) {
    corvyn::testing::TempFolder folder("discovery-encrypted");
    WriteFile(folder.Path() / c.file, c.bytes);
    EXPECT_EQ(IsEncryptedBackup(folder.Path()), c.encrypted) << c.label;
  }
}

TEST(ListBackups, ListsEveryRootSkippingDotEntriesAndFoldersWithoutSummary) {
  corvyn::testing::TempFolder home("discovery-roots");
  const fs::path root = home.Path() / "root";
  const fs::path extra = home.Path() / "extra root";
  testsupport::BackupInfo info;
  for (const char* name : {"bbbb", "aaaa", ".hidden"}) {
    info.displayName = name;
    WriteFile(root / name / "Info.plist", testsupport::InfoPlistText(info));
  }
  fs::create_directories(root / "no-summary");
  // The staging folder a device leaves in an unfinished backup is no backup.
  WriteFile(root / "Snapshot" / "Info.plist", testsupport::InfoPlistText(info));
  WriteFile(root / "a-file", "not a backup");
  info.displayName = "external";
  WriteFile(extra / "cccc" / "Info.plist", testsupport::InfoPlistText(info));
  WriteFile(home.Path() / "config.ini",
            "\xEF\xBB\xBF[Language]\r\nCurrent=English\r\n[BackupFolders]\r\nFolder1=" + extra.string() +
                "\r\nFolder2=" + (home.Path() / "does-not-exist").string() + "\r\n");

  const auto extras = ExtraBackupRoots(home.Path() / "config.ini");
  ASSERT_EQ(extras.size(), 2u);
  EXPECT_EQ(extras[0], extra);

  std::vector<BackupDescriptor> descriptors;
  ASSERT_EQ(ListBackups({root, extras[0], extras[1]}, descriptors), kOk);
  std::vector<std::string> names;
  for (const auto& d : descriptors) names.push_back(d.displayName);
  EXPECT_EQ(names, (std::vector<std::string>{"aaaa", "bbbb", "external"}));
  EXPECT_EQ(descriptors[2].folder, extra / "cccc");
}

std::string XmlPlist(plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_xml(root, &bytes, &length);
  std::string text(bytes, length);
  free(bytes);
  plist_free(root);
  return text;
}

TEST(ReadBackupFolder, NewerBackupsGiveVersionEncryptionAndWhetherTheySnapshotFinished) {
  ZoneGuard zone("UTC0");
  const struct {
    const char* label;
    bool binaryInfo;
    const char* snapshotState;  // "" writes no Status.plist
    bool leftoverSnapshot;
    bool encrypted;
    bool unfinished;
  } cases[] = {
      {"finished, XML", false, "finished", false, false, false},
      {"finished, binary", true, "finished", false, false, false},
      {"no Status.plist", true, "", false, false, false},
      {"device still uploading", false, "uploading", false, false, true},
      {"finished but a Snapshot folder is left", true, "finished", true, false, true},
      {"encrypted", true, "finished", false, true, false},
  };
  for (const auto& c : cases) {
    corvyn::testing::TempFolder folder("discovery-newer");
    testsupport::BackupBuilder builder;
    builder.info.productVersion = "14.3";
    builder.info.binaryInfoPlist = c.binaryInfo;
    builder.info.snapshotState = c.snapshotState;
    builder.AddFile("HomeDomain", "Library/SMS/sms.db", "SQLite format 3");
    if (c.encrypted) {
      ASSERT_EQ(builder.WriteNewerLayoutEncryptedStandIn(folder.Path()), kOk) << c.label;
    } else {
      ASSERT_EQ(builder.WriteNewerLayout(folder.Path()), kOk) << c.label;
    }
    if (c.leftoverSnapshot) WriteFile(folder.Path() / "Snapshot" / "Manifest.db", "half");
    BackupDescriptor descriptor;
    ASSERT_EQ(ReadBackupFolder(folder.Path(), descriptor), kOk) << c.label;
    EXPECT_EQ(descriptor.displayName, builder.info.displayName) << c.label;
    EXPECT_EQ(descriptor.serialNumber, builder.info.serialNumber) << c.label;
    EXPECT_EQ(descriptor.lastBackupDate, "2014-05-01 23:30:00") << c.label;
    EXPECT_EQ(descriptor.productVersion, "14.3") << c.label;
    EXPECT_EQ(descriptor.manifestEncrypted, c.encrypted) << c.label;
    EXPECT_EQ(descriptor.encrypted != 0, c.encrypted) << c.label;
    EXPECT_EQ(descriptor.snapshotUnfinished, c.unfinished) << c.label;
  }
}

// idevicebackup2 writes Info.plist itself as libplist XML (tab-indented, the
// device name as both names, no phone number unless the device gives one);
// Manifest.plist's version wins over Info.plist's.
TEST(ReadBackupFolder, ReadsTheInfoPlistIdevicebackup2Writes) {
  ZoneGuard zone("UTC0");
  corvyn::testing::TempFolder folder("discovery-idevicebackup2");
  plist_t info = plist_new_dict();
  plist_dict_set_item(info, "Build Version", plist_new_string("20H115"));
  plist_dict_set_item(info, "Device Name", plist_new_string("Kim's iPhone"));
  plist_dict_set_item(info, "GUID", plist_new_string("5F2B4C1E-0000-4000-8000-000000000000"));
  plist_dict_set_item(info, "Last Backup Date", plist_new_date(420679800, 0));
  plist_dict_set_item(info, "Product Version", plist_new_string("16.6"));
  plist_dict_set_item(info, "Serial Number", plist_new_string("SNIDB2"));
  plist_dict_set_item(info, "iTunes Version", plist_new_string("10.0.1"));
  WriteFile(folder.Path() / "Info.plist", XmlPlist(info));
  plist_t manifest = plist_new_dict();
  plist_t lockdown = plist_new_dict();
  plist_dict_set_item(lockdown, "ProductVersion", plist_new_string("16.7.2"));
  plist_dict_set_item(manifest, "Lockdown", lockdown);
  plist_dict_set_item(manifest, "IsEncrypted", plist_new_bool(0));
  WriteFile(folder.Path() / "Manifest.plist", XmlPlist(manifest));

  BackupDescriptor descriptor;
  ASSERT_EQ(ReadBackupFolder(folder.Path(), descriptor), kOk);
  EXPECT_EQ(descriptor.displayName, "Kim's iPhone");
  EXPECT_EQ(descriptor.serialNumber, "SNIDB2");
  EXPECT_EQ(descriptor.phoneNumber, "");
  EXPECT_EQ(descriptor.lastBackupDate, "2014-05-01 23:30:00");
  EXPECT_EQ(descriptor.productVersion, "16.7.2");
  EXPECT_FALSE(descriptor.snapshotUnfinished);

  fs::remove(folder.Path() / "Manifest.plist");
  ASSERT_EQ(ReadBackupFolder(folder.Path(), descriptor), kOk);
  EXPECT_EQ(descriptor.productVersion, "16.6");
}

// A real, unencrypted backup of an iPhone on iOS 14.3 (published with mvt's
// tests). The test opens a copy: the shared data is never written.
// The publishers cut most of its stored databases down after the backup was
// made, so only TCC.db still has the length its row records; the recorded
// values themselves are the device's (checked with a second plist reader).
TEST(RealBackup, AnIos14BackupIsListedWithItsSummaryAndItsRecordedAttributes) {
  const fs::path source =
      fs::path(CORVYN_EXTERNAL_TESTDATA) / "mvt-project__mvt" / "tests" / "artifacts" / "ios_backup";
  std::error_code error;
  if (!fs::is_regular_file(source / "Manifest.db", error))
    GTEST_SKIP() << "the real iOS 14.3 backup is not at " << source;
  ZoneGuard zone("UTC0");
  corvyn::testing::TempFolder root("discovery-real");
  const fs::path folder = root.Path() / "1cb128eafa77c5be74283e9a3a2130af36a3c059";
  fs::copy(source, folder, fs::copy_options::recursive, error);
  ASSERT_FALSE(error) << error.message();

  std::vector<BackupDescriptor> descriptors;
  ASSERT_EQ(ListBackups({root.Path()}, descriptors), kOk);
  ASSERT_EQ(descriptors.size(), 1u);
  const BackupDescriptor& backup = descriptors[0];
  EXPECT_EQ(backup.folder, folder);
  EXPECT_EQ(backup.displayName, "iPhone");
  EXPECT_EQ(backup.serialNumber, "F1234567890");
  EXPECT_EQ(backup.productVersion, "14.3");
  EXPECT_EQ(backup.lastBackupDate, "2021-12-03 19:33:13");
  EXPECT_EQ(backup.encrypted, 0);
  EXPECT_FALSE(backup.snapshotUnfinished);

  BackupFileMap map;
  ManifestDbReport report;
  ASSERT_EQ(ReadManifestDb(folder / "Manifest.db", map, &report), kOk);
  EXPECT_EQ(map.size(), 1089u);
  EXPECT_EQ(report.foldersAndLinks, 2618u + 14u);
  EXPECT_EQ(report.refusedRows, 0u);
  EXPECT_EQ(report.damagedAttributes, 0u);
  EXPECT_TRUE(report.damage.empty());
  for (const auto& entry : map) {
    ASSERT_TRUE(entry.hasAttributes) << entry.key;
    // Even a plain backup records each file's wrapped key, its class first.
    ASSERT_EQ(entry.wrappedKey.size(), 44u) << entry.key;
    EXPECT_EQ(static_cast<uint8_t>(entry.wrappedKey[0]), entry.protectionClass) << entry.key;
  }
  const struct {
    const char* key;
    uint64_t size;
    int64_t lastModified;
    bool storedLengthMatches;
  } expected[] = {
      {"HomeDomain-Library/TCC/TCC.db", 57344, 1638559923, true},
      {"HomeDomain-Library/SMS/sms.db", 278528, 1638501497, false},
      {"HomeDomain-Library/Preferences/.GlobalPreferences.plist", 633, 1638521751, false},
      {"AppDomainGroup-group.net.whatsapp.WhatsApp.shared-ChatStorage.sqlite", 344064, 1610922261, false},
  };
  for (const auto& e : expected) {
    const auto found = std::find_if(map.begin(), map.end(),
                                    [&](const BackupFileEntry& entry) { return entry.key == e.key; });
    ASSERT_NE(found, map.end()) << e.key;
    EXPECT_EQ(found->size, e.size) << e.key;
    EXPECT_EQ(found->lastModified, e.lastModified) << e.key;
    const fs::path path = StoredFilePath(folder, StoredLayout::kPrefixFolders, found->storedName);
    ASSERT_TRUE(fs::is_regular_file(path)) << e.key;
    EXPECT_EQ(fs::file_size(path) == found->size, e.storedLengthMatches) << e.key;
  }
}

TEST(BackupRoots, DefaultRootFollowsXdgDataHome) {
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", "/srv/data", 1);
  EXPECT_EQ(DefaultBackupRoot(), fs::path("/srv/data/Apple Computer/MobileSync/Backup"));
  if (old) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

}  // namespace
}  // namespace corvyn::backup
