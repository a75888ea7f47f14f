// The whole device source against the simulated phone: corvyn-cli scan
// --device loads the mobile-device library beside the program, connects to
// the phone, asks the device helper (tool2) about encryption and the
// password, has it back the phone up through the real idevicebackup2, and
// reads the backup and the phone's pictures. Each scan's categories are
// compared with a scan of the backup folder the phone uploads.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "tests/cli/MiniJson.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tests/support/backup_builder/TodayBackup.h"
#include "tests/support/simphone/SimPhoneProcess.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn {
namespace {
namespace fs = std::filesystem;
namespace ts = corvyn::testsupport;
using testjson::Value;

constexpr const char* kToday = "00008110-000000000000A017";
constexpr const char* kOld = "00008110-000000000000A082";
constexpr const char* kNine = "00008110-000000000000A090";
constexpr const char* kEncrypted = "00008110-000000000000E017";
constexpr const char* kLocked = "00008110-000000000000F017";
constexpr const char* kPassword = "sesame";

constexpr const char* kDatabaseCategories[] = {
    "Messages", "Messages Attachments", "Contacts", "Call History", "Notes", "WhatsApp"};

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The scan's JSON; an empty object when it does not parse (the counts then fail).
Value Json(const std::string& text) {
  std::optional<Value> parsed = testjson::Parse(text);
  EXPECT_TRUE(parsed.has_value()) << text.substr(0, 200);
  return parsed ? *parsed : *testjson::Parse("{\"categories\": {}}");
}

std::size_t Count(const Value& json, const char* label) {
  if (!json["categories"].AsObject().count(label)) return 0;
  return json["categories"][label].AsArray().size();
}

std::vector<std::string> Names(const Value& json, const char* label) {
  std::vector<std::string> names;
  if (!json["categories"].AsObject().count(label)) return names;
  // Application files are grouped by application: {"appName", "files": [...]}.
  for (const Value& record : json["categories"][label].AsArray()) {
    if (record.AsObject().count("files")) {
      for (const Value& file : record["files"].AsArray()) names.push_back(file["name"].AsString());
    } else {
      names.push_back(record["name"].AsString());
    }
  }
  return names;
}

class DeviceScanTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new corvyn::testing::TempFolder("device-scan");
    if (!corvyn::testing::ToolOnPath("python3") || !corvyn::testing::ToolOnPath("idevicebackup2")) return;
    const fs::path root = Root();
    ts::TodayBackup today;
    ASSERT_EQ(ts::MakeTodayBackup(root / "scratch-today", today), kOk);
    ASSERT_EQ(today.builder.WriteNewerLayout(root / "today"), kOk);
    ASSERT_EQ(ts::EncryptNewerLayoutFolder(root / "today", root / "today-encrypted", kPassword), kOk);
    ts::StandardBackup standard;
    ASSERT_EQ(ts::MakeStandardBackup(root / "scratch-standard", standard), kOk);
    // A picture whose name carries its extension in capitals is a picture all the same.
    standard.builder.AddFile("AppDomain-com.example.camera", "Documents/IMG_0001.JPG",
                             ts::MakeJpegExif(2400, 9));
    ASSERT_EQ(standard.builder.Write(root / "standard"), kOk);

    WriteFile(root / "media/DCIM/100APPLE/IMG_0001.JPG", ts::MakeJpegExif(70000, 1));
    WriteFile(root / "media/DCIM/100APPLE/IMG_0002.HEIC", ts::MakeHeic(50000, 2));
    WriteFile(root / "media/DCIM/100APPLE/.MISC/Info.plist", "not a picture");
    WriteFile(root / "media/PhotoStreamsData/1/100APPLE/IMG_0500.JPG", ts::MakeJpegExif(30000, 3));
    WriteFile(root / "whatsapp/Library/Media/4917/a/b/SENT.jpg", ts::MakeJpegExif(20000, 4));
    WriteFile(root / "clips/Documents/clip.mov", ts::MakeMov(40000, 5));

