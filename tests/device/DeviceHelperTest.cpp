// The device helper's runner: first its reading rules against small shell
// scripts standing in for tool2, then the real tool2 against the simulated
// phone (a real idevicebackup2 run behind it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/DeviceHelper.h"
#include "tests/support/simphone/SimPhoneProcess.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::device {
namespace {

namespace fs = std::filesystem;
using corvyn::testing::TempFolder;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// What a backup run reported, and what the test answers.
struct Progress {
  std::vector<int> values;
  std::function<int(int)> answer;  // null: always 0

  static int Callback(void* userValue, int percent) {
    auto* self = static_cast<Progress*>(userValue);
    self->values.push_back(percent);
    return self->answer ? self->answer(percent) : 0;
  }
};

// A program folder whose "tool2" is a shell script.
class FakeHelper : public ::testing::Test {
 protected:
  void Install(const std::string& body) {
    const fs::path helper = folder_ / "tool2";
    std::ofstream(helper) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(helper, fs::perms::owner_all);
  }

  DeviceHelperSetup Setup() const {
    DeviceHelperSetup setup;
    setup.programFolder = folder_.Path();
    setup.backupRoot = folder_ / "root";
    return setup;
  }

  TempFolder folder_{"device-helper"};
};

TEST_F(FakeHelper, BackupChunksReportProgressAndEndOnTheirWords) {
  struct Case {
    const char* name;
    const char* script;
    Status result;
    std::vector<int> reported;
    std::string folder;
  } cases[] = {
      // the path arrives only after the test saw 45, so it is a chunk of its own
      {"progress then path",
       "printf 45; while [ ! -e \"$0.go\" ]; do sleep 0.01; done; printf 'Path=/x\\n'",
       kOk,
       {45, 45},
       "/x"},
      {"number and passcode lock in one chunk", "printf '12 passcode lock'", kPasscodeLocked, {}, ""},
      {"disconnect after a path",
       "printf 'Path=/y'; sleep 0.2; printf 'Disconnect'",
       kSourceUnreadable,
       {0},
       ""},
      {"words without a number keep the value",
       "printf 7; while [ ! -e \"$0.go\" ]; do sleep 0.01; done; printf 'tool two: busy'",
       kOk,
       {7, 7},
       ""},
      // the password comes on standard input, the folder from the environment
      {"password and root",
       "read password; printf 'Path=%s/%s' \"$CORVYN_BACKUP_ROOT\" \"$password\"",
       kOk,
       {0},
       (folder_ / "root" / "pass word").string()},
      {"silent helper", "exit 0", kOk, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Install(c.script);
    fs::remove(folder_ / "tool2.go");
    Progress progress;
    progress.answer = [&](int) {
      std::ofstream(folder_ / "tool2.go");
      return 0;
    };
    fs::path backupFolder = "/stale";
    const Status status = RunDeviceBackup(Setup(), "pass word", &Progress::Callback, &progress, backupFolder);
    EXPECT_EQ(status, c.result) << status;
    EXPECT_EQ(progress.values, c.reported);
    EXPECT_EQ(backupFolder, fs::path(c.folder));
    if (status != kOk) {
      EXPECT_FALSE(status.Message().empty());
    }
  }
}

TEST_F(FakeHelper, ProgressAnswerCreatesTheStopFileAndIsReturned) {
  // A stop file left from an earlier run must not stop this one: it is deleted first.
  std::ofstream(folder_ / "exit");
  Install("printf 30; while [ ! -e \"$CORVYN_STOP_FILE\" ]; do sleep 0.01; done; printf 'user cancle'");
  Progress progress;
  progress.answer = [](int) { return 2; };
  fs::path backupFolder;
  EXPECT_EQ(RunDeviceBackup(Setup(), "", &Progress::Callback, &progress, backupFolder), kStopped);
  EXPECT_EQ(progress.values, std::vector<int>{30});
  EXPECT_TRUE(fs::exists(folder_ / "exit"));
}

TEST_F(FakeHelper, FirstChunkAnswersEncryptionAndPasswordQuestions) {
  struct Case {
    const char* script;
    Status encryption;
    bool encrypted;
    Status password;  // for the password "right"
  } cases[] = {
      {"printf 10", kOk, true, kOk},  // both digits: encrypted, and accepted
      {"printf 0", kOk, false, kOk},
      {"read p; [ \"$p\" = right ] && printf 0 || printf 1", kOk, true, kOk},
      {"read p; [ \"$p\" = wrong ] && printf 0 || printf 1", kOk, true, kPasswordRefused},
      {"printf 'tool two: no phone is connected' >&2; exit 1", kInvalidData, false, kInvalidData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Install(c.script);
    bool encrypted = !c.encrypted;
    const Status asked = AskBackupEncryption(Setup(), encrypted);
    EXPECT_EQ(asked, c.encryption) << asked;
    if (asked == kOk) {
      EXPECT_EQ(encrypted, c.encrypted);
    }
    const Status checked = CheckBackupPassword(Setup(), "right");
    EXPECT_EQ(checked, c.password) << checked;
    if (asked != kOk) {
      EXPECT_NE(asked.Message().find("no phone is connected"), std::string::npos) << asked;
    }
  }
}

TEST_F(FakeHelper, MissingHelperGivesInvalidDataWithWords) {
  bool encrypted = false;
  fs::path backupFolder;
  for (const Status& status : {AskBackupEncryption(Setup(), encrypted), CheckBackupPassword(Setup(), "x"),
                               RunDeviceBackup(Setup(), "", nullptr, nullptr, backupFolder)}) {
    EXPECT_EQ(status, kInvalidData);
    EXPECT_NE(status.Message().find("the device helper tool2 cannot be started"), std::string::npos)
        << status;
  }
}

// ---------------------------------------------------------------------------
// The real tool2 against the simulated phone.

class SimulatedHelper : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    demo_ = new TempFolder("device-helper-demo");
    const char* tool = std::getenv("CORVYN_MAKE_DEMO");
#ifdef CORVYN_MAKE_DEMO_TOOL
    const std::string maker = tool ? tool : CORVYN_MAKE_DEMO_TOOL;
#else
    const std::string maker = tool ? tool : CORVYN_BIN_DIR "/corvyn-make-demo";
#endif
    made_ = fs::exists(maker) &&
            std::system(
                ("'" + maker + "' --root '" + (*demo_ / "demo").string() + "' >/dev/null 2>&1").c_str()) == 0;
  }
  static void TearDownTestSuite() {
    delete demo_;
  }

  void SetUp() override {
    if (!corvyn::testing::ToolOnPath("python3"))
      GTEST_SKIP() << "python3 is not installed: the simulated phone needs it";
    if (!corvyn::testing::ToolOnPath("idevicebackup2"))
      GTEST_SKIP() << "idevicebackup2 is not installed (package libimobiledevice-utils)";
    if (!made_) GTEST_SKIP() << "corvyn-make-demo is not built: no backups to upload";
    // tool2 in a program folder of this test's own, so its stop file is ours alone
    fs::create_directories(temp_ / "program");
    fs::create_symlink(CORVYN_DEVICE_HELPER, temp_ / "program" / "tool2");
  }

  // Starts the phone with the demo backup `backup`; false when it did not start.
  bool StartPhone(const std::string& backup, const std::string& extraJson = {}) {
    source_ = *demo_ / "demo" / backup;
    udid_ = corvyn::testing::MakeSimPhoneProfile(source_, temp_ / "profile.json", extraJson);
    phone_.reset();  // one phone at a time on the test's socket
    phone_ = std::make_unique<corvyn::testing::SimPhoneProcess>();
    return !udid_.empty() && phone_->Start(temp_.Path(), temp_ / "profile.json");
  }

  DeviceHelperSetup Setup() const {
    DeviceHelperSetup setup;
    setup.programFolder = temp_ / "program";
    setup.backupRoot = temp_ / "root";
    setup.udid = udid_;
    return setup;
  }

  // True once a file lies anywhere under the backup root (the backup is under way).
  bool BackupUnderWay() const {
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(temp_ / "root", error); !error && it != fs::end(it);
         it.increment(error)) {
      if (it->is_regular_file()) return true;
    }
    return false;
  }

