#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/BackupContext.h"
#include "backup/CLocalBuckupRecovery.h"
#include "backup/DecryptionRunner.h"
#include "platform/FakeProcessLauncher.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;
using platform::FakeChildScript;
using platform::FakeProcessLauncher;

struct Reports {
  std::vector<int> values;
  int stopFrom = -1;  // answer 2 from this many reports on
  static int Record(void* self, int percent) {
    auto* r = static_cast<Reports*>(self);
    r->values.push_back(percent);
    return r->stopFrom >= 0 && static_cast<int>(r->values.size()) >= r->stopFrom ? kStopAnswer : 0;
  }
};

class DecryptionRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.Path();
    job_.program = root_ / "bin" / "tool";
    job_.encryptedFolder = root_ / "encrypted";
    job_.copyFolder = root_ / "work" / "CorvynBackupPath";
    job_.expectedFileCount = 100;
    progress_.callback = &Reports::Record;
    progress_.userValue = &reports_;
    progress_.span = 10;
  }
  Status Run(FakeChildScript script, std::string_view password = "secret") {
    launcher_.Script("tool", std::move(script));
    return RunDecryption(launcher_, job_, password, progress_);
  }

  corvyn::testing::TempFolder folder_{"runner"};
  fs::path root_;
  DecryptionJob job_;
  ProgressShare progress_;
  Reports reports_;
  FakeProcessLauncher launcher_;
};

TEST_F(DecryptionRunnerTest, CountsBecomeProgressWithinTheStep) {
  progress_.base = 1;
  FakeChildScript script;
  script.output = "Count: 50\n";
  ASSERT_EQ(Run(script), kOk);
  EXPECT_EQ(reports_.values, (std::vector<int>{6, 11}));  // 1 + 10 * 50 / 100, then the step is added
  EXPECT_EQ(progress_.base, 11);
}

TEST_F(DecryptionRunnerTest, TheFirstCountAcceptsTheSourceOnce) {
  FakeChildScript script;
  script.output = "Decrypting\nCount: 10\nCount: 20\nnoise Count:x\nCount: 250\nDone: 3\n";
  ASSERT_EQ(Run(script), kOk);
  // 1 (accepted), 1 + 10*10/100, 1 + 10*20/100, counts beyond the listing stop at the step, then 11.
  EXPECT_EQ(reports_.values, (std::vector<int>{1, 2, 3, 11, 11}));
}

TEST_F(DecryptionRunnerTest, ThePasswordGoesThroughStandardInputOnly) {
  FakeChildScript script;
  ASSERT_EQ(Run(script, "pass with blanks"), kOk);
  const auto started = launcher_.Started();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].executable, job_.program);
  EXPECT_EQ(started[0].arguments, (std::vector<std::string>{"--password-stdin", job_.encryptedFolder.string(),
                                                            job_.copyFolder.string()}));
  for (const auto& argument : started[0].arguments) EXPECT_EQ(argument.find("blanks"), std::string::npos);
  EXPECT_EQ(launcher_.Inputs(), (std::vector<std::string>{"pass with blanks\n"}));
  EXPECT_TRUE(fs::is_directory(job_.copyFolder));
}

TEST_F(DecryptionRunnerTest, OutcomesOfTheProgram) {
  const struct {
    const char* label;
    std::string output;
    bool runsUntilKilled;
    Status startStatus;
    Status expected;
  } cases[] = {
      {"wrong password", "Wrong password\n", false, kOk, kWrongPassword},
      {"count and wrong password together", "Count: 3\nWrong password", false, kOk, kWrongPassword},
      {"wrong password while it keeps running", "Wrong password\n", true, kOk, kWrongPassword},
      {"silent program", "", false, kOk, kOk},
      {"failed before any file", "The backup cannot be opened.\n", false, kOk, kInvalidData},
      {"failed after some files", "Count: 1\nCount: 2\n", false, kOk, kInvalidData},
      {"cannot be started", "", false, Status::System(ENOENT, "tool"), Status::System(ENOENT, "tool")},
  };
  for (const auto& c : cases) {
    // What the program decrypted before the end, in a copy folder of ours.
    fs::create_directories(job_.copyFolder);
    fs::permissions(job_.copyFolder, fs::perms::owner_all);
    std::ofstream(job_.copyFolder / "3d0d7e5fb2ce288813306e4d4636395e047a3d28") << "decrypted part";
    FakeProcessLauncher launcher;
    FakeChildScript script;
    script.output = c.output;
    script.runsUntilKilled = c.runsUntilKilled;
    script.startStatus = c.startStatus;
    if (std::string_view(c.label).starts_with("failed")) script.exit = {true, 4, false, 0};
    launcher.Script("tool", script);
    ProgressShare progress;
    progress.span = 10;
    EXPECT_EQ(RunDecryption(launcher, job_, "pw", progress), c.expected) << c.label;
    EXPECT_EQ(launcher.EndProcessesByName("tool"), 0) << c.label << ": left running";
    // A failed run leaves no part of the backup to be scanned as the whole.
    EXPECT_EQ(fs::exists(job_.copyFolder), c.expected == kOk) << c.label;
  }
}

