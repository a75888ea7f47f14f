// Backups written by idevicebackup2 (libimobiledevice). The program writes
// only Info.plist itself, into <its folder>/<UDID>/, before the phone sends
// anything; Manifest.plist, Status.plist, the file list and the stored files
// are the phone's own. The phone first fills a "Snapshot" folder inside the
// backup, then moves everything into place and removes it; a backup that
// stops keeps whatever had arrived.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backup/BackupContext.h"
#include "backup/BackupDiscovery.h"
#include "backup/CLocalBuckupRecovery.h"
#include "tests/backup/EngineRecords.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;
using testsupport::BackupWriter;

const std::string kUdid(testsupport::kBuiltBackupUdid);

class UtcZone {
 public:
  UtcZone() {
    if (const char* old = std::getenv("TZ")) saved_ = old, hadOld_ = true;
    setenv("TZ", "UTC0", 1);
    tzset();
  }
  ~UtcZone() {
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

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void WriteText(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Moves everything but Info.plist into a "Snapshot" folder: the state of a
// first backup that stopped while the phone was still sending.
void MoveIntoSnapshot(const fs::path& folder) {
  const fs::path snapshot = folder / std::string(kSnapshotFolderName);
  fs::create_directories(snapshot);
  for (const auto& entry : std::vector<fs::directory_entry>(fs::directory_iterator(folder), {})) {
    const auto name = entry.path().filename();
    if (name == kInfoPlistName || name == kSnapshotFolderName) continue;
    fs::rename(entry.path(), snapshot / name);
  }
}

// The keys that tell this program's Info.plist from the desktop program's.
TEST(IdeviceBackup2Builder, WritesTheInfoPlistOfThatProgram) {
  testsupport::BackupInfo info;
  info.writer = BackupWriter::kIdeviceBackup2;
  info.binaryInfoPlist = true;  // ignored: the program always writes XML
  const std::string text = testsupport::InfoPlistBytes(info);
  ASSERT_EQ(text.rfind("<?xml", 0), 0u) << text.substr(0, 40);
  plist_t root = nullptr;
  plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &root);
  ASSERT_NE(root, nullptr);
  const auto stringOf = [root](const char* key) {
    plist_t node = plist_dict_get_item(root, key);
    char* value = nullptr;
    if (node && plist_get_node_type(node) == PLIST_STRING) plist_get_string_val(node, &value);
    std::string out = value ? value : "<none>";
    std::free(value);
    return out;
  };
  EXPECT_EQ(stringOf("Device Name"), info.displayName);
  EXPECT_EQ(stringOf("Display Name"), info.displayName);
  EXPECT_EQ(stringOf("Target Identifier"), kUdid);
  EXPECT_EQ(stringOf("Unique Identifier"), "0123456789ABCDEF0123456789ABCDEF01234567");
  EXPECT_EQ(stringOf("Target Type"), "Device");
  EXPECT_EQ(stringOf("iTunes Version"), "10.0.1");
  EXPECT_EQ(stringOf("Product Name"), "<none>");
  plist_t date = plist_dict_get_item(root, "Last Backup Date");
  ASSERT_TRUE(date && plist_get_node_type(date) == PLIST_DATE);
  for (const char* key : {"Applications", "iTunes Files", "iTunes Settings"}) {
    plist_t node = plist_dict_get_item(root, key);
    EXPECT_TRUE(node && plist_get_node_type(node) == PLIST_DICT) << key;
  }
  plist_free(root);
}

enum class Layout { kOlder, kOlderEncrypted, kNewer, kNewerEncrypted };

// Each backup lies in <root>/<UDID>/, as the program writes it; the root is
// listed as a backup root, and also picked as a folder.
TEST(IdeviceBackup2Discovery, ListedWithTheirSummaryStateAndEncryption) {
  UtcZone zone;
  enum class Left {
    kFinished,
    kStatusUploading,
    kOnlyInfoPlist,
    kFirstBackupInSnapshot,
    kLaterBackupLeftSnapshot
  };
  const struct {
    const char* label;
    Layout layout;
    const char* version;
    Left left;
    bool encrypted;
    bool unfinished;
  } cases[] = {
      {"iOS 9, finished", Layout::kOlder, "9.3.5", Left::kFinished, false, false},
      {"iOS 9, encrypted, finished", Layout::kOlderEncrypted, "9.3.5", Left::kFinished, true, false},
      {"iOS 16, finished", Layout::kNewer, "16.7.2", Left::kFinished, false, false},
      {"iOS 16, encrypted, finished", Layout::kNewerEncrypted, "16.7.2", Left::kFinished, true, false},
      {"phone still sending", Layout::kNewer, "16.7.2", Left::kStatusUploading, false, true},
      {"stopped before the phone sent anything", Layout::kNewer, "16.7.2", Left::kOnlyInfoPlist, false, true},
      {"first backup stopped while sending", Layout::kNewer, "16.7.2", Left::kFirstBackupInSnapshot, false,
       true},
      {"encrypted first backup stopped while sending", Layout::kNewerEncrypted, "16.7.2",
       Left::kFirstBackupInSnapshot, true, true},
      {"later backup stopped, staging folder left", Layout::kNewer, "16.7.2", Left::kLaterBackupLeftSnapshot,
       false, true},
      {"iOS 9, later backup stopped", Layout::kOlder, "9.3.5", Left::kLaterBackupLeftSnapshot, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    corvyn::testing::TempFolder temp("idevicebackup2-list");
    const fs::path root = temp.Path() / "backups";
    const fs::path folder = root / kUdid;
    testsupport::BackupBuilder builder;
    builder.info.writer = BackupWriter::kIdeviceBackup2;
    builder.info.displayName = "Kim's iPhone & <Watch>";
    builder.info.serialNumber = "C39ZK0LMN72J";
    builder.info.phoneNumber = "";
    builder.info.lastBackupDate = "2023-11-04T08:15:30Z";
    builder.info.productVersion = c.version;
    builder.info.snapshotState = c.left == Left::kStatusUploading ? "uploading" : "finished";
    builder.AddFile("HomeDomain", "Library/SMS/sms.db", "SQLite format 3");
    switch (c.layout) {
      case Layout::kOlder:
        ASSERT_EQ(builder.Write(folder), kOk);
        break;
      case Layout::kOlderEncrypted:
        ASSERT_EQ(builder.WriteEncrypted(temp.Path() / "plain", folder, "1234"), kOk);
        break;
      case Layout::kNewer:
        ASSERT_EQ(builder.WriteNewerLayout(folder), kOk);
        break;
      case Layout::kNewerEncrypted:
        ASSERT_EQ(builder.WriteNewerLayout(temp.Path() / "plain"), kOk);
        ASSERT_EQ(testsupport::EncryptNewerLayoutFolder(temp.Path() / "plain", folder, "1234"), kOk);
        break;
    }
    switch (c.left) {
      case Left::kOnlyInfoPlist: {
        const std::string info = ReadText(folder / "Info.plist");
        fs::remove_all(folder);
        WriteText(folder / "Info.plist", info);
        break;
      }
      case Left::kFirstBackupInSnapshot:
        MoveIntoSnapshot(folder);
        break;
      case Left::kLaterBackupLeftSnapshot:
        WriteText(folder / "Snapshot" / "Manifest.db", "half");
        break;
      default:
        break;
    }
    // What the program leaves beside the backups: "unback" output.
    fs::create_directories(root / "_unback_" / "HomeDomain");

    std::vector<BackupDescriptor> listed;
    ASSERT_EQ(ListBackups({root}, listed), kOk);
    ASSERT_EQ(listed.size(), 1u);
    std::vector<BackupDescriptor> found = listed;
    BackupDescriptor picked;
    EXPECT_EQ(ReadBackupFolder(root, picked), kOk);
    if (!picked.folder.empty()) found.push_back(picked);
    for (const BackupDescriptor& descriptor : found) {
      const BackupDescriptor* d = &descriptor;
      EXPECT_EQ(d->folder, folder);
      EXPECT_EQ(d->displayName, "Kim's iPhone & <Watch>");
      EXPECT_EQ(d->serialNumber, "C39ZK0LMN72J");
      EXPECT_EQ(d->phoneNumber, "");
      EXPECT_EQ(d->lastBackupDate, "2023-11-04 08:15:30");
      EXPECT_EQ(d->productVersion, c.version);
      EXPECT_EQ(d->encrypted != 0, c.encrypted);
      EXPECT_EQ(d->manifestEncrypted, c.encrypted);
      EXPECT_EQ(d->snapshotUnfinished, c.unfinished);
    }
  }
}

// The folder given to the program stands for a backup only when it holds
// exactly one.
TEST(IdeviceBackup2Discovery, PickingTheProgramsFolderNeedsExactlyOneBackupInIt) {
  const struct {
    const char* label;
    std::vector<const char*> backups;  // sub-folders holding an Info.plist
    bool read;
  } cases[] = {
      {"one backup", {"0123456789abcdef0123456789abcdef01234567"}, true},
      {"one backup of a newer phone", {"00008030-001A2D8E3C38802E"}, true},
      {"two phones", {"00008030-001A2D8E3C38802E", "0123456789abcdef0123456789abcdef01234567"}, false},
      {"only a staging folder", {"Snapshot"}, false},
      {"nothing", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    corvyn::testing::TempFolder temp("idevicebackup2-pick");
    testsupport::BackupInfo info;
    info.writer = BackupWriter::kIdeviceBackup2;
    for (const char* name : c.backups) WriteText(temp.Path() / name / "Info.plist", InfoPlistBytes(info));
    fs::create_directories(temp.Path() / "_unback_");
    BackupDescriptor descriptor;
    EXPECT_EQ(ReadBackupFolder(temp.Path(), descriptor) == kOk, c.read);
    if (c.read) {
      EXPECT_EQ(descriptor.folder, temp.Path() / c.backups[0]);
    }
  }
}

// One line per record a scan found: category, name, size and the stored
// file's path inside its backup folder.
std::vector<std::string> ScanSummary(const fs::path& folder, const fs::path& work) {
  std::vector<std::string> lines;
  BackupDescriptor descriptor;
  if (ReadBackupFolder(folder, descriptor) != kOk) return {"unreadable"};
  BackupContext context;
  context.Select(descriptor);
  context.workingRoot = work;
  CLocalBuckupRecovery engine;
  if (engine.Attach(&context) != kOk || engine.OpenSource("") != kOk) return {"not opened"};
  const auto inFolder = [&folder](const std::string& path) {
    return fs::path(path).lexically_relative(folder).string();
  };
  const auto media = [&](const char* category, const auto& records) {
    for (const auto& r : records)
      lines.push_back(std::string(category) + " " + r.name + " " + std::to_string(r.size) + " " +
                      inFolder(r.path));
  };
  EngineRecords got;
  (void)CollectEverything(engine, got);
  media("camera-roll", got.cameraRoll);
  media("photo-stream", got.photoStream);
  media("message-attachment", got.attachments);
  media("app-file", got.appFiles);
  media("whatsapp-attachment", got.whatsAppAttachments);
  for (const auto& [chat, messages] : got.conversations)
    lines.push_back("conversation " + std::to_string(chat) + " " + std::to_string(messages.size()));
  for (const auto& [chat, messages] : got.whatsApp)
    lines.push_back("whatsapp-chat " + std::to_string(chat) + " " + std::to_string(messages.size()));
  for (const auto& contact : got.contacts) lines.push_back("contact " + contact.name);
  for (const auto& call : got.calls) lines.push_back("call " + call.name);
  lines.push_back("notes " + std::to_string(got.notes.size()));
  return lines;
}

// The same phone backed up by both programs scans to the same records.
TEST(IdeviceBackup2Scan, FindsWhatTheDesktopProgramsBackupOfTheSamePhoneHolds) {
  for (const Layout layout : {Layout::kOlder, Layout::kNewer}) {
    SCOPED_TRACE(layout == Layout::kOlder ? "Manifest.mbdb" : "Manifest.db");
    corvyn::testing::TempFolder temp("idevicebackup2-scan");
    testsupport::StandardBackup backup;
    ASSERT_EQ(testsupport::MakeStandardBackup(temp.Path() / "scratch", backup), kOk);
    const fs::path desktop = temp.Path() / "MobileSync" / kUdid;
    const fs::path tool = temp.Path() / "idevicebackup2" / kUdid;
    for (const BackupWriter writer : {BackupWriter::kDesktopSync, BackupWriter::kIdeviceBackup2}) {
      backup.builder.info.writer = writer;
      backup.builder.info.snapshotState = "finished";
      const fs::path& folder = writer == BackupWriter::kDesktopSync ? desktop : tool;
      ASSERT_EQ(
          layout == Layout::kOlder ? backup.builder.Write(folder) : backup.builder.WriteNewerLayout(folder),
          kOk);
    }
    ASSERT_NE(ReadText(desktop / "Info.plist"), ReadText(tool / "Info.plist"));
    const auto fromDesktop = ScanSummary(desktop, temp.Path() / "work-desktop");
    const auto fromTool = ScanSummary(tool, temp.Path() / "work-tool");
    ASSERT_GT(fromDesktop.size(), backup.media.cameraRoll.size() + backup.databases.contacts.size());
    EXPECT_EQ(fromTool, fromDesktop);
  }
}

}  // namespace
}  // namespace corvyn::backup
