#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "backup/BackupContext.h"
#include "backup/CLocalBuckupRecovery.h"
#include "core/EngineFactory.h"
#include "tests/backup/EngineRecords.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tests/support/sqlite_fixtures/NoteStoreBuilder.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;
using testsupport::StandardBackup;

struct ProgressLog {
  std::vector<int> values;
  int stopAt = -1;  // answer 2 from this report on (index into values)

  static int Record(void* self, int percent) {
    auto* log = static_cast<ProgressLog*>(self);
    log->values.push_back(percent);
    return log->stopAt >= 0 && static_cast<int>(log->values.size()) > log->stopAt ? kStopAnswer : 0;
  }
};

using Collected = EngineRecords;

class BackupEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = temp_.Path();
    ASSERT_EQ(testsupport::MakeStandardBackup(root_ / "scratch", backup_, options_), kOk);
    folder_ = root_ / "backup";
    ASSERT_EQ(backup_.builder.Write(folder_), kOk);
  }
  void Prepare() {
    BackupDescriptor descriptor;
    ASSERT_EQ(ReadBackupFolder(folder_, descriptor), kOk);
    context_.Select(descriptor);
    context_.workingRoot = root_ / "work";
    ASSERT_EQ(engine_.Attach(&context_), kOk);
    (void)engine_.SetProgressCallback(&ProgressLog::Record, &log_);
  }

  Status ScanAll(Collected& out) {
    if (const Status status = engine_.OpenSource(""); status != kOk) return status;
    return CollectEverything(engine_, out);
  }

  std::string Stored(const std::string& name) const { return (folder_ / name).string(); }

  testsupport::StandardBackupOptions options_;
  corvyn::testing::TempFolder temp_{"engine"};
  fs::path root_, folder_;
  StandardBackup backup_;
  BackupContext context_;
  CLocalBuckupRecovery engine_;
  ProgressLog log_;
};

template <class Record>
std::vector<std::string> Names(const std::vector<Record>& records) {
  std::vector<std::string> names;
  for (const auto& r : records) names.push_back(r.name);
  return names;
}

TEST_F(BackupEngineTest, NotesComeFromTheOlderDatabaseAndTheNotesStoreTogether) {
  // The Notes store sits in the Notes app group; the engine finds it by the
  // stored name of that domain and path, beside the older notes database.
  const fs::path store = root_ / "store" / "NoteStore.sqlite";
  fs::create_directories(store.parent_path());
  const std::vector<corvyn::testing::ExpectedNote> storeNotes = corvyn::testing::BuildNoteStore(store);
  ASSERT_EQ(backup_.builder.AddFileFrom("AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite", store),
            kOk);
  folder_ = root_ / "with-store";
  ASSERT_EQ(backup_.builder.Write(folder_), kOk);
  Prepare();
  ASSERT_EQ(engine_.OpenSource(""), kOk);
  std::vector<NoteRecord> notes;
  ASSERT_EQ(engine_.CollectNotes(notes), kOk);

  std::multiset<std::string> titles, expectedTitles;
  for (const auto& n : notes) titles.insert(n.title);
  for (const auto& n : backup_.databases.notes) expectedTitles.insert(n.title);
  for (const auto& n : storeNotes) expectedTitles.insert(n.title);
  EXPECT_EQ(titles, expectedTitles);
  const auto diary =
      std::find_if(notes.begin(), notes.end(), [](const NoteRecord& n) { return n.title == "Diary"; });
  ASSERT_NE(diary, notes.end());
  EXPECT_EQ(diary->locked, 1);
  EXPECT_EQ(diary->folder, "Private");
}

