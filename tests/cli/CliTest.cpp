#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/ScanJson.h"
#include "platform/Process.h"
#include "tests/cli/CliRunner.h"
#include "tests/cli/MiniJson.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/backup_builder/TodayBackup.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::cli {
namespace {
namespace fs = std::filesystem;
using testjson::Value;

// One folder per test process: CTest runs the cases of this file in parallel.
fs::path TestRoot() {
  static const corvyn::testing::TempFolder root("cli-tests");
  return root.Path();
}

// The working root is chosen once per process: keep it inside the test folder.
class CliEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    fs::create_directories(TestRoot() / "data");
    setenv("XDG_DATA_HOME", (TestRoot() / "data").c_str(), 1);
  }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CliEnvironment);

// The built program, with the password on its standard input.
CliRun RunProgram(const std::vector<std::string>& args, const std::string& input) {
  CliRun run;
  const fs::path program = fs::path(CORVYN_BIN_DIR) / "corvyn-cli";
  auto launcher = platform::MakePosixProcessLauncher();
  platform::ProcessSpec request;
  request.executable = program;
  request.arguments = args;
  request.environment = {{"XDG_DATA_HOME", (TestRoot() / "program-data").string()}};
  std::unique_ptr<platform::IChildProcess> child;
  if (launcher->Start(request, &child) != kOk) return run;
  (void)child->WriteInput(input);
  child->CloseInput();
  for (bool end = false; !end;)
    (void)child->ReadOutput(&run.out, 65536, std::chrono::milliseconds(200), &end);
  platform::ExitStatus exit;
  if (child->Wait(std::chrono::milliseconds(60000), &exit) == kOk && exit.exited) run.exitCode = exit.code;
  return run;
}

class CliScanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    backup_ = new testsupport::StandardBackup;
    ASSERT_EQ(testsupport::MakeStandardBackup(TestRoot() / "scratch", *backup_), kOk);
    ASSERT_EQ(backup_->builder.Write(Plain()), kOk);
    ASSERT_EQ(
        backup_->builder.WriteEncrypted(TestRoot() / "plain-for-encryption", Encrypted(), "open sesame"),
        kOk);
  }
  static void TearDownTestSuite() {
    delete backup_;
    backup_ = nullptr;
  }
  static fs::path Plain() { return TestRoot() / "plain backup"; }
  static fs::path Encrypted() { return TestRoot() / "encrypted backup"; }

  // Checks every category of the JSON against the built backup. Paths are
  // only compared when the scan read the plain folder itself.
  static void ExpectGroundTruth(const Value& json, const fs::path& storedFolder, bool comparePaths) {
    const auto& truth = *backup_;
    ASSERT_EQ(json["status"].AsNumber(), 0);
    const Value& categories = json["categories"];
    for (const char* label :
         {"Camera Roll", "Photo Stream", "App Photos", "App Videos", "Messages", "Messages Attachments",
          "Contacts", "Call History", "Notes", "WhatsApp", "WhatsApp Attachments"}) {
      EXPECT_TRUE(categories.AsObject().count(label)) << label;
    }
    const auto expectFiles = [&](const char* label, const auto& expected) {
      const auto& got = categories[label].AsArray();
      ASSERT_EQ(got.size(), expected.size()) << label;
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i]["name"].AsString(), expected[i].name) << label;
        EXPECT_EQ(got[i]["size"].AsNumber(), expected[i].size) << label;
        if (comparePaths) {
          EXPECT_EQ(got[i]["path"].AsString(), (storedFolder / expected[i].path).string()) << label;
        }
      }
    };
    expectFiles("Camera Roll", truth.media.cameraRoll);
    expectFiles("Photo Stream", truth.media.photoStream);
    expectFiles("Messages Attachments", truth.media.messageAttachments);
    expectFiles("WhatsApp Attachments", truth.media.whatsAppAttachments);

    const auto folders = [&](const char* label) {
      std::map<std::string, std::vector<std::string>> byApp;
      for (const auto& folder : categories[label].AsArray()) {
        for (const auto& file : folder["files"].AsArray()) {
          EXPECT_EQ(file["appName"].AsString(), folder["appName"].AsString());
          byApp[folder["appName"].AsString()].push_back(file["name"].AsString());
        }
      }
      return byApp;
    };
    using Folders = std::map<std::string, std::vector<std::string>>;
    EXPECT_EQ(folders("App Photos"), (Folders{{"example.camera", {"shot.JPG"}}, {"other", {"drawing.PNG"}}}));
    EXPECT_EQ(folders("App Videos"), (Folders{{"example.camera", {"clip.MOV"}}}));

    std::map<int, std::vector<std::string>> conversations, expectedConversations;
    for (const auto& group : categories["Messages"].AsArray()) {
      const int handle = static_cast<int>(group["handleId"].AsNumber());
      for (const auto& message : group["messages"].AsArray()) {
        EXPECT_EQ(message["handleId"].AsNumber(), handle);
        EXPECT_EQ(message["deleted"].AsNumber(), 0);
        conversations[handle].push_back(message["text"].AsString());
      }
    }
    for (const auto& m : truth.databases.messages) expectedConversations[m.handleId].push_back(m.text);
    EXPECT_EQ(conversations, expectedConversations);

    const auto texts = [&](const char* label, const char* field) {
      std::vector<std::string> values;
      for (const auto& record : categories[label].AsArray()) values.push_back(record[field].AsString());
      std::sort(values.begin(), values.end());
      return values;
    };
    std::vector<std::string> names, numbers, titles;
    for (const auto& c : truth.databases.contacts) names.push_back(c.first + c.last);
    for (const auto& c : truth.databases.calls) numbers.push_back(c.number);
    for (const auto& n : truth.databases.notes) titles.push_back(n.title);
    std::sort(names.begin(), names.end());
    std::sort(numbers.begin(), numbers.end());
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(texts("Contacts", "name"), names);
    EXPECT_EQ(texts("Call History", "number"), numbers);
    EXPECT_EQ(texts("Notes", "title"), titles);

    std::vector<std::string> chat;
    for (const auto& group : categories["WhatsApp"].AsArray()) {
      EXPECT_EQ(group["sessionId"].AsNumber(), 1);
      for (const auto& message : group["messages"].AsArray()) chat.push_back(message["text"].AsString());
    }
    std::vector<std::string> expectedChat;
    for (const auto& m : truth.databases.whatsApp) expectedChat.push_back(m.text);
    EXPECT_EQ(chat, expectedChat);
  }

  static testsupport::StandardBackup* backup_;
};
testsupport::StandardBackup* CliScanTest::backup_ = nullptr;

