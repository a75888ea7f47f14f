// Scans of encrypted backups of the newer layout (iOS 10.2 and later): the
// engine decrypts only what it reads and finds what the same backup holds
// unencrypted.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backup/BackupContext.h"
#include "backup/CLocalBuckupRecovery.h"
#include "backup/ManifestDbReader.h"
#include "backup/WorkingRoot.h"
#include "tests/backup/EngineRecords.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"
#include "tests/support/sqlite_fixtures/WalFixture.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;
namespace ts = testsupport;

constexpr char kPassword[] = "open sesame";

using Collected = EngineRecords;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Bytes this process has handed to write() so far (Linux /proc/self/io).
uint64_t BytesWrittenByThisProcess() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "wchar:") return value;
  }
  return 0;
}

uint64_t FolderSize(const fs::path& folder) {
  uint64_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) total += entry.file_size();
  return total;
}

// One plain backup of the newer layout with something in every category and
// some bulk photos, and its encrypted form.
class EncryptedNewerScanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new corvyn::testing::TempFolder("encrypted-newer");
    backup_ = new ts::StandardBackup;
    ts::StandardBackupOptions options;
    options.bulkPhotos = 40;
    options.bulkFileSize = 256 * 1024;
    ASSERT_EQ(ts::MakeStandardBackup(Root() / "scratch", *backup_, options), kOk);
    ASSERT_EQ(backup_->builder.WriteNewerLayout(Plain()), kOk);
    ASSERT_EQ(ts::EncryptNewerLayoutFolder(Plain(), Encrypted(), kPassword), kOk);
  }
  static void TearDownTestSuite() {
    delete backup_;
    delete temp_;
  }
  static fs::path Root() { return temp_->Path(); }
  static fs::path Plain() { return Root() / "plain"; }
  static fs::path Encrypted() { return Root() / "encrypted"; }

  void Open(BackupContext& context, const fs::path& folder, const std::string& workName) {
    BackupDescriptor descriptor;
    ASSERT_EQ(ReadBackupFolder(folder, descriptor), kOk);
    context.Select(descriptor);
    context.workingRoot = Root() / workName;
  }

  static Status Scan(CLocalBuckupRecovery& engine, const std::string& password, Collected& out) {
    if (const Status status = engine.OpenSource(password); status != kOk) return status;
    (void)CollectEverything(engine, out);  // failures are in out.failures
    return kOk;
  }

  static corvyn::testing::TempFolder* temp_;
  static ts::StandardBackup* backup_;
};
corvyn::testing::TempFolder* EncryptedNewerScanTest::temp_ = nullptr;
ts::StandardBackup* EncryptedNewerScanTest::backup_ = nullptr;

template <class Record>
std::vector<std::pair<std::string, uint64_t>> NamesAndSizes(const std::vector<Record>& records) {
  std::vector<std::pair<std::string, uint64_t>> out;
  for (const auto& record : records) out.emplace_back(record.name, record.size);
  return out;
}