TEST_F(BackupEngineTest, MediaCategoriesMatchTheBuiltBackup) {
  Prepare();
  Collected got;
  ASSERT_EQ(ScanAll(got), kOk);
  const auto& truth = backup_.media;
  const auto checkMedia = [&](const std::vector<MediaFileRecord>& records,
                              const std::vector<MediaFileRecord>& expected, const char* label) {
    ASSERT_EQ(Names(records), Names(expected)) << label;
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].size, expected[i].size) << label << " " << expected[i].name;
      EXPECT_EQ(records[i].path, Stored(expected[i].path)) << label << " " << expected[i].name;
    }
  };
  checkMedia(got.cameraRoll, truth.cameraRoll, "Camera Roll");
  checkMedia(got.photoStream, truth.photoStream, "Photo Stream");
  checkMedia(got.whatsAppAttachments, truth.whatsAppAttachments, "WhatsApp Attachments");

  ASSERT_EQ(Names(got.attachments), Names(truth.messageAttachments));
  for (std::size_t i = 0; i < got.attachments.size(); ++i) {
    EXPECT_EQ(got.attachments[i].size, truth.messageAttachments[i].size);
    EXPECT_EQ(got.attachments[i].path, Stored(truth.messageAttachments[i].path));
  }
  ASSERT_EQ(got.appFiles.size(), truth.appFiles.size());
  for (std::size_t i = 0; i < got.appFiles.size(); ++i) {
    EXPECT_EQ(got.appFiles[i].name, truth.appFiles[i].name);
    EXPECT_EQ(got.appFiles[i].appName, truth.appFiles[i].appName);
    EXPECT_EQ(got.appFiles[i].size, truth.appFiles[i].size);
    EXPECT_EQ(got.appFiles[i].path, Stored(truth.appFiles[i].path));
  }
}

TEST_F(BackupEngineTest, DatabaseCategoriesHoldTheFixtureRows) {
  Prepare();
  Collected got;
  ASSERT_EQ(ScanAll(got), kOk);
  const auto& truth = backup_.databases;

  std::multiset<std::pair<int, std::string>> messages, expectedMessages;
  for (const auto& [handle, list] : got.conversations) {
    for (const auto& m : list) messages.insert({handle, m.text});
  }
  for (const auto& m : truth.messages) expectedMessages.insert({m.handleId, m.text});
  EXPECT_EQ(messages, expectedMessages);

  std::multiset<std::string> contactNames, expectedContacts;
  for (const auto& c : got.contacts) contactNames.insert(c.name);
  for (const auto& c : truth.contacts)
    expectedContacts.insert(c.first + c.last);  // the decoder joins them as stored
  EXPECT_EQ(contactNames, expectedContacts);

  std::multiset<std::string> numbers, expectedNumbers;
  for (const auto& c : got.calls) numbers.insert(c.number);
  for (const auto& c : truth.calls) expectedNumbers.insert(c.number);
  EXPECT_EQ(numbers, expectedNumbers);

  std::multiset<std::string> titles, expectedTitles;
  for (const auto& n : got.notes) titles.insert(n.title);
  for (const auto& n : truth.notes) expectedTitles.insert(n.title);
  EXPECT_EQ(titles, expectedTitles);

  std::multiset<std::string> chats, expectedChats;
  for (const auto& [session, list] : got.whatsApp) {
    for (const auto& m : list) chats.insert(m.text);
  }
  for (const auto& m : truth.whatsApp) expectedChats.insert(m.text);
  EXPECT_EQ(chats, expectedChats);
}

// Each operation ends at its share of the progress, whatever it found.
TEST_F(BackupEngineTest, ProgressEndsEachOperationAtItsShare) {
  Prepare();
  const struct {
    const char* operation;
    int end;
  } expected[] = {
      {"OpenSource", 12},      {"CollectPhotos", 34},
      {"CollectMessages", 39}, {"CollectMessageAttachments", 50},
      {"CollectContacts", 55}, {"CollectCallHistory", 60},
      {"CollectNotes", 65},    {"CollectAppFiles", 76},
      {"CollectWhatsApp", 87}, {"CollectWhatsAppAttachments", 98},
  };
  Collected got;
  std::vector<int> ends;
  ASSERT_EQ(engine_.OpenSource(""), kOk);
  EXPECT_EQ(log_.values.front(), 0);
  EXPECT_EQ(log_.values.at(1), 1);  // the source was accepted
  ends.push_back(log_.values.back());
  (void)engine_.CollectPhotos(got.cameraRoll, got.photoStream), ends.push_back(log_.values.back());
  (void)engine_.CollectMessages(got.conversations), ends.push_back(log_.values.back());
  (void)engine_.CollectMessageAttachments(got.attachments), ends.push_back(log_.values.back());
  (void)engine_.CollectContacts(got.contacts), ends.push_back(log_.values.back());
  (void)engine_.CollectCallHistory(got.calls), ends.push_back(log_.values.back());
  (void)engine_.CollectNotes(got.notes), ends.push_back(log_.values.back());
  (void)engine_.CollectAppFiles(got.appFiles), ends.push_back(log_.values.back());
  (void)engine_.CollectWhatsApp(got.whatsApp), ends.push_back(log_.values.back());
  (void)engine_.CollectWhatsAppAttachments(got.whatsAppAttachments), ends.push_back(log_.values.back());
  for (std::size_t i = 0; i < ends.size(); ++i) EXPECT_EQ(ends[i], expected[i].end) << expected[i].operation;
}