TEST_F(CliScanTest, JsonOfAPlainBackupMatchesWhatWasBuilt) {
  const CliRun run = RunInProcess({"scan", Plain().string(), "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.err, "");
  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << "not JSON: " << run.out.substr(0, 200);
  ExpectGroundTruth(*json, Plain(), true);
}

TEST_F(CliScanTest, CountsWithoutJson) {
  const CliRun run = RunInProcess({"scan", Plain().string()});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_NE(run.out.find("Camera Roll: 5\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Messages: 2\n"), std::string::npos) << run.out;  // conversations
  EXPECT_NE(run.out.find("WhatsApp Attachments: 2\n"), std::string::npos) << run.out;
}

TEST_F(CliScanTest, TheProgramDecryptsWithThePasswordFromStandardInput) {
  if (!fs::exists(fs::path(CORVYN_BIN_DIR) / "tool")) GTEST_SKIP() << "decryption program not built";
  const CliRun run =
      RunProgram({"scan", Encrypted().string(), "--password-stdin", "--json"}, "open sesame\n");
  ASSERT_EQ(run.exitCode, kExitOk) << run.out.substr(0, 300);
  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << run.out.substr(0, 300);
  ExpectGroundTruth(*json, {}, false);
}

TEST_F(CliScanTest, TheProgramReportsAWrongPassword) {
  if (!fs::exists(fs::path(CORVYN_BIN_DIR) / "tool")) GTEST_SKIP() << "decryption program not built";
  const CliRun run = RunProgram({"scan", Encrypted().string(), "--password-stdin"}, "not it\n");
  EXPECT_EQ(run.exitCode, kExitWrongPassword);
  EXPECT_NE(run.out.find("wrong password"), std::string::npos) << run.out;
}

TEST_F(CliScanTest, FailuresGiveTheirExitStatusAndOneLine) {
  const fs::path noManifest = TestRoot() / "no manifest";
  fs::create_directories(noManifest);
  fs::copy_file(Plain() / "Info.plist", noManifest / "Info.plist", fs::copy_options::overwrite_existing);
  const struct {
    std::vector<std::string> args;
    int exitCode;
  } cases[] = {
      {{}, kExitUsage},
      {{"frobnicate"}, kExitUsage},
      {{"scan"}, kExitUsage},
      {{"scan", Plain().string(), Plain().string()}, kExitUsage},
      {{"scan", Plain().string(), "--verbose"}, kExitUsage},
      {{"backups", "extra"}, kExitUsage},
      {{"scan", Encrypted().string()}, kExitUsage},  // encrypted, but no --password-stdin
      {{"scan", (TestRoot() / "does not exist").string()}, kExitUnopenable},
      {{"scan", noManifest.string()}, kExitUnopenable},
  };
  for (const auto& c : cases) {
    const CliRun run = RunInProcess(c.args);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    EXPECT_EQ(run.exitCode, c.exitCode) << joined;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << joined << ": " << run.err;
    EXPECT_EQ(run.err.rfind("corvyn-cli: ", 0), 0u) << run.err;
  }
}

// A copy of the plain backup without the stored files `drop` selects.
fs::path CopyWithout(const fs::path& from, const std::string& name,
                     const std::function<bool(const fs::path&)>& drop) {
  const fs::path copy = TestRoot() / name;
  fs::remove_all(copy);
  fs::copy(from, copy, fs::copy_options::recursive);
  for (const auto& entry : fs::directory_iterator(copy)) {
    if (entry.is_regular_file() && drop(entry.path())) fs::remove(entry.path());
  }
  return copy;
}

bool IsSqliteDatabase(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::string head(16, '\0');
  file.read(head.data(), static_cast<std::streamsize>(head.size()));
  return file && head == std::string("SQLite format 3\0", 16);
}

// A phone that never used Messages (or whose backup lost a database) still
// has its other categories read; the missing ones are named, in words, and
// the scan counts as completed.
TEST_F(CliScanTest, MissingDatabasesFailOnlyTheirCategories) {
  const fs::path noMessages = CopyWithout(Plain(), "no sms.db", [](const fs::path& p) {
    return p.filename() == "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
  });
  CliRun run = RunInProcess({"scan", noMessages.string(), "--json"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.err, "corvyn-cli: Messages: the database file is missing from this backup\n");
  auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << run.out.substr(0, 200);
  EXPECT_EQ((*json)["errors"].AsObject().size(), 1u);
  EXPECT_EQ((*json)["errors"]["Messages"].AsString(), "the database file is missing from this backup");
  const Value& categories = (*json)["categories"];
  EXPECT_TRUE(categories["Messages"].AsArray().empty());
  for (const char* label : {"Camera Roll", "Messages Attachments", "Contacts", "Call History", "Notes",
                            "WhatsApp", "WhatsApp Attachments"}) {
    EXPECT_FALSE(categories[label].AsArray().empty()) << label << " was lost with the messages";
  }

  const fs::path noDatabases = CopyWithout(Plain(), "no databases", IsSqliteDatabase);
  run = RunInProcess({"scan", noDatabases.string()});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  for (const char* label : {"Messages", "Contacts", "Call History", "Notes", "WhatsApp"}) {
    EXPECT_NE(run.err.find(std::string("corvyn-cli: ") + label + ": "), std::string::npos) << run.err;
  }
  EXPECT_EQ(run.err.find("stopped"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("Camera Roll: 5\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("WhatsApp Attachments: 2\n"), std::string::npos) << run.out;
}

// Backups of iOS 10 and later keep their file list in Manifest.db and their
// stored files in subfolders: the scan finds the same records as in the
// older layout, with paths into the subfolders.
TEST_F(CliScanTest, JsonOfANewerLayoutBackupMatchesWhatWasBuilt) {
  const fs::path newer = TestRoot() / "newer layout";
  ASSERT_EQ(backup_->builder.WriteNewerLayout(newer), kOk);
  ASSERT_FALSE(fs::exists(newer / "Manifest.mbdb"));
  const CliRun run = RunInProcess({"scan", newer.string(), "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.err, "");
  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << "not JSON: " << run.out.substr(0, 200);
  ExpectGroundTruth(*json, newer, false);
  const auto& cameraRoll = (*json)["categories"]["Camera Roll"].AsArray();
  ASSERT_EQ(cameraRoll.size(), backup_->media.cameraRoll.size());
  for (std::size_t i = 0; i < cameraRoll.size(); ++i) {
    const std::string& storedName = backup_->media.cameraRoll[i].path;
    EXPECT_EQ(cameraRoll[i]["path"].AsString(), (newer / storedName.substr(0, 2) / storedName).string());
  }
}

// A phone of today: every category of the backup is filled, and the JSON
// carries what today's databases add (group chats with their name and
// members, edited messages, the kind of call).
TEST(CliTodayScan, JsonCarriesChatsEditsAndCallTypes) {
  testsupport::TodayBackup today;
  ASSERT_EQ(testsupport::MakeTodayBackup(TestRoot() / "today-scratch", today), kOk);
  const fs::path folder = TestRoot() / "today backup";
  ASSERT_EQ(today.builder.WriteNewerLayout(folder), kOk);
  const CliRun run = RunInProcess({"scan", folder.string(), "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << "not JSON: " << run.out.substr(0, 200);
  const Value& categories = (*json)["categories"];
  for (const char* label : {"Messages", "Messages Attachments", "Contacts", "Call History", "Notes",
                            "WhatsApp", "WhatsApp Attachments"})
    EXPECT_FALSE(categories[label].AsArray().empty()) << label;

  bool groupSeen = false, editedSeen = false;
  for (const Value& conversation : categories["Messages"].AsArray()) {
    for (const Value& message : conversation["messages"].AsArray()) {
      if (message["chatId"].AsNumber() == today.messages.groupChatId) {
        groupSeen = true;
        EXPECT_EQ(message["chatName"].AsString(), today.messages.groupName);
        for (const std::string& address : today.messages.groupAddresses)
          EXPECT_NE(message["members"].AsString().find(address), std::string::npos) << address;
      }
      if (message["edited"].AsNumber() == 1) {
        editedSeen = true;
        EXPECT_EQ(message["text"].AsString(), "Edited to this");
      }
    }
  }
  EXPECT_TRUE(groupSeen);
  EXPECT_TRUE(editedSeen);
  std::set<std::string> callTypes;
  for (const Value& call : categories["Call History"].AsArray())
    callTypes.insert(call["callType"].AsString());
  EXPECT_TRUE(callTypes.count("FaceTime Video")) << run.out.substr(0, 300);
}

// Rows of Manifest.db that lead outside their domain or whose attributes do
// not read are named on standard error; the rest of the backup is scanned.
TEST_F(CliScanTest, RefusedAndDamagedFileListRowsAreNamedAndTheScanGoesOn) {
  testsupport::BackupBuilder builder = backup_->builder;
  builder.AddFile("HomeDomain", "../../etc/passwd", "not for us");
  testsupport::ManifestRecordPlan broken;
  broken.domain = "MediaDomain";
  broken.path = "Media/DCIM/100APPLE/IMG_0777.JPG";
  broken.contents = "photo bytes";
  broken.attributesBlob = "bplist00 but cut";
  builder.AddRecord(broken);
  const fs::path newer = TestRoot() / "newer layout with bad rows";
  ASSERT_EQ(builder.WriteNewerLayout(newer), kOk);
  const CliRun run = RunInProcess({"scan", newer.string()});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_NE(
      run.err.find("corvyn-cli: file list: a row of the file list (HomeDomain-../../etc/passwd) was skipped"),
      std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("corvyn-cli: file list: MediaDomain-Media/DCIM/100APPLE/IMG_0777.JPG: "),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.out.find("Messages: 2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Contacts: 2\n"), std::string::npos) << run.out;
}

// An encrypted backup of the newer layout: the right password finds what the
// backup holds, a wrong or empty one ends with 3, and one without its keys is
// named as such.
TEST_F(CliScanTest, EncryptedBackupsOfTheNewerLayoutScanWithTheirPassword) {
  const fs::path plain = TestRoot() / "newer layout to encrypt";
  const fs::path encrypted = TestRoot() / "encrypted newer layout";
  ASSERT_EQ(backup_->builder.WriteNewerLayout(plain), kOk);
  ASSERT_EQ(testsupport::EncryptNewerLayoutFolder(plain, encrypted, "open sesame"), kOk);
  CliRun run = RunInProcess({"scan", encrypted.string(), "--password-stdin", "--json"}, "open sesame\n");
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.err, "");
  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << "not JSON: " << run.out.substr(0, 200);
  ExpectGroundTruth(*json, encrypted, false);

  for (const char* password : {"open sesame!\n", "\n"}) {
    run = RunInProcess({"scan", encrypted.string(), "--password-stdin"}, password);
    EXPECT_EQ(run.exitCode, kExitWrongPassword) << password;
    EXPECT_EQ(run.err, "corvyn-cli: wrong password for the encrypted backup " + encrypted.string() + "\n");
  }

  const fs::path standIn = TestRoot() / "encrypted newer layout without keys";
  ASSERT_EQ(backup_->builder.WriteNewerLayoutEncryptedStandIn(standIn), kOk);
  run = RunInProcess({"scan", standIn.string(), "--password-stdin"}, "open sesame\n");
  EXPECT_EQ(run.exitCode, kExitUnopenable);
  EXPECT_NE(run.err.find("keybag"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("status 87"), std::string::npos) << run.err;
}

// A Manifest.db that is not a database (and no Manifest.mbdb): the message
// names the newer layout and the file list.
TEST_F(CliScanTest, ANewerLayoutFileListThatIsNoDatabaseIsNamedAsSuch) {
  const fs::path newer = TestRoot() / "newer layout without a database";
  fs::create_directories(newer);
  fs::copy_file(Plain() / "Info.plist", newer / "Info.plist", fs::copy_options::overwrite_existing);
  std::ofstream(newer / "Manifest.db") << "SQLite format 3";
  const CliRun run = RunInProcess({"scan", newer.string()});
  EXPECT_EQ(run.exitCode, kExitUnopenable);
  EXPECT_NE(run.err.find("newer layout of iOS 10 and later"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Manifest.db cannot be read as a database"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("status 87"), std::string::npos) << run.err;
}

// A real backup of iOS 14.3 (mvt-project/mvt tests/artifacts/ios_backup):
// Manifest.db with 3,721 rows, of which only 11 stored files are kept. It
// holds sms.db (one message from "apple") and WhatsApp's shared
// ChatStorage.sqlite (two chats, three messages); no address book, call
// history or notes. The scan reads a writable copy and changes nothing in it.
TEST(CliRealBackup, AnIos14BackupIsScannedThroughItsManifestDb) {
  const fs::path original =
      fs::path(CORVYN_EXTERNAL_TESTDATA) / "mvt-project__mvt/tests/artifacts/ios_backup";
  if (!fs::exists(original / "Manifest.db")) GTEST_SKIP() << "the iOS 14.3 backup is not at " << original;
  const fs::path copy = TestRoot() / "ios 14.3 backup";
  fs::remove_all(copy);
  fs::copy(original, copy, fs::copy_options::recursive);
  for (const auto& entry : fs::recursive_directory_iterator(copy))
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
  const auto before = testsupport::HashFolder(copy);

  const CliRun run = RunInProcess({"scan", copy.string(), "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto json = testjson::Parse(run.out);
  ASSERT_TRUE(json) << "not JSON: " << run.out.substr(0, 200);
  const Value& categories = (*json)["categories"];
  const auto& conversations = categories["Messages"].AsArray();
  ASSERT_EQ(conversations.size(), 1u);
  const auto& messages = conversations[0]["messages"].AsArray();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0]["address"].AsString(), "apple");
  EXPECT_EQ(messages[0]["text"].AsString(), "Please click here https://badbadbad.example.org/");

  std::vector<std::string> chat;
  for (const auto& group : categories["WhatsApp"].AsArray()) {
    for (const auto& message : group["messages"].AsArray()) chat.push_back(message["text"].AsString());
  }
  EXPECT_EQ(categories["WhatsApp"].AsArray().size(), 2u);
  EXPECT_EQ(chat, (std::vector<std::string>{"Hi", "Check https://example.org/news", "Welcome"}));
  for (const char* label : {"Camera Roll", "Photo Stream", "Messages Attachments", "Contacts", "Call History",
                            "Notes", "WhatsApp Attachments"}) {
    EXPECT_TRUE(categories[label].AsArray().empty()) << label;
  }
  // What the backup does not hold is said, per category.
  EXPECT_EQ((*json)["errors"]["Contacts"].AsString(), "the database file is missing from this backup");
  EXPECT_EQ((*json)["errors"].AsObject().count("Messages"), 0u);
  EXPECT_EQ(testsupport::HashFolder(copy), before) << "the scan wrote into the backup";
}

TEST(CliBasics, VersionHelpAndBackupsList) {
  CliRun run = RunInProcess({"--version"});
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_EQ(run.out.rfind("corvyn-cli ", 0), 0u);
  run = RunInProcess({"--help"});
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_NE(run.out.find("scan FOLDER [--password-stdin] [--json]"), std::string::npos);

  testsupport::BackupBuilder builder;
  builder.info.displayName = "Listed Phone";
  builder.info.serialNumber = "SERIAL-42";
  const fs::path root = TestRoot() / "data" / "Apple Computer" / "MobileSync" / "Backup";
  ASSERT_EQ(builder.Write(root / "0123abcd"), kOk);
  run = RunInProcess({"backups"});
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_NE(run.out.find("Listed Phone\t"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\tSERIAL-42\t"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\t7.1.2\tyes\tno\t" + (root / "0123abcd").string() + "\n"), std::string::npos)
      << run.out;
  // A backup the phone did not finish is listed, and said to be unfinished.
  builder.info.snapshotState = "uploading";
  ASSERT_EQ(builder.Write(root / "4567cdef"), kOk);
  run = RunInProcess({"backups"});
  EXPECT_NE(run.out.find("\t7.1.2\tno\tno\t" + (root / "4567cdef").string() + "\n"), std::string::npos)
      << run.out;
}

// Files of 4 GiB and more keep their whole size in every list.
TEST(ScanJson, SizesAreNotCutTo32Bits) {
  constexpr uint64_t kLarge = (5ull << 30) + 3;  // 5 GiB + 3
  ScanResults results;
  results.cameraRoll.push_back({kLarge, "clip.mov", "/p/a"});
  results.messageAttachments.push_back({kLarge, "A.MOV", "/p/b"});
  results.appVideos["app"].push_back({kLarge, "app", "b.mov", "/p/c"});
  const std::string text = ScanJson(kOk, {}, results);
  std::size_t found = 0;
  for (auto at = text.find("\"size\":5368709123"); at != std::string::npos;
       at = text.find("\"size\":5368709123", at + 1)) {
    ++found;
  }
  EXPECT_EQ(found, 3u) << text;
}

// Written as it is made, the JSON of a heavy scan (several megabytes, handed
// on a megabyte at a time) is byte for byte the JSON made whole.
TEST(ScanJson, StreamedTextEqualsTheWholeText) {
  ScanResults results;
  for (int handle = 1; handle <= 30; ++handle) {
    auto& messages = results.conversations[handle];
    for (int i = 0; i < 2000; ++i) {
      MessageRecord message;
      message.handleId = handle;
      message.messageId = handle * 10000 + i;
      message.text = "message " + std::to_string(i) + " of conversation " + std::to_string(handle);
      messages.push_back(std::move(message));
    }
  }
  results.notes.push_back({});
  const std::string whole = ScanJson(kOk, {{"Notes", "a reason"}}, results);
  ASSERT_GT(whole.size(), 3u << 20);
  std::FILE* file = std::tmpfile();
  ASSERT_TRUE(WriteScanJson(file, kOk, {{"Notes", "a reason"}}, results));
  EXPECT_TRUE(ReadAll(file) == whole);
  std::fclose(file);
}

TEST(ScanJson, TextIsAlwaysValidJson) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"quote \" and \\ backslash", "\"quote \\\" and \\\\ backslash\""},
      {"line\nbreak\ttab\r", "\"line\\nbreak\\ttab\\r\""},
      {std::string("nul\0byte\x01", 9), "\"nul\\u0000byte\\u0001\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"broken \xC3 byte", "\"broken \xEF\xBF\xBD byte\""},
      {"~ space and tilde end printable ASCII ~", "\"~ space and tilde end printable ASCII ~\""},
      {"0123456789abcdef\x1f", "\"0123456789abcdef\\u001f\""},
      {"0123456789abcdef\\0123456789abcdef", "\"0123456789abcdef\\\\0123456789abcdef\""},
      {"a longer text with \"quotes\" and DEL\x7F after its eighth byte\xFF",
       "\"a longer text with \\\"quotes\\\" and DEL\\u007f after its eighth byte\xEF\xBF\xBD\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonString(c.text), c.json);
    EXPECT_TRUE(testjson::Parse(JsonString(c.text))) << c.json;
  }
  ScanResults empty;
  const auto json = testjson::Parse(ScanJson(kInvalidData, {}, empty));
  ASSERT_TRUE(json);
  EXPECT_EQ((*json)["status"].AsNumber(), 87);
  EXPECT_EQ((*json)["categories"].AsObject().size(), 11u);
}

}  // namespace
}  // namespace corvyn::cli