TEST_F(EncryptedNewerScanTest, FindsWhatThePlainBackupHolds) {
  BackupContext plainContext, encryptedContext;
  CLocalBuckupRecovery plainEngine, encryptedEngine;
  Open(plainContext, Plain(), "work-plain");
  Open(encryptedContext, Encrypted(), "work-encrypted");
  ASSERT_EQ(plainEngine.Attach(&plainContext), kOk);
  ASSERT_EQ(encryptedEngine.Attach(&encryptedContext), kOk);
  Collected plain, encrypted;
  ASSERT_EQ(Scan(plainEngine, "", plain), kOk);
  ASSERT_EQ(Scan(encryptedEngine, kPassword, encrypted), kOk);
  EXPECT_TRUE(encryptedContext.DecryptsOnRead());
  EXPECT_EQ(encrypted.failures, plain.failures);
  EXPECT_TRUE(encryptedContext.fileListWarnings.empty());

  EXPECT_EQ(NamesAndSizes(encrypted.cameraRoll), NamesAndSizes(plain.cameraRoll));
  EXPECT_EQ(encrypted.cameraRoll.size(), backup_->media.cameraRoll.size());
  EXPECT_EQ(NamesAndSizes(encrypted.photoStream), NamesAndSizes(plain.photoStream));
  EXPECT_EQ(NamesAndSizes(encrypted.attachments), NamesAndSizes(plain.attachments));
  EXPECT_EQ(NamesAndSizes(encrypted.whatsAppAttachments), NamesAndSizes(plain.whatsAppAttachments));
  EXPECT_EQ(NamesAndSizes(encrypted.appFiles), NamesAndSizes(plain.appFiles));
  EXPECT_EQ(encrypted.conversations.size(), plain.conversations.size());
  EXPECT_FALSE(encrypted.conversations.empty());
  EXPECT_EQ(encrypted.contacts.size(), plain.contacts.size());
  EXPECT_FALSE(encrypted.contacts.empty());
  EXPECT_EQ(encrypted.calls.size(), plain.calls.size());
  EXPECT_EQ(encrypted.notes.size(), plain.notes.size());
  EXPECT_EQ(encrypted.whatsApp.size(), plain.whatsApp.size());
  // Records name the stored (encrypted) files: nothing was decrypted for them.
  ASSERT_FALSE(encrypted.cameraRoll.empty());
  EXPECT_EQ(fs::path(encrypted.cameraRoll.front().path).parent_path().parent_path(), Encrypted());
}

TEST_F(EncryptedNewerScanTest, WrongAndEmptyPasswordsAreRefusedAndLeaveNothing) {
  for (const char* password : {"open sesame ", "OPEN SESAME", ""}) {
    SCOPED_TRACE(password);
    BackupContext context;
    CLocalBuckupRecovery engine;
    Open(context, Encrypted(), "work-wrong");
    ASSERT_EQ(engine.Attach(&context), kOk);
    EXPECT_EQ(engine.OpenSource(password).code(), kWrongPassword);
    EXPECT_FALSE(context.DecryptsOnRead());
    EXPECT_TRUE(context.fileMap.empty());
    EXPECT_FALSE(fs::exists(DecryptedCopyFolder(Root() / "work-wrong")) &&
                 !fs::is_empty(DecryptedCopyFolder(Root() / "work-wrong")));
  }
}

// The source is only read; the scan writes its databases (and the file list,
// deleted once read) and nothing of the media; previews and exports decrypt
// the file they are given; a released engine leaves no decrypted file.
TEST_F(EncryptedNewerScanTest, OnlyWhatIsReadIsDecryptedAndTheBackupStaysAsItWas) {
  const auto before = ts::HashFolder(Encrypted());
  const uint64_t backupSize = FolderSize(Encrypted());
  const fs::path work = Root() / "work-bytes";
  BackupContext context;
  Collected got;
  {
    CLocalBuckupRecovery engine;
    Open(context, Encrypted(), "work-bytes");
    ASSERT_EQ(engine.Attach(&context), kOk);
    const uint64_t start = BytesWrittenByThisProcess();
    ASSERT_EQ(Scan(engine, kPassword, got), kOk);
    const uint64_t written = BytesWrittenByThisProcess() - start;
    EXPECT_LT(written, backupSize / 10) << written << " bytes written for a backup of " << backupSize;
    EXPECT_GT(written, 0u);  // the databases
    EXPECT_LE(FolderSize(DecryptedCopyFolder(work)), written);
    EXPECT_FALSE(fs::exists(DecryptedCopyFolder(work) / "Manifest.db"));

    // A preview and an export get the plain bytes.
    ASSERT_FALSE(got.cameraRoll.empty());
    const MediaFileRecord& photo = got.cameraRoll.front();
    const std::string storedName = fs::path(photo.path).filename().string();
    const std::string plainBytes = ReadAll(Plain() / storedName.substr(0, 2) / storedName);
    fs::path preview;
    ASSERT_EQ(engine.ExtractForPreview(photo.path, preview, nullptr, nullptr), kOk);
    EXPECT_EQ(ReadAll(preview), plainBytes);
    const fs::path exported = Root() / "export" / "Camera Roll" / photo.name;
    ASSERT_EQ(engine.CopyFileWithProgress(photo.path, exported, nullptr, nullptr), kOk);
    EXPECT_EQ(ReadAll(exported), plainBytes);
    EXPECT_EQ(fs::file_size(exported), photo.size);

    // The value lists are those of the same backup unencrypted.
    BackupContext plainContext;
    CLocalBuckupRecovery plainEngine;
    Open(plainContext, Plain(), "work-bytes-plain");
    ASSERT_EQ(plainEngine.Attach(&plainContext), kOk);
    Collected plain;
    ASSERT_EQ(Scan(plainEngine, "", plain), kOk);
    const fs::path lists = Root() / "lists";
    fs::create_directories(lists);
    ASSERT_EQ(engine.ExportMessagesCsv(lists / "messages.csv"), kOk);
    ASSERT_EQ(engine.ExportContactsCsv(lists / "contacts.csv"), kOk);
    ASSERT_EQ(plainEngine.ExportMessagesCsv(lists / "plain messages.csv"), kOk);
    ASSERT_EQ(plainEngine.ExportContactsCsv(lists / "plain contacts.csv"), kOk);
    EXPECT_EQ(ReadAll(lists / "messages.csv"), ReadAll(lists / "plain messages.csv"));
    EXPECT_EQ(ReadAll(lists / "contacts.csv"), ReadAll(lists / "plain contacts.csv"));
    EXPECT_GT(fs::file_size(lists / "contacts.csv"), 0u);
  }
  EXPECT_FALSE(fs::exists(DecryptedCopyFolder(work)));
  EXPECT_FALSE(fs::exists(PreviewFolder(work)));
  EXPECT_EQ(ts::HashFolder(Encrypted()), before);
}