TEST_F(BackupEngineTest, AStopAnswerEndsTheOperationWithIt) {
  Prepare();
  ASSERT_EQ(engine_.OpenSource(""), kOk);
  log_.stopAt = static_cast<int>(log_.values.size());  // the next report answers 2
  std::vector<MediaFileRecord> cameraRoll, photoStream;
  EXPECT_EQ(engine_.CollectPhotos(cameraRoll, photoStream), kStopped);
  EXPECT_EQ(cameraRoll.size() + photoStream.size(), 1u);  // stopped right after the first media entry
  std::vector<AttachmentRecord> attachments;
  EXPECT_EQ(engine_.CollectMessageAttachments(attachments), kStopped);
}

TEST_F(BackupEngineTest, NothingInTheBackupFolderChanges) {
  const auto before = testsupport::HashFolder(folder_);
  Prepare();
  Collected got;
  ASSERT_EQ(ScanAll(got), kOk);
  fs::path preview;
  ASSERT_FALSE(got.cameraRoll.empty());
  EXPECT_EQ(context_.ExtractForPreview(got.cameraRoll.front().path, preview, nullptr, nullptr), kOk);
  fs::create_directories(root_ / "out");
  EXPECT_EQ(engine_.ExportMessagesCsv(root_ / "out" / "messages.csv"), kOk);
  EXPECT_EQ(engine_.ExportContactsCsv(root_ / "out" / "contacts.csv"), kOk);
  EXPECT_EQ(testsupport::HashFolder(folder_), before);
}

TEST_F(BackupEngineTest, MissingManifestIsInvalidData) {
  fs::remove(folder_ / "Manifest.mbdb");
  Prepare();
  const Status status = engine_.OpenSource("");
  EXPECT_EQ(status, kInvalidData);
  EXPECT_NE(status.Message().find("Manifest.mbdb"), std::string::npos) << status;
  EXPECT_EQ(log_.values.back(), 0);  // refused before any work
}

TEST_F(BackupEngineTest, AnEarlierScanLeavesNothingBehind) {
  Prepare();
  Collected first;
  ASSERT_EQ(ScanAll(first), kOk);
  ASSERT_FALSE(context_.whatsAppAttachments.empty());
  const std::size_t mapSize = context_.fileMap.size();
  ASSERT_EQ(engine_.OpenSource(""), kOk);
  EXPECT_TRUE(context_.whatsAppAttachments.empty());
  EXPECT_TRUE(context_.conversations.empty());
  EXPECT_EQ(context_.fileMap.size(), mapSize);  // read afresh, not appended
}

// A database's "-wal", "-shm" and "-journal" companions come before it in
// many manifests; the chats must come from the database itself.
TEST_F(BackupEngineTest, WhatsAppChatsComeFromTheDatabaseNotItsCompanions) {
  testsupport::BackupBuilder companionsFirst;
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    companionsFirst.AddFile("AppDomain-net.whatsapp.WhatsApp",
                            std::string("Documents/ChatStorage.sqlite") + suffix, "not a database");
  }
  companionsFirst.AddFile("AppDomain-net.whatsapp.WhatsApp", "Library/Backup/ChatStorage.sqlite.old",
                          "not a database");
  for (const auto& record : backup_.builder.Records()) companionsFirst.AddRecord(record);
  folder_ = root_ / "companions-first";
  ASSERT_EQ(companionsFirst.Write(folder_), kOk);
  Prepare();
  ASSERT_EQ(engine_.OpenSource(""), kOk);
  WhatsAppChatMap chats;
  ASSERT_EQ(engine_.CollectWhatsApp(chats), kOk);
  std::size_t messages = 0;
  for (const auto& [session, list] : chats) messages += list.size();
  EXPECT_EQ(messages, backup_.databases.whatsApp.size());
}

