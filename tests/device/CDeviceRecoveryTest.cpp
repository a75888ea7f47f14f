// The device engine on a phone served from folders: the backup the helper
// writes is read like a backup folder, the pictures are walked on the phone,
// and the applications' files come from their containers on old systems and
// from the backup on newer ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "backup/BackupDiscovery.h"
#include "backup/CLocalBuckupRecovery.h"
#include "device/CDeviceRecovery.h"
#include "tests/backup/EngineRecords.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tests/support/backup_builder/TodayBackup.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::device {
namespace {
namespace fs = std::filesystem;
namespace ts = corvyn::testsupport;
using backup::EngineRecords;

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A phone whose file service serves folders of this machine: the media
// folder, or an application's container once opened.
class FolderPhone final : public IDeviceServices {
 public:
  fs::path media;
  std::map<std::string, fs::path> containers;  // bundle identifier -> container folder
  std::map<std::string, std::string> values;
  bool root = false;
  std::vector<std::string> opened;  // containers opened, in order

  Status DeviceValue(std::string_view key, std::string& value) override {
    const auto found = values.find(std::string(key));
    value = found == values.end() ? std::string() : found->second;
    return kOk;
  }
  void ReopenFileService() override { current_ = media; }
  bool HasRootFileService() const override { return root; }
  bool IsDirectory(const std::string& path) override { return fs::is_directory(Local(path)); }
  void ListDirectory(const std::string& path, std::vector<std::string>& names) override {
    std::error_code error;
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(Local(path), error))
      found.push_back(entry.path().filename());
    std::sort(found.begin(), found.end());
    names.insert(names.end(), found.begin(), found.end());
  }
  uint64_t OpenFile(const std::string& path) override {
    auto stream = std::make_unique<std::ifstream>(Local(path), std::ios::binary);
    if (!*stream || fs::is_directory(Local(path))) return 0;
    files_.push_back(std::move(stream));
    return files_.size();
  }
  Status ReadFile(uint64_t file, char* buffer, std::size_t& length) override {
    files_.at(file - 1)->read(buffer, static_cast<std::streamsize>(length));
    length = static_cast<std::size_t>(files_.at(file - 1)->gcount());
    return kOk;
  }
  Status CloseFile(uint64_t file) override {
    files_.at(file - 1).reset();
    return kOk;
  }
  Status CopyFile(const std::string& path, const fs::path& local, uint64_t& size) override {
    std::error_code error;
    fs::copy_file(Local(path), local, fs::copy_options::overwrite_existing, error);
    if (error) return Status::System(error, path);
    size = fs::file_size(local);
    return kOk;
  }
  Status OpenAppContainer(const std::string& bundle) override {
    const auto found = containers.find(bundle);
    if (found == containers.end()) return kInvalidData;
    opened.push_back(bundle);
    current_ = found->second;
    return kOk;
  }
  Status ListUserApplications(std::vector<std::string>& bundles) override {
    for (const auto& [bundle, folder] : containers) bundles.push_back(bundle);
    return kOk;
  }

 private:
  fs::path Local(const std::string& path) const { return current_ / fs::path(path).relative_path(); }
  fs::path current_;
  std::vector<std::unique_ptr<std::ifstream>> files_;
};

struct ProgressLog {
  std::vector<int> values;
  int stopAt = -1;  // answer 2 once this value is reported
  static int Record(void* self, int percent) {
    auto* log = static_cast<ProgressLog*>(self);
    log->values.push_back(percent);
    return log->stopAt >= 0 && percent >= log->stopAt ? 2 : 0;
  }
};

class DeviceEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new corvyn::testing::TempFolder("device-engine");
    ts::TodayBackup today;
    ASSERT_EQ(ts::MakeTodayBackup(Root() / "scratch-today", today), kOk);
    ASSERT_EQ(today.builder.WriteNewerLayout(Root() / "today"), kOk);
    ts::StandardBackup standard;
    ASSERT_EQ(ts::MakeStandardBackup(Root() / "scratch-standard", standard), kOk);
    ASSERT_EQ(standard.builder.Write(Root() / "standard"), kOk);
  }
  static void TearDownTestSuite() { delete temp_; }
  static fs::path Root() { return temp_->Path(); }

  void SetUp() override {
    const fs::path media = Root() / ("media-" + std::to_string(++counter_));
    WriteFile(media / "DCIM/100APPLE/IMG_0002.JPG", ts::MakeJpegExif(5000, 1));
    WriteFile(media / "DCIM/100APPLE/img_0001.heic", ts::MakeHeic(4000, 2));
    WriteFile(media / "DCIM/100APPLE/notes.txt", "not a picture at all, just words");
    WriteFile(media / "DCIM/100APPLE/EMPTY.JPG", "");
    WriteFile(media / "DCIM/101APPLE/deeper/IMG_0100.PNG", ts::MakePng(3000, 3));
    WriteFile(media / "PhotoStreamsData/1/100APPLE/IMG_0500.JPG", ts::MakeJpegExif(2500, 4));
    phone_.media = media;
    phone_.values = {{"ProductVersion", "17.3"}, {"DeviceName", "Anna's iPhone"}};
    source_.phone = &phone_;
    source_.backupRoot = Root() / ("helper-" + std::to_string(counter_));
    source_.workingRoot = Root() / ("work-" + std::to_string(counter_));
    UseBackup(Root() / "today");
  }

  // The helper "writes" a copy of `backup` into the backup root.
  void UseBackup(const fs::path& backup) {
    source_.makeBackup = [this, backup](const std::string& password, ProgressCallback callback, void* user,
                                        fs::path& folder) -> Status {
      passwords_.push_back(password);
      if (callback(user, 45) != 0) return kStopped;
      folder = source_.backupRoot / "00008030-0000DEVICE";
      fs::create_directories(folder);
      fs::copy(backup, folder, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
      return callback(user, 100) != 0 ? Status(kStopped) : Status();
    };
  }

  // The backup engine's records of the same backup folder.
  static void ScanBackupFolder(const fs::path& folder, EngineRecords& out) {
    backup::BackupDescriptor descriptor;
    ASSERT_EQ(backup::ReadBackupFolder(folder, descriptor), kOk);
    backup::BackupContext context;
    context.Select(descriptor);
    context.workingRoot = Root() / ("work-backup-" + std::to_string(++counter_));
    backup::CLocalBuckupRecovery engine;
    ASSERT_EQ(engine.Attach(&context), kOk);
    ASSERT_EQ(engine.OpenSource(""), kOk);
    (void)backup::CollectEverything(engine, out);
  }

  static inline corvyn::testing::TempFolder* temp_ = nullptr;
  static inline int counter_ = 0;
  FolderPhone phone_;
  DeviceSource source_;
  std::vector<std::string> passwords_;
};

std::vector<std::string> Names(const std::vector<MediaFileRecord>& records) {
  std::vector<std::string> names;
  for (const auto& r : records) names.push_back(r.name);
  return names;
}

TEST(VersionRule, ComparesVersionsAsNumbers) {
  struct Case {
    const char* version;
    bool before;
  } cases[] = {{"8.2", true},    {"8.2.1", true}, {"7.1.2", true}, {"", true},        {"8.3", false},
               {"8.3.0", false}, {"9.0", false},  {"10.0", false}, {"17.4.1", false}, {"8.10", false}};
  for (const Case& c : cases) EXPECT_EQ(VersionBefore(c.version, "8.3"), c.before) << c.version;
}