// Every file of protection class 3 carries a key of a type this program
// cannot unwrap: the databases fail in words, the files are named, nothing
// crashes and the list of warnings stays short.
TEST_F(EncryptedNewerScanTest, KeysOfAnUnsupportedTypeAreNamedAndTheScanEnds) {
  ts::ModernEncryptOptions options;
  options.curve25519Class = 3;
  const fs::path folder = Root() / "curve";
  ASSERT_EQ(ts::EncryptNewerLayoutFolder(Plain(), folder, kPassword, options), kOk);
  BackupContext context;
  CLocalBuckupRecovery engine;
  Open(context, folder, "work-curve");
  ASSERT_EQ(engine.Attach(&context), kOk);
  Collected got;
  ASSERT_EQ(Scan(engine, kPassword, got), kOk);
  EXPECT_TRUE(got.cameraRoll.empty());
  EXPECT_TRUE(got.contacts.empty());
  ASSERT_FALSE(got.failures.empty());
  EXPECT_NE(got.failures.front().find("Curve25519"), std::string::npos) << got.failures.front();
  ASSERT_FALSE(context.fileListWarnings.empty());
  EXPECT_NE(context.fileListWarnings.front().find("protection class 3"), std::string::npos)
      << context.fileListWarnings.front();
  EXPECT_LE(context.fileListWarnings.size(), kManifestDbWarningLimit + 1);
  EXPECT_NE(context.fileListWarnings.back().find("more files could not be read"), std::string::npos)
      << context.fileListWarnings.back();
}