TEST(BackupEngineLookup, ChatDatabasesAreFoundByTheirExactNames) {
  const auto map = [](std::initializer_list<const char*> keys) {
    BackupFileMap entries;
    for (const char* key : keys) entries.push_back({key, StoredNameOf(key)});
    return entries;
  };
  const struct {
    const char* label;
    BackupFileMap entries;
    std::string_view fileName;
    const char* expected;  // key, or null for none
  } cases[] = {
      {"companions first",
       map({"AppDomain-com.tencent.mqq-Documents/123/QQ.db-wal",
            "AppDomain-com.tencent.mqq-Documents/123/QQ.db-shm",
            "AppDomain-com.tencent.mqq-Documents/123/QQ.db"}),
       kQQFileName, "AppDomain-com.tencent.mqq-Documents/123/QQ.db"},
      {"a longer name ending alike", map({"AppDomain-com.tencent.mqq-Documents/123/OldQQ.db"}), kQQFileName,
       nullptr},
      {"companion only", map({"AppDomain-com.tencent.xin-Documents/ab/DB/MM.sqlite-wal"}), kWeChatFileName,
       nullptr},
      {"per-account folder", map({"AppDomain-com.tencent.xin-Documents/ab/DB/MM.sqlite"}), kWeChatFileName,
       "AppDomain-com.tencent.xin-Documents/ab/DB/MM.sqlite"},
  };
  for (const auto& c : cases) {
    const BackupFileEntry* found = FindEntryByFileName(c.entries, c.fileName);
    if (c.expected) {
      ASSERT_NE(found, nullptr) << c.label;
      EXPECT_EQ(found->key, c.expected) << c.label;
    } else {
      EXPECT_EQ(found, nullptr) << c.label;
    }
  }
  const BackupFileMap group = map({"AppDomainGroup-group.net.whatsapp.WhatsApp.shared-ChatStorage.sqlite-wal",
                                   "AppDomainGroup-group.net.whatsapp.WhatsApp.shared-ChatStorage.sqlite"});
  const BackupFileEntry* chats = FindEntryByKey(group, kWhatsAppChatsKeys);
  ASSERT_NE(chats, nullptr);
  EXPECT_EQ(chats, &group[1]);
}

// Sizes of 4 GiB and more were once cut to their low 32 bits.
TEST(BackupEngineSizes, FilesOf4GiBAndMoreKeepTheirSize) {
  constexpr uint64_t kLarge = (5ull << 30) + 3;
  const corvyn::testing::TempFolder temp("engine-sizes");
  const fs::path& root = temp.Path();
  const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + "xx";
  const struct {
    const char* domain;
    const char* path;
  } files[] = {
      {"CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.PNG"},
      {"MediaDomain", "Library/SMS/Attachments/ab/01/IMG_0002.PNG"},
      {"AppDomain-com.example.camera", "Documents/IMG_0003.PNG"},
  };
  testsupport::BackupBuilder builder;
  for (const auto& file : files) builder.AddFile(file.domain, file.path, png);
  const fs::path folder = root / "backup";
  ASSERT_EQ(builder.Write(folder), kOk);
  for (const auto& file : files) {
    fs::resize_file(folder / testsupport::StoredNameFor(file.domain, file.path), kLarge);  // sparse
  }
  BackupContext context;
  BackupDescriptor descriptor;
  ASSERT_EQ(ReadBackupFolder(folder, descriptor), kOk);
  context.Select(descriptor);
  ASSERT_EQ(context.OpenSource(""), kOk);
  std::vector<MediaFileRecord> cameraRoll, photoStream;
  std::vector<AttachmentRecord> attachments;
  std::vector<AppFileRecord> appFiles;
  ASSERT_EQ(context.CollectPhotos(cameraRoll, photoStream), kOk);
  ASSERT_EQ(context.CollectMessageAttachments(attachments), kOk);
  ASSERT_EQ(context.CollectAppFiles(appFiles), kOk);
  ASSERT_EQ(cameraRoll.size(), 1u);
  ASSERT_EQ(attachments.size(), 1u);
  ASSERT_EQ(appFiles.size(), 1u);
  EXPECT_EQ(cameraRoll[0].size, kLarge);
  EXPECT_EQ(attachments[0].size, kLarge);
  EXPECT_EQ(appFiles[0].size, kLarge);
}