  static inline TempFolder* demo_ = nullptr;
  static inline bool made_ = false;
  TempFolder temp_{"device-helper-sim"};
  std::unique_ptr<corvyn::testing::SimPhoneProcess> phone_;
  fs::path source_;
  std::string udid_;
};

TEST_F(SimulatedHelper, AnswersEncryptionAndChecksThePassword) {
  struct Case {
    const char* backup;
    bool encrypted;
  } cases[] = {{"corvyn-demo-modern", false}, {"corvyn-demo-modern-encrypted", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.backup);
    ASSERT_TRUE(StartPhone(c.backup, R"(, "BackupPassword": "secret")"));
    bool encrypted = !c.encrypted;
    EXPECT_EQ(AskBackupEncryption(Setup(), encrypted), kOk);
    EXPECT_EQ(encrypted, c.encrypted);
    EXPECT_EQ(CheckBackupPassword(Setup(), "secret"), kOk);
    EXPECT_EQ(CheckBackupPassword(Setup(), "Secret"), kPasswordRefused);
    EXPECT_EQ(CheckBackupPassword(Setup(), ""), kPasswordRefused);
  }
}

TEST_F(SimulatedHelper, BacksUpThePhoneByteForByte) {
  for (const char* backup : {"corvyn-demo-modern", "corvyn-demo-plain"}) {
    SCOPED_TRACE(backup);
    fs::remove_all(temp_ / "root");
    ASSERT_TRUE(StartPhone(backup));
    Progress progress;
    fs::path folder;
    const Status status = RunDeviceBackup(Setup(), "", &Progress::Callback, &progress, folder);
    ASSERT_EQ(status, kOk) << status;
    EXPECT_EQ(folder, temp_ / "root" / udid_);
    ASSERT_FALSE(progress.values.empty());
    EXPECT_TRUE(std::is_sorted(progress.values.begin(), progress.values.end()));
    EXPECT_LE(progress.values.back(), 100);

    std::vector<fs::path> copied;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      const fs::path rel = fs::relative(entry.path(), folder);
      if (!entry.is_regular_file() || rel == "Info.plist") continue;  // Info.plist is the host's own
      if (rel == "Status.plist" && !fs::exists(source_ / rel)) continue;
      copied.push_back(rel);
      EXPECT_TRUE(fs::exists(source_ / rel) && ReadAll(source_ / rel) == ReadAll(entry.path())) << rel;
    }
    size_t sourceFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator(source_))
      sourceFiles += entry.is_regular_file() && entry.path().filename() != "Info.plist";
    EXPECT_EQ(copied.size(), sourceFiles);
    // nothing but the backup is left in the root
    EXPECT_EQ(std::distance(fs::directory_iterator(temp_ / "root"), fs::directory_iterator()), 1);
  }
}

