#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "backup/BackupDiscovery.h"
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