// Today's phone media have a category and a preview.
TEST(BackupEngineTypes, NewerPhoneMediaArePreviewed) {
  const corvyn::testing::TempFolder temp("engine-types");
  const fs::path& root = temp.Path();
  const struct {
    const char* label;
    std::string bytes;
    const char* copyName;
  } cases[] = {
      {"HEIC",
       std::string("\0\0\0\x18"
                   "ftypheic\0\0\0\0mif1heic",
                   24),
       "tmp.jpg"},
      {"AVIF",
       std::string("\0\0\0\x18"
                   "ftypavif\0\0\0\0mif1avif",
                   24),
       "tmp.jpg"},
      {"M4A",
       std::string("\0\0\0\x18"
                   "ftypM4A \0\0\0\0M4A mp42",
                   24),
       "tmp.wav"},
      {"CAF", std::string("caff\0\x01\0\0", 8), "tmp.wav"},
      {"AAC", std::string("\xFF\xF1\x50\x80\x02\x1F\xFC", 7), "tmp.wav"},
  };
  BackupContext context;
  context.workingRoot = root / "work";
  for (const auto& c : cases) {
    const fs::path source = root / c.label;
    std::ofstream(source, std::ios::binary) << c.bytes << std::string(600, '\0');
    fs::path preview;
    EXPECT_EQ(context.ExtractForPreview(source, preview, nullptr, nullptr), kOk) << c.label;
    EXPECT_EQ(preview.filename(), c.copyName) << c.label;
  }
}

class NewerCallHistoryTest : public BackupEngineTest {
 protected:
  void SetUp() override {
    options_.newerCallHistory = true;
    BackupEngineTest::SetUp();
  }
};

TEST_F(NewerCallHistoryTest, CallHistoryComesFromTheNewerStoreWhenPresent) {
  Prepare();
  ASSERT_EQ(engine_.OpenSource(""), kOk);
  std::vector<CallRecord> calls;
  EXPECT_EQ(engine_.CollectCallHistory(calls), kOk);
  ASSERT_EQ(calls.size(), backup_.databases.calls.size());
  EXPECT_FALSE(fs::exists(folder_ / kOlderCallHistoryStoredName));
}

// Keys of a hostile manifest cannot lead the engine or an export out of their
// folders: stored names are hashes, names and application names are cleaned,
// and stored files that are links are skipped.
TEST(BackupEngineHostile, NamesAndPathsStayInTheirFolders) {
  const corvyn::testing::TempFolder temp("engine-hostile");
  const fs::path& root = temp.Path();
  testsupport::BackupBuilder builder;
  builder.AddFile("AppDomain-com.evil/../../../tmp/x", "Documents/a.png",
                  std::string("\x89PNG\r\n\x1A\n", 8) + "xx");
  builder.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/..", std::string("\x89PNG\r\n\x1A\n", 8) + "yy");
  builder.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/linked.png", "placeholder");
  const fs::path folder = root / "backup";
  ASSERT_EQ(builder.Write(folder), kOk);
  // A stored file replaced by a link to a file outside the backup.
  const fs::path outside = root / "secret.png";
  std::ofstream(outside, std::ios::binary) << std::string("\x89PNG\r\n\x1A\n", 8) << "secret";
  const fs::path linked =
      folder / testsupport::StoredNameFor("CameraRollDomain", "Media/DCIM/100APPLE/linked.png");
  fs::remove(linked);
  fs::create_symlink(outside, linked);

  BackupContext context;
  BackupDescriptor descriptor;
  ASSERT_EQ(ReadBackupFolder(folder, descriptor), kOk);
  context.Select(descriptor);
  ASSERT_EQ(context.OpenSource(""), kOk);
  std::vector<MediaFileRecord> cameraRoll, photoStream;
  ASSERT_EQ(context.CollectPhotos(cameraRoll, photoStream), kOk);
  ASSERT_EQ(cameraRoll.size(), 1u);
  EXPECT_EQ(cameraRoll[0].name, "_");
  EXPECT_EQ(fs::path(cameraRoll[0].path).parent_path(), folder);
  std::vector<AppFileRecord> files;
  ASSERT_EQ(context.CollectAppFiles(files), kOk);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].appName.find('/'), std::string::npos);
  EXPECT_EQ(files[0].appName, "evil_.._.._.._tmp_x");
}