TEST_F(DeviceEngineTest, ATodaysPhoneGivesWhatItsBackupGivesAndItsPicturesFromThePhone) {
  EngineRecords got;
  ProgressLog progress;
  {
    CDeviceRecovery engine;
    ASSERT_EQ(engine.Attach(&source_), kOk);
    ASSERT_EQ(engine.SetProgressCallback(&ProgressLog::Record, &progress), kOk);
    ASSERT_EQ(engine.OpenSource(""), kOk);
    EXPECT_EQ(engine.ProductVersion(), "17.3");
    (void)backup::CollectEverything(engine, got);
    EXPECT_TRUE(got.failures.empty()) << got.failures.front();
    ASSERT_TRUE(fs::exists(engine.BackupFolder()));

    // The pictures are the phone's own, walked and copied; everything else
    // is what the backup engine reads from the same backup.
    EXPECT_EQ(Names(got.cameraRoll),
              (std::vector<std::string>{"img_0001.HEIC", "IMG_0002.JPG", "IMG_0100.PNG"}));
    EXPECT_EQ(Names(got.photoStream), std::vector<std::string>{"IMG_0500.JPG"});
    EXPECT_EQ(ReadFile(got.cameraRoll[1].path), ReadFile(phone_.media / "DCIM/100APPLE/IMG_0002.JPG"));
    EXPECT_EQ(got.cameraRoll[1].size, 5000u);
    EXPECT_TRUE(phone_.opened.empty()) << "a phone of today is never asked for an application's container";

    EngineRecords expected;
    ScanBackupFolder(engine.BackupFolder(), expected);
    EXPECT_EQ(got.conversations.size(), expected.conversations.size());
    EXPECT_EQ(got.attachments.size(), expected.attachments.size());
    EXPECT_EQ(got.contacts.size(), expected.contacts.size());
    EXPECT_EQ(got.calls.size(), expected.calls.size());
    EXPECT_EQ(got.notes.size(), expected.notes.size());
    EXPECT_EQ(got.whatsApp.size(), expected.whatsApp.size());
    EXPECT_EQ(got.whatsAppAttachments.size(), expected.whatsAppAttachments.size());
    EXPECT_EQ(got.appFiles.size(), expected.appFiles.size());
    EXPECT_FALSE(got.conversations.empty());
    EXPECT_FALSE(got.notes.empty());
    EXPECT_FALSE(got.whatsAppAttachments.empty());
    for (const auto& [key, messages] : expected.conversations) {
      ASSERT_TRUE(got.conversations.count(key));
      ASSERT_EQ(got.conversations.at(key).size(), messages.size());
      for (std::size_t i = 0; i < messages.size(); ++i)
        EXPECT_EQ(got.conversations.at(key)[i].text, messages[i].text);
    }
  }
  // The helper's 45 lies within the opening's share, the backup's scale after it.
  ASSERT_GE(progress.values.size(), 4u);
  EXPECT_EQ(progress.values[0], 1);
  EXPECT_EQ(progress.values[1], 1 + 45 * 18 / 100);
  EXPECT_TRUE(std::is_sorted(progress.values.begin(), progress.values.end()))
      << ::testing::PrintToString(progress.values);
  EXPECT_LE(progress.values.back(), 100);
  // Released, the engine leaves neither the helper's backup nor its copies.
  EXPECT_TRUE(fs::is_empty(source_.backupRoot));
  EXPECT_FALSE(fs::exists(source_.workingRoot / kDeviceWorkFolder));
}

TEST_F(DeviceEngineTest, AnOldPhoneGivesItsApplicationsFilesFromTheirContainers) {
  UseBackup(Root() / "standard");
  phone_.values["ProductVersion"] = "8.2";
  const fs::path whatsApp = Root() / "wa-container";
  WriteFile(whatsApp / "Library/Media/4915/a/b/PHOTO.jpg", ts::MakeJpegExif(3100, 5));
  WriteFile(whatsApp / "Library/Media/4915/voice.opus.txt", "no media");
  WriteFile(whatsApp / "Documents/inside.JPG", ts::MakeJpegExif(3200, 6));
  const fs::path qq = Root() / "qq-container";
  WriteFile(qq / "Documents/12345/QQ.db", "SQLite format 3");
  WriteFile(qq / "Documents/face.png", ts::MakePng(2200, 7));
  const fs::path other = Root() / "other-container";
  WriteFile(other / "Documents/clip.mov", ts::MakeMov(4100, 8));
  phone_.containers = {
      {"net.whatsapp.WhatsApp", whatsApp}, {"com.tencent.mqq", qq}, {"org.example.clips", other}};

  CDeviceRecovery engine;
  ASSERT_EQ(engine.Attach(&source_), kOk);
  ASSERT_EQ(engine.OpenSource(""), kOk);
  EngineRecords got;
  (void)backup::CollectEverything(engine, got);

  EXPECT_EQ(Names(got.whatsAppAttachments), std::vector<std::string>{"PHOTO.JPG"});
  std::set<std::pair<std::string, std::string>> apps;
  for (const AppFileRecord& file : got.appFiles) apps.insert({file.appName, file.name});
  EXPECT_EQ(apps,
            (std::set<std::pair<std::string, std::string>>{
                {"whatsapp.WhatsApp", "inside.JPG"}, {"tencent.mqq", "face.PNG"}, {"other", "clip.MOV"}}));
  // The file service is back on the media folder after the containers.
  std::vector<std::string> top;
  phone_.ListDirectory("/", top);
  EXPECT_NE(std::find(top.begin(), top.end(), "DCIM"), top.end());
  // The databases still come from the backup.
  EXPECT_FALSE(got.conversations.empty());
  EXPECT_FALSE(got.contacts.empty());
}