TEST_F(SimulatedHelper, StoppedBackupLeavesNothingBehind) {
  ASSERT_TRUE(StartPhone("corvyn-demo-modern"));
  ASSERT_EQ(phone_->Control("stall-backup " + udid_), "ok");
  Progress progress;
  progress.answer = [&](int) { return BackupUnderWay() ? 2 : 0; };
  fs::path folder;
  EXPECT_EQ(RunDeviceBackup(Setup(), "", &Progress::Callback, &progress, folder), kStopped);
  EXPECT_TRUE(folder.empty());
  EXPECT_TRUE(fs::is_empty(temp_ / "root"));
}

TEST_F(SimulatedHelper, PhoneLeavingDuringTheBackupIsADisconnect) {
  ASSERT_TRUE(StartPhone("corvyn-demo-modern"));
  ASSERT_EQ(phone_->Control("stall-backup " + udid_), "ok");
  Progress progress;
  bool detached = false;
  progress.answer = [&](int) {
    if (!detached && BackupUnderWay()) detached = phone_->Control("detach " + udid_) == "ok";
    return 0;
  };
  fs::path folder;
  const Status status = RunDeviceBackup(Setup(), "", &Progress::Callback, &progress, folder);
  EXPECT_TRUE(detached);
  EXPECT_EQ(status, kSourceUnreadable) << status;
  EXPECT_FALSE(fs::exists(temp_ / "root" / udid_));
  bool encrypted = false;
  const Status asked = AskBackupEncryption(Setup(), encrypted);
  EXPECT_EQ(asked, kInvalidData);
  EXPECT_NE(asked.Message().find("not connected"), std::string::npos) << asked;
}

TEST_F(SimulatedHelper, DroppedConnectionKeepsTheEarlierBackup) {
  ASSERT_TRUE(StartPhone("corvyn-demo-modern"));
  fs::path folder;
  ASSERT_EQ(RunDeviceBackup(Setup(), "", nullptr, nullptr, folder), kOk);
  const std::string manifest = ReadAll(folder / "Manifest.db");
  ASSERT_FALSE(manifest.empty());

  ASSERT_EQ(phone_->Control("fail-backup " + udid_), "ok");
  fs::path second;
  const Status status = RunDeviceBackup(Setup(), "", nullptr, nullptr, second);
  EXPECT_EQ(status, kSourceUnreadable) << status;
  EXPECT_TRUE(second.empty());
  // the broken run left the finished backup as it was, and nothing beside it
  EXPECT_EQ(ReadAll(folder / "Manifest.db"), manifest);
  EXPECT_TRUE(fs::exists(folder / "Status.plist"));
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_ / "root"), fs::directory_iterator()), 1);
}

TEST_F(SimulatedHelper, LockedPhoneIsReportedAsLocked) {
  ASSERT_TRUE(StartPhone("corvyn-demo-modern", R"(, "refusesPairing": true)"));
  fs::path folder;
  EXPECT_EQ(RunDeviceBackup(Setup(), "", nullptr, nullptr, folder), kPasscodeLocked);
  EXPECT_FALSE(fs::exists(temp_ / "root" / udid_));
}

}  // namespace
}  // namespace corvyn::device