TEST(BackupEngineNames, ApplicationNamesAndSafeNames) {
  const struct {
    const char* key;
    const char* appName;
  } apps[] = {
      {"AppDomain-com.example.camera-Documents/a.jpg", "example.camera"},
      {"AppDomain-net.whatsapp.WhatsApp-Library/Media/a.jpg", "whatsapp.WhatsApp"},
      {"AppDomain-org.example.sketch-Documents/a.png", "other"},
      {"AppDomain-com.nodash", "nodash"},
  };
  for (const auto& app : apps) EXPECT_EQ(AppNameOf(app.key), app.appName) << app.key;
  const struct {
    const char* name;
    const char* safe;
  } names[] = {{"IMG_0001.JPG", "IMG_0001.JPG"},
               {"..", "_"},
               {".", "_"},
               {"", "_"},
               {"a\\b", "a_b"},
               {"tab\there", "tab_here"},
               {"caf\xC3\xA9.jpg", "caf\xC3\xA9.jpg"}};
  for (const auto& n : names) EXPECT_EQ(SafeFileName(n.name), n.safe) << n.name;
  EXPECT_EQ(LastComponent("CameraRollDomain-Media/DCIM/a.jpg"), "a.jpg");
  EXPECT_EQ(LastComponent("nokey"), "nokey");
}

TEST(BackupEngineFactory, KindOneCreatesTheBackupEngine) {
  RegisterBackupEngine();
  BackupContext context;
  Status status = kInvalidData;
  auto engine = CreateRecoveryEngine(kSourceKindBackup, &context, &status);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(status, kOk);
  EXPECT_TRUE(engine->IsBackupSource());
  CLocalBuckupRecovery detached;
  std::vector<NoteRecord> notes;
  EXPECT_EQ(detached.CollectNotes(notes), kInvalidData);
}

}  // namespace
}  // namespace corvyn::backup

// Media of WhatsApp's newer versions lie in the shared group container's
// "Message/" folder; they are WhatsApp attachments too.
namespace corvyn::backup {
namespace {

TEST_F(BackupEngineTest, WhatsAppMediaOfTheSharedGroupFolderAreAttachments) {
  const std::string domain = "AppDomainGroup-group.net.whatsapp.WhatsApp.shared";
  const std::string path = "Message/Media/4915112345678@s.whatsapp.net/e/f/0A1B2C3D-photo.jpg";
  const std::string bytes = testsupport::MakeJpegExif(1700, 19);
  backup_.builder.AddFile(domain, path, bytes);
  backup_.builder.AddFile(domain, "Library/Preferences/group.plist", testsupport::MakeJpegExif(900, 20));
  folder_ = root_ / "with-shared-media";
  ASSERT_EQ(backup_.builder.Write(folder_), kOk);
  Prepare();
  Collected got;
  ASSERT_EQ(ScanAll(got), kOk);
  const auto found = std::find_if(
      got.whatsAppAttachments.begin(), got.whatsAppAttachments.end(),
      [&](const MediaFileRecord& r) { return r.path == Stored(testsupport::StoredNameFor(domain, path)); });
  ASSERT_NE(found, got.whatsAppAttachments.end());
  EXPECT_EQ(found->size, bytes.size());
  // Only the "Message/" folder counts; the group's other files are neither
  // attachments nor application files.
  EXPECT_EQ(got.whatsAppAttachments.size(), backup_.media.whatsAppAttachments.size() + 1);
  EXPECT_EQ(got.appFiles.size(), backup_.media.appFiles.size());
}

}  // namespace
}  // namespace corvyn::backup