    const std::string common = R"("afcRoot": "media", "DeviceClass": "iPhone",
      "apps": [{"bundleId": "net.whatsapp.WhatsApp", "container": "whatsapp"},
               {"bundleId": "com.example.clips", "container": "clips"}])";
    std::ofstream(root / "profile.json")
        << R"({"devices": [
      {"UDID": ")"
        << kToday << R"(", "DeviceName": "Anna's iPhone", "ProductVersion": "17.3", "backup": "today", )"
        << common << R"(},
      {"UDID": ")"
        << kOld << R"(", "DeviceName": "Old iPhone", "ProductVersion": "8.2", "backup": "standard", )"
        << common << R"(},
      {"UDID": ")"
        << kNine
        << R"(", "DeviceName": "Nine", "ProductVersion": "9.0", "backup": "standard", "hasAfc2": true, )"
        << common << R"(},
      {"UDID": ")"
        << kEncrypted << R"(", "DeviceName": "Locked Backups", "ProductVersion": "17.3", "WillEncrypt": true,
       "BackupPassword": ")"
        << kPassword << R"(", "backup": "today-encrypted", )" << common << R"(},
      {"UDID": ")"
        << kLocked << R"(", "DeviceName": "Untrusted", "refusesPairing": "PasswordProtected"}]})";
    phone_ = new corvyn::testing::SimPhoneProcess;
    started_ = phone_->Start(root, root / "profile.json");
  }
  static void TearDownTestSuite() {
    delete phone_;
    delete temp_;
  }
  static fs::path Root() { return temp_->Path(); }

  void SetUp() override {
    if (!corvyn::testing::ToolOnPath("python3"))
      GTEST_SKIP() << "python3 is not installed: no simulated phone";
    if (!corvyn::testing::ToolOnPath("idevicebackup2"))
      GTEST_SKIP() << "idevicebackup2 is not installed (package libimobiledevice-utils)";
    if (!fs::exists(fs::path(CORVYN_BIN_DIR) / "libcorvyn-mobiledevice.so"))
      GTEST_SKIP() << "the mobile-device library is not built";
    ASSERT_TRUE(started_) << "the simulated phone did not start";
  }

  // The built corvyn-cli with the phone's socket, `input` on its standard input.
  static CliRun Cli(const std::vector<std::string>& args, const std::string& input = {}) {
    CliRun run;
    auto launcher = platform::MakePosixProcessLauncher();
    platform::ProcessSpec program;
    // Standard error goes to a file of its own (the launcher joins it to the output).
    const fs::path errors = Root() / ("stderr-" + std::to_string(++runs_));
    program.executable = "/bin/sh";
    program.arguments = {"-c", "exec \"$0\" \"$@\" 2>\"$CORVYN_TEST_ERRORS\"",
                         (fs::path(CORVYN_BIN_DIR) / "corvyn-cli").string()};
    program.arguments.insert(program.arguments.end(), args.begin(), args.end());
    program.environment = {{"XDG_DATA_HOME", (Root() / "program-data").string()},
                           {"USBMUXD_SOCKET_ADDRESS", phone_->SocketAddress()},
                           {"CORVYN_TEST_ERRORS", errors.string()}};
    std::unique_ptr<platform::IChildProcess> child;
    if (launcher->Start(program, &child) != kOk) return run;
    (void)child->WriteInput(input);
    child->CloseInput();
    for (bool end = false; !end;)
      (void)child->ReadOutput(&run.out, 65536, std::chrono::milliseconds(200), &end);
    platform::ExitStatus exit;
    if (child->Wait(std::chrono::milliseconds(120000), &exit) == kOk && exit.exited) run.exitCode = exit.code;
    std::ifstream in(errors);
    run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
  }

  // The same backup scanned as a folder.
  static Value ScanFolder(const fs::path& folder, const std::string& password = {}) {
    std::vector<std::string> args = {"scan", folder.string(), "--json"};
    if (!password.empty()) args.push_back("--password-stdin");
    const CliRun run = Cli(args, password + "\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return Json(run.out);
  }

  static void ExpectDatabasesAsInTheFolder(const Value& device, const Value& folder) {
    for (const char* label : kDatabaseCategories) {
      EXPECT_EQ(Count(device, label), Count(folder, label)) << label;
      EXPECT_GT(Count(device, label), 0u) << label;
    }
  }

  static inline corvyn::testing::TempFolder* temp_ = nullptr;
  static inline corvyn::testing::SimPhoneProcess* phone_ = nullptr;
  static inline bool started_ = false;
  static inline int runs_ = 0;
};