// A database with a write-ahead log (and rollback journal) is read from a
// working copy with them beside it, in every kind of backup; one without is read where it lies
// (plain) or decrypted alone.
TEST(DatabaseCopies, ADatabaseComesWithItsLogBesideIt) {
  corvyn::testing::TempFolder temp("database-copies");
  ts::BackupBuilder builder;
  builder.AddFile("HomeDomain", "Library/SMS/sms.db", "messages database");
  builder.AddFile("HomeDomain", "Library/SMS/sms.db-wal", "messages log");
  builder.AddFile("HomeDomain", "Library/SMS/sms.db-journal", "messages journal");
  builder.AddFile("HomeDomain", "Library/Notes/notes.sqlite", "notes database");
  ASSERT_EQ(builder.WriteNewerLayout(temp / "plain"), kOk);
  ASSERT_EQ(ts::EncryptNewerLayoutFolder(temp / "plain", temp / "encrypted", kPassword), kOk);
  for (const char* kind : {"plain", "encrypted"}) {
    SCOPED_TRACE(kind);
    const fs::path folder = temp / kind;
    const fs::path work = temp / (std::string("work ") + kind);
    BackupDescriptor descriptor;
    ASSERT_EQ(ReadBackupFolder(folder, descriptor), kOk);
    BackupContext context;
    context.Select(descriptor);
    context.workingRoot = work;
    ASSERT_EQ(context.OpenSource(descriptor.encrypted ? kPassword : ""), kOk);

    fs::path messages;
    ASSERT_EQ(context.DatabasePath(kMessagesStoredName, messages), kOk);
    EXPECT_EQ(messages.parent_path().parent_path(), DecryptedCopyFolder(work));
    EXPECT_EQ(ReadAll(messages), "messages database");
    fs::path log = messages;
    log += "-wal";
    EXPECT_EQ(ReadAll(log), "messages log");
    fs::path journal = messages;
    journal += "-journal";
    EXPECT_EQ(ReadAll(journal), "messages journal");

    fs::path notes;
    ASSERT_EQ(context.DatabasePath(kNotesStoredName, notes), kOk);
    EXPECT_EQ(ReadAll(notes), "notes database");
    EXPECT_EQ(notes == context.StoredPath(kNotesStoredName), !descriptor.encrypted);
    fs::path noLog = notes;
    noLog += "-wal";
    EXPECT_FALSE(fs::exists(noLog));

    fs::path missing;
    EXPECT_EQ(context.DatabasePath(kCallHistoryStoredName, missing).code(), kInvalidData);
    context.DiscardWorkingFiles();
    EXPECT_FALSE(fs::exists(messages));
  }
}

fs::path ExternalData() {
  if (const char* env = std::getenv("CORVYN_TESTDATA")) return env;
  return CORVYN_EXTERNAL_TESTDATA;
}

void WritePlistFile(const fs::path& path, plist_t root) {
  char* bytes = nullptr;
  uint32_t length = 0;
  plist_to_bin(root, &bytes, &length);
  std::ofstream(path, std::ios::binary).write(bytes, length);
  plist_to_bin_free(bytes);
  plist_free(root);
}

// An address book whose newest contact is only in its write-ahead log: the
// backup's log reaches the page reader, in a plain and in an encrypted
// backup alike.
TEST(DatabaseCopies, AContactKeptOnlyInTheLogIsRead) {
  corvyn::testing::TempFolder temp("log-only-contact");
  auto database = corvyn::testing::FixtureDatabase::Create(temp / "build.sqlitedb");
  ASSERT_TRUE(database);
  ASSERT_TRUE(database->Exec(corvyn::testing::ContactContentTable().CreateSql()));
  ASSERT_TRUE(
      database->Exec("INSERT INTO ABPersonFullTextSearch_content (docid, c0First, c1Last, c15Phone) "
                     "VALUES (1, 'Anna', 'Berger', '+4915112345678 ')"));
  ASSERT_TRUE(corvyn::testing::SwitchToWal(*database));
  ASSERT_TRUE(
      database->Exec("INSERT INTO ABPersonFullTextSearch_content (docid, c0First, c1Last, c15Phone) "
                     "VALUES (2, 'Ludwig', 'Logged', '+4930123456 ')"));
  ASSERT_TRUE(corvyn::testing::SnapshotWithWal(*database, temp / "AddressBook.sqlitedb"));
  ASSERT_TRUE(fs::exists(temp / "AddressBook.sqlitedb-wal"));

  ts::BackupBuilder builder;
  ASSERT_EQ(builder.AddFileFrom("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb",
                                temp / "AddressBook.sqlitedb"),
            kOk);
  ASSERT_EQ(builder.AddFileFrom("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb-wal",
                                temp / "AddressBook.sqlitedb-wal"),
            kOk);
  ASSERT_EQ(builder.WriteNewerLayout(temp / "plain"), kOk);
  ASSERT_EQ(ts::EncryptNewerLayoutFolder(temp / "plain", temp / "encrypted", kPassword), kOk);
  for (const char* kind : {"plain", "encrypted"}) {
    SCOPED_TRACE(kind);
    BackupDescriptor descriptor;
    ASSERT_EQ(ReadBackupFolder(temp / kind, descriptor), kOk);
    BackupContext context;
    context.Select(descriptor);
    context.workingRoot = temp / (std::string("work ") + kind);
    ASSERT_EQ(context.OpenSource(descriptor.encrypted ? kPassword : ""), kOk);
    std::vector<ContactRecord> contacts;
    ASSERT_EQ(context.CollectContacts(contacts), kOk);
    std::vector<std::string> names;
    for (const ContactRecord& contact : contacts) names.push_back(contact.name);
    EXPECT_EQ(names.size(), 2u);
    EXPECT_NE(std::find_if(names.begin(), names.end(),
                           [](const std::string& name) { return name.find("Ludwig") != std::string::npos; }),
              names.end());
  }
}