TEST_F(DeviceEngineTest, TheHelpersEndingsAreTheOpeningsResult) {
  struct Case {
    Status helper;
  } cases[] = {{kPasscodeLocked}, {kSourceUnreadable}, {kStopped}, {Status(kInvalidData, "cannot start")}};
  for (const Case& c : cases) {
    source_.makeBackup = [&c](const std::string&, ProgressCallback, void*, fs::path&) { return c.helper; };
    CDeviceRecovery engine;
    ASSERT_EQ(engine.Attach(&source_), kOk);
    EXPECT_EQ(engine.OpenSource("secret"), c.helper);
  }
  // A helper that names no folder leaves every database category failing in words.
  source_.makeBackup = [](const std::string&, ProgressCallback, void*, fs::path&) { return Status(); };
  CDeviceRecovery engine;
  ASSERT_EQ(engine.Attach(&source_), kOk);
  ASSERT_EQ(engine.OpenSource(""), kOk);
  ConversationMap conversations;
  const Status messages = engine.CollectMessages(conversations);
  EXPECT_EQ(messages, kInvalidData);
  EXPECT_NE(messages.Message().find("named no backup"), std::string::npos) << messages.Message();
  std::vector<MediaFileRecord> roll, stream;
  EXPECT_EQ(engine.CollectPhotos(roll, stream), kOk);
  ASSERT_EQ(roll.size(), 3u);
  // The phone's own pictures are still shown and exported.
  fs::path preview;
  ASSERT_EQ(engine.ExtractForPreview(roll[1].path, preview, nullptr, nullptr), kOk);
  EXPECT_EQ(ReadFile(preview), ReadFile(phone_.media / "DCIM/100APPLE/IMG_0002.JPG"));
  const fs::path exported = Root() / "exported" / roll[1].name;
  ASSERT_EQ(engine.CopyFileWithProgress(roll[1].path, exported, nullptr, nullptr), kOk);
  EXPECT_EQ(ReadFile(exported), ReadFile(phone_.media / "DCIM/100APPLE/IMG_0002.JPG"));
}

TEST_F(DeviceEngineTest, AStopDuringTheWalkEndsItAndTheBackupOutsideTheRootIsKept) {
  const fs::path outside = Root() / "kept-backup";
  fs::create_directories(outside);
  fs::copy(Root() / "today", outside, fs::copy_options::recursive);
  source_.makeBackup = [&outside](const std::string&, ProgressCallback, void*, fs::path& folder) {
    folder = outside;
    return Status();
  };
  ProgressLog progress;
  {
    CDeviceRecovery engine;
    ASSERT_EQ(engine.Attach(&source_), kOk);
    ASSERT_EQ(engine.SetProgressCallback(&ProgressLog::Record, &progress), kOk);
    ASSERT_EQ(engine.OpenSource(""), kOk);
    progress.stopAt = progress.values.back() + 1;
    std::vector<MediaFileRecord> roll, stream;
    EXPECT_EQ(engine.CollectPhotos(roll, stream), kStopped);
    EXPECT_TRUE(stream.empty());
  }
  EXPECT_TRUE(fs::exists(outside / "Manifest.db")) << "only backups inside the helper's root are deleted";
}

}  // namespace
}  // namespace corvyn::device