TEST_F(DecryptionRunnerTest, AStopEndsTheProgram) {
  for (const char* output : {"Count: 5\n", ""}) {  // while it reports, and while it is silent
    FakeProcessLauncher launcher;
    FakeChildScript script;
    script.output = output;
    script.runsUntilKilled = true;
    launcher.Script("tool", script);
    Reports reports;
    reports.stopFrom = 1;
    ProgressShare progress{&Reports::Record, &reports, 0, 10};
    EXPECT_EQ(RunDecryption(launcher, job_, "pw", progress), kStopped) << output;
    EXPECT_EQ(launcher.EndProcessesByName("tool"), 0) << "the program was left running";
  }
}

TEST_F(DecryptionRunnerTest, AnEmptyListingDoesNotDivideByZero) {
  job_.expectedFileCount = 0;
  FakeChildScript script;
  script.output = "Count: 7\n";
  ASSERT_EQ(Run(script), kOk);
  // Nothing to wait for: any count completes the step.
  EXPECT_EQ(reports_.values, (std::vector<int>{1, 11, 11}));
}

// The real decryption program, when it has been built beside the others.
class RealDecryptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = fs::path(CORVYN_BIN_DIR) / "tool";
    if (!fs::exists(program_)) GTEST_SKIP() << "decryption program not built at " << program_;
    root_ = folder_.Path();
    ASSERT_EQ(testsupport::MakeStandardBackup(root_ / "scratch", backup_), kOk);
    encrypted_ = root_ / "encrypted";
    ASSERT_EQ(backup_.builder.WriteEncrypted(root_ / "plain", encrypted_, "right password"), kOk);
  }
  Status Open(BackupContext& context, const std::string& password) {
    BackupDescriptor descriptor;
    EXPECT_EQ(ReadBackupFolder(encrypted_, descriptor), kOk);
    EXPECT_EQ(descriptor.encrypted, 1);
    context.Select(descriptor);
    context.workingRoot = root_ / "work";
    context.decryptionProgram = program_;
    return context.OpenSource(password);
  }

  corvyn::testing::TempFolder folder_{"real-decryption"};
  fs::path program_, root_, encrypted_;
  testsupport::StandardBackup backup_;
};

TEST_F(RealDecryptionTest, TheRightPasswordGivesTheSameScanAsThePlainBackup) {
  const auto before = testsupport::HashFolder(encrypted_);
  BackupContext context;
  ASSERT_EQ(Open(context, "right password"), kOk);
  EXPECT_EQ(context.backupFolder, root_ / "work" / "CorvynBackupPath");
  EXPECT_EQ(context.descriptor.folder, context.backupFolder);
  std::vector<MediaFileRecord> cameraRoll, photoStream;
  ASSERT_EQ(context.CollectPhotos(cameraRoll, photoStream), kOk);
  ASSERT_EQ(cameraRoll.size(), backup_.media.cameraRoll.size());
  for (std::size_t i = 0; i < cameraRoll.size(); ++i) {
    EXPECT_EQ(cameraRoll[i].name, backup_.media.cameraRoll[i].name);
    EXPECT_EQ(cameraRoll[i].size, backup_.media.cameraRoll[i].size);
  }
  ConversationMap conversations;
  ASSERT_EQ(context.CollectMessages(conversations), kOk);
  std::size_t messages = 0;
  for (const auto& [handle, list] : conversations) messages += list.size();
  EXPECT_EQ(messages, backup_.databases.messages.size());
  EXPECT_EQ(testsupport::HashFolder(encrypted_), before);
}

TEST_F(RealDecryptionTest, AWrongPasswordIsReported) {
  BackupContext context;
  EXPECT_EQ(Open(context, "wrong password"), kWrongPassword);
  EXPECT_EQ(context.backupFolder, encrypted_);
}

TEST_F(RealDecryptionTest, ACopyOfAnEarlierBackupIsNotReadAgain) {
  BackupContext context;
  ASSERT_EQ(Open(context, "right password"), kOk);
  const fs::path stray = context.backupFolder / kNotesStoredName;
  ASSERT_TRUE(fs::exists(stray));
  // The next backup has no notes: its copy must not show the earlier ones.
  testsupport::BackupBuilder noNotes;
  noNotes.AddFile("HomeDomain", "Library/Preferences/a.plist", "x");
  encrypted_ = root_ / "encrypted2";
  ASSERT_EQ(noNotes.WriteEncrypted(root_ / "plain2", encrypted_, "other"), kOk);
  ASSERT_EQ(Open(context, "other"), kOk);
  EXPECT_FALSE(fs::exists(context.backupFolder / kNotesStoredName));
}

}  // namespace
}  // namespace corvyn::backup