// pyiosbackup's published vector (password "0000", 10,000,000 first-stage
// rounds) assembled as its tests assemble it: the engine opens it with the
// password, reads its one file and refuses a wrong password.
TEST(EncryptedNewerVector, PyiosbackupsBackupOpensWithItsPasswordOnly) {
  const fs::path data = ExternalData() / "matan1008__pyiosbackup";
  if (!fs::exists(data / "extracted/keybag_ios10_2plus.bin"))
    GTEST_SKIP() << "external test data not found under " << data;
  corvyn::testing::TempFolder temp("pyiosbackup-engine");
  const fs::path folder = temp.Path() / "backup";
  fs::create_directories(folder / "57");
  const std::string keybag = ReadAll(data / "extracted/keybag_ios10_2plus.bin");
  const std::string manifestKey = ReadAll(data / "extracted/ManifestKey.bin");
  plist_t manifest = plist_new_dict();
  plist_dict_set_item(manifest, "BackupKeyBag", plist_new_data(keybag.data(), keybag.size()));
  plist_dict_set_item(manifest, "ManifestKey", plist_new_data(manifestKey.data(), manifestKey.size()));
  plist_dict_set_item(manifest, "IsEncrypted", plist_new_bool(1));
  plist_t lockdown = plist_new_dict();
  plist_dict_set_item(lockdown, "ProductVersion", plist_new_string("10.3"));
  plist_dict_set_item(manifest, "Lockdown", lockdown);
  WritePlistFile(folder / "Manifest.plist", manifest);
  WritePlistFile(folder / "Info.plist", plist_new_dict());
  WritePlistFile(folder / "Status.plist", plist_new_dict());
  fs::copy_file(data / "tests/encrypted_sqlite3_db.bin", folder / "Manifest.db");
  const std::string fileId = "5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc";
  fs::copy_file(data / "extracted" / ("file_" + fileId + ".bin"), folder / "57" / fileId);
  const auto before = ts::HashFolder(folder);

  BackupDescriptor descriptor;
  ASSERT_EQ(ReadBackupFolder(folder, descriptor), kOk);
  EXPECT_TRUE(descriptor.encrypted);
  EXPECT_EQ(descriptor.productVersion, "10.3");
  const struct {
    const char* password;
    StatusCode code;
  } cases[] = {{"0000", kOk}, {"0001", kWrongPassword}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    BackupContext context;
    context.Select(descriptor);
    context.workingRoot = temp.Path() / "work";
    CLocalBuckupRecovery engine;
    ASSERT_EQ(engine.Attach(&context), kOk);
    ASSERT_EQ(engine.OpenSource(c.password).code(), c.code);
    if (c.code != kOk) continue;
    EXPECT_TRUE(context.fileListWarnings.empty())
        << context.fileListWarnings.front();  // flags 0, a file's mode
    ASSERT_EQ(context.fileMap.size(), 1u);
    EXPECT_EQ(context.fileMap[0].key, "MyTestDomain-Media/Test.txt");
    const fs::path stored = context.StoredPath(fileId);
    ASSERT_EQ(engine.CopyFileWithProgress(stored, temp.Path() / "Test.txt", nullptr, nullptr), kOk);
    EXPECT_EQ(ReadAll(temp.Path() / "Test.txt"), "Test data");
  }
  EXPECT_EQ(ts::HashFolder(folder), before);
}

}  // namespace
}  // namespace corvyn::backup