TEST_F(DeviceScanTest, APhoneOfTodayFillsEveryCategoryFromItsBackupAndItsPictures) {
  const CliRun run = Cli({"scan", "--device", kToday, "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const Value device = Json(run.out);
  ExpectDatabasesAsInTheFolder(device, ScanFolder(Root() / "today"));
  EXPECT_EQ(Names(device, "Camera Roll"), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.HEIC"}));
  EXPECT_EQ(Names(device, "Photo Stream"), std::vector<std::string>{"IMG_0500.JPG"});
  // Applications' files of a phone of today come from its backup, never from a container.
  EXPECT_EQ(Names(device, "WhatsApp Attachments"),
            Names(ScanFolder(Root() / "today"), "WhatsApp Attachments"));
  EXPECT_EQ(Count(device, "App Videos"), 0u);
  // The helper's backup is gone once the scan is over.
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(Root() / "program-data", error))
    EXPECT_NE(entry.path().filename(), "Manifest.db") << entry.path();
}

TEST_F(DeviceScanTest, ApplicationsFilesComeFromContainersOnlyBeforeEightThree) {
  const Value folder = ScanFolder(Root() / "standard");
  struct Case {
    const char* udid;
    bool containers;
  } cases[] = {{kOld, true}, {kNine, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.udid);
    const CliRun run = Cli({"scan", "--device", c.udid, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Value device = Json(run.out);
    ExpectDatabasesAsInTheFolder(device, folder);
    EXPECT_EQ(Count(device, "Camera Roll"), 2u);
    if (c.containers) {
      EXPECT_EQ(Names(device, "WhatsApp Attachments"), std::vector<std::string>{"SENT.JPG"});
      EXPECT_EQ(Names(device, "App Videos"), std::vector<std::string>{"clip.MOV"});
    } else {
      EXPECT_EQ(Names(device, "WhatsApp Attachments"), Names(folder, "WhatsApp Attachments"));
      EXPECT_EQ(Names(device, "App Photos"), Names(folder, "App Photos"));
      const std::vector<std::string> photos = Names(device, "App Photos");
      EXPECT_NE(std::find(photos.begin(), photos.end(), "IMG_0001.JPG"), photos.end());
    }
  }
}

TEST_F(DeviceScanTest, APhoneThatEncryptsItsBackupsNeedsThePasswordItAccepts) {
  const CliRun right =
      Cli({"scan", "--device", kEncrypted, "--json", "--password-stdin"}, std::string(kPassword) + "\n");
  ASSERT_EQ(right.exitCode, 0) << right.err;
  ExpectDatabasesAsInTheFolder(Json(right.out), ScanFolder(Root() / "today"));

  const CliRun wrong = Cli({"scan", "--device", kEncrypted, "--password-stdin"}, "not it\n");
  EXPECT_EQ(wrong.exitCode, 3) << wrong.err;
  EXPECT_NE(wrong.err.find("wrong backup password"), std::string::npos) << wrong.err;

  const CliRun none = Cli({"scan", "--device", kEncrypted});
  EXPECT_EQ(none.exitCode, 2) << none.err;
  EXPECT_NE(none.err.find("--password-stdin"), std::string::npos) << none.err;
}

TEST_F(DeviceScanTest, APhoneThatIsNotThereOrDoesNotTrustUsIsToldInWords) {
  const CliRun untrusted = Cli({"scan", "--device", kLocked});
  EXPECT_EQ(untrusted.exitCode, 4);
  EXPECT_NE(untrusted.err.find("Trust"), std::string::npos) << untrusted.err;

  const CliRun absent = Cli({"scan", "--device", "00008110-00000000DEADBEEF"});
  EXPECT_EQ(absent.exitCode, 4);
  EXPECT_NE(absent.err.find("is not connected"), std::string::npos) << absent.err;
}

}  // namespace
}  // namespace corvyn
