// Drives the simulated phone through the real libimobiledevice C API and the
// real idevicebackup2, each test on its own usbmuxd socket in a temp folder.
#include <gtest/gtest.h>
#include <libimobiledevice/afc.h>
#include <libimobiledevice/house_arrest.h>
#include <libimobiledevice/installation_proxy.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/simphone/SimPhoneProcess.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPhone = "00008030-001A2B3C4D5E6F70";
constexpr const char* kEmptyBrowse = "00008030-00000000000000E0";
constexpr const char* kLocked = "00008030-00000000000000F0";
constexpr size_t kPhotoSize = 3 * 1024 * 1024 + 123;

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

using Simulator = corvyn::testing::SimPhoneProcess;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "simphone-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

class SimulatedPhone : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("python3")) GTEST_SKIP() << "python3 is not installed: the simulated phone needs it";
    const fs::path& dir = temp_.path();
    corvyn::testing::WriteWholeFile(dir / "afc/DCIM/100APPLE/IMG_0001.JPG",
                                    corvyn::testing::PhotoBytes(kPhotoSize));
    corvyn::testing::WriteWholeFile(dir / "afc/PhotoStreamsData/1/100APPLE/IMG_0002.JPG", "stream");
    corvyn::testing::WriteWholeFile(dir / "wa/Documents/ChatStorage.sqlite", "chats");
    corvyn::testing::WriteWholeFile(dir / "wa/Library/Preferences/x.plist", "prefs");
    std::ofstream(dir / "profile.json") << R"({"devices": [
      {"UDID": ")" << kPhone << R"(", "DeviceName": "Anna's iPhone", "ProductVersion": "14.8",
       "WillEncrypt": true, "afcRoot": "afc", "browsePageSize": 2,
       "apps": [{"bundleId": "net.whatsapp.WhatsApp", "displayName": "WhatsApp", "container": "wa"},
                {"bundleId": "com.example.notes", "displayName": "Notes+"},
                {"bundleId": "com.example.maps", "displayName": "Maps+"}]},
      {"UDID": ")" << kEmptyBrowse << R"(", "browseEmpty": true,
       "apps": [{"bundleId": "com.example.hidden"}]},
      {"UDID": ")" << kLocked << R"(", "refusesPairing": "PasswordProtected"}]})";
    ASSERT_TRUE(sim_.Start(dir, dir / "profile.json")) << "the simulated phone did not start";
  }

  void TearDown() override {
    if (lockdown_) lockdownd_client_free(lockdown_);
    if (device_) idevice_free(device_);
  }

  lockdownd_client_t Lockdown(const char* udid = kPhone) {
    EXPECT_EQ(idevice_new_with_options(&device_, udid, IDEVICE_LOOKUP_USBMUX), IDEVICE_E_SUCCESS);
    EXPECT_EQ(lockdownd_client_new_with_handshake(device_, &lockdown_, "tests"), LOCKDOWN_E_SUCCESS);
    return lockdown_;
  }

  TempFolder temp_;
  Simulator sim_;
  idevice_t device_ = nullptr;
  lockdownd_client_t lockdown_ = nullptr;
};

std::vector<std::string> DeviceList() {
  std::vector<std::string> out;
  char** list = nullptr;
  int count = 0;
  if (idevice_get_device_list(&list, &count) == IDEVICE_E_SUCCESS) {
    for (int i = 0; i < count; ++i) out.emplace_back(list[i]);
    idevice_device_list_free(list);
  }
  return out;
}

struct Events {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<idevice_event_type, std::string>> seen;

  bool WaitFor(idevice_event_type type, const std::string& udid) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] {
      return std::find(seen.begin(), seen.end(), std::make_pair(type, udid)) != seen.end();
    });
  }
};

TEST_F(SimulatedPhone, ListsPhonesAndReportsArrivalAndRemoval) {
  EXPECT_EQ(DeviceList(), (std::vector<std::string>{kPhone, kEmptyBrowse, kLocked}));

  static Events events;
  events.seen.clear();
  ASSERT_EQ(idevice_event_subscribe(
                [](const idevice_event_t* e, void*) {
                  std::lock_guard lock(events.mutex);
                  events.seen.emplace_back(e->event, e->udid);
                  events.changed.notify_all();
                },
                nullptr),
            IDEVICE_E_SUCCESS);
  EXPECT_TRUE(events.WaitFor(IDEVICE_DEVICE_ADD, kPhone));
  EXPECT_EQ(sim_.Control(std::string("detach ") + kPhone), "ok");
  EXPECT_TRUE(events.WaitFor(IDEVICE_DEVICE_REMOVE, kPhone));
  EXPECT_EQ(DeviceList(), (std::vector<std::string>{kEmptyBrowse, kLocked}));
  events.seen.clear();
  EXPECT_EQ(sim_.Control(std::string("attach ") + kPhone), "ok");
  EXPECT_TRUE(events.WaitFor(IDEVICE_DEVICE_ADD, kPhone));
  idevice_event_unsubscribe();
  EXPECT_EQ(sim_.Control("detach NO-SUCH-PHONE"), "error no phone with that UDID");
}

TEST_F(SimulatedPhone, LockdownAnswersValuesAndMissingKeys) {
  lockdownd_client_t client = Lockdown();
  ASSERT_NE(client, nullptr);
  struct Case {
    const char* domain;
    const char* key;
    const char* text;
  } cases[] = {{nullptr, "DeviceName", "Anna's iPhone"},
               {nullptr, "UniqueDeviceID", kPhone},
               {nullptr, "ProductVersion", "14.8"}};
  for (const Case& c : cases) {
    plist_t value = nullptr;
    ASSERT_EQ(lockdownd_get_value(client, c.domain, c.key, &value), LOCKDOWN_E_SUCCESS) << c.key;
    char* text = nullptr;
    plist_get_string_val(value, &text);
    EXPECT_STREQ(text, c.text) << c.key;
    free(text);
    plist_free(value);
  }
  plist_t encrypt = nullptr;
  ASSERT_EQ(lockdownd_get_value(client, "com.apple.mobile.backup", "WillEncrypt", &encrypt),
            LOCKDOWN_E_SUCCESS);
  uint8_t on = 0;
  plist_get_bool_val(encrypt, &on);
  EXPECT_TRUE(on);
  plist_free(encrypt);

  plist_t missing = nullptr;
  EXPECT_EQ(lockdownd_get_value(client, "com.apple.mobile.backup", "RequiresEncrypt", &missing),
            LOCKDOWN_E_MISSING_VALUE);
  EXPECT_EQ(missing, nullptr);
}

TEST_F(SimulatedPhone, AfcListsStatsAndReadsInChunks) {
  lockdownd_client_t client = Lockdown();
  lockdownd_service_descriptor_t service = nullptr;
  EXPECT_EQ(lockdownd_start_service(client, "com.apple.afc2", &service), LOCKDOWN_E_INVALID_SERVICE);
  ASSERT_EQ(lockdownd_start_service(client, "com.apple.afc", &service), LOCKDOWN_E_SUCCESS);
  afc_client_t afc = nullptr;
  ASSERT_EQ(afc_client_new(device_, service, &afc), AFC_E_SUCCESS);
  lockdownd_service_descriptor_free(service);

  char** names = nullptr;
  ASSERT_EQ(afc_read_directory(afc, "/DCIM/100APPLE", &names), AFC_E_SUCCESS);
  std::vector<std::string> listed;
  for (char** n = names; *n; ++n) listed.emplace_back(*n);
  afc_dictionary_free(names);
  EXPECT_EQ(listed, (std::vector<std::string>{".", "..", "IMG_0001.JPG"}));

  char** info = nullptr;
  ASSERT_EQ(afc_get_file_info(afc, "/DCIM/100APPLE/IMG_0001.JPG", &info), AFC_E_SUCCESS);
  std::string size, kind;
  for (char** i = info; i[0] && i[1]; i += 2) {
    if (std::string(i[0]) == "st_size") size = i[1];
    if (std::string(i[0]) == "st_ifmt") kind = i[1];
  }
  afc_dictionary_free(info);
  EXPECT_EQ(size, std::to_string(kPhotoSize));
  EXPECT_EQ(kind, "S_IFREG");
  EXPECT_EQ(afc_get_file_info(afc, "/DCIM/999APPLE", &info), AFC_E_OBJECT_NOT_FOUND);
  EXPECT_EQ(afc_get_file_info(afc, "/../../etc/passwd", &info), AFC_E_OBJECT_NOT_FOUND);

  uint64_t handle = 0;
  ASSERT_EQ(afc_file_open(afc, "/DCIM/100APPLE/IMG_0001.JPG", AFC_FOPEN_RDONLY, &handle), AFC_E_SUCCESS);
  std::string read;
  std::vector<char> chunk(64 * 1024);
  for (;;) {
    uint32_t got = 0;
    ASSERT_EQ(afc_file_read(afc, handle, chunk.data(), chunk.size(), &got), AFC_E_SUCCESS);
    if (got == 0) break;
    read.append(chunk.data(), got);
  }
  afc_file_close(afc, handle);
  afc_client_free(afc);
  EXPECT_TRUE(read == corvyn::testing::PhotoBytes(kPhotoSize)) << "read " << read.size() << " bytes";
}

std::vector<std::string> BrowseUserApps(idevice_t device, lockdownd_client_t client) {
  std::vector<std::string> ids;
  instproxy_client_t proxy = nullptr;
  lockdownd_service_descriptor_t service = nullptr;
  if (lockdownd_start_service(client, "com.apple.mobile.installation_proxy", &service) != LOCKDOWN_E_SUCCESS)
    return {"<no service>"};
  instproxy_client_new(device, service, &proxy);
  lockdownd_service_descriptor_free(service);
  plist_t options = instproxy_client_options_new();
  instproxy_client_options_add(options, "ApplicationType", "User", nullptr);
  plist_t apps = nullptr;
  if (instproxy_browse(proxy, options, &apps) == INSTPROXY_E_SUCCESS) {
    for (uint32_t i = 0; i < plist_array_get_size(apps); ++i) {
      char* id = nullptr;
      plist_get_string_val(plist_dict_get_item(plist_array_get_item(apps, i), "CFBundleIdentifier"), &id);
      ids.emplace_back(id ? id : "");
      free(id);
    }
  }
  plist_free(apps);
  instproxy_client_options_free(options);
  instproxy_client_free(proxy);
  return ids;
}

TEST_F(SimulatedPhone, BrowseJoinsPagesAndAcceptsAnEmptyPage) {
  EXPECT_EQ(BrowseUserApps(device_, Lockdown()),
            (std::vector<std::string>{"net.whatsapp.WhatsApp", "com.example.notes", "com.example.maps"}));
  lockdownd_client_free(lockdown_);
  lockdown_ = nullptr;
  idevice_free(device_);
  device_ = nullptr;
  EXPECT_EQ(BrowseUserApps(device_, Lockdown(kEmptyBrowse)), std::vector<std::string>{});
}

TEST_F(SimulatedPhone, HouseArrestServesTheAppContainer) {
  lockdownd_client_t client = Lockdown();
  struct Case {
    const char* command;
    const char* app;
    const char* path;     // read through the vended AFC, nullptr when refused
    const char* content;  // or the error the phone answers
  } cases[] = {{"VendContainer", "net.whatsapp.WhatsApp", "/Documents/ChatStorage.sqlite", "chats"},
               {"VendDocuments", "net.whatsapp.WhatsApp", "/ChatStorage.sqlite", "chats"},
               {"VendContainer", "com.example.missing", nullptr, "ApplicationLookupFailed"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.app);
    lockdownd_service_descriptor_t service = nullptr;
    ASSERT_EQ(lockdownd_start_service(client, "com.apple.mobile.house_arrest", &service), LOCKDOWN_E_SUCCESS);
    house_arrest_client_t arrest = nullptr;
    ASSERT_EQ(house_arrest_client_new(device_, service, &arrest), HOUSE_ARREST_E_SUCCESS);
    lockdownd_service_descriptor_free(service);
    ASSERT_EQ(house_arrest_send_command(arrest, c.command, c.app), HOUSE_ARREST_E_SUCCESS);
    plist_t result = nullptr;
    ASSERT_EQ(house_arrest_get_result(arrest, &result), HOUSE_ARREST_E_SUCCESS);
    char* error = nullptr;
    plist_get_string_val(plist_dict_get_item(result, "Error"), &error);
    plist_free(result);
    if (!c.path) {
      EXPECT_STREQ(error, c.content);
      free(error);
      house_arrest_client_free(arrest);
      continue;
    }
    EXPECT_EQ(error, nullptr);
    afc_client_t afc = nullptr;
    ASSERT_EQ(afc_client_new_from_house_arrest_client(arrest, &afc), AFC_E_SUCCESS);
    uint64_t handle = 0;
    ASSERT_EQ(afc_file_open(afc, c.path, AFC_FOPEN_RDONLY, &handle), AFC_E_SUCCESS);
    char buf[64] = {};
    uint32_t got = 0;
    afc_file_read(afc, handle, buf, sizeof buf, &got);
    EXPECT_EQ(std::string(buf, got), c.content);
    afc_file_close(afc, handle);
    afc_client_free(afc);
    house_arrest_client_free(arrest);
  }
}

TEST_F(SimulatedPhone, LockedPhoneRefusesPairing) {
  ASSERT_EQ(idevice_new_with_options(&device_, kLocked, IDEVICE_LOOKUP_USBMUX), IDEVICE_E_SUCCESS);
  EXPECT_EQ(lockdownd_client_new_with_handshake(device_, &lockdown_, "tests"), LOCKDOWN_E_PASSWORD_PROTECTED);
}

TEST_F(SimulatedPhone, EncryptionSwitchFlipsWillEncrypt) {
  if (!OnPath("idevicebackup2"))
    GTEST_SKIP() << "idevicebackup2 is not installed (package libimobiledevice-utils)";
  struct Case {
    const char* command;
    bool encrypts;
  } cases[] = {{"encryption off secret", false}, {"encryption on secret", true}};
  for (const Case& c : cases) {
    const std::string run =
        std::string("timeout 60 idevicebackup2 -u ") + kPhone + " " + c.command + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(run.c_str()), 0) << c.command;
    idevice_t device = nullptr;
    lockdownd_client_t client = nullptr;
    ASSERT_EQ(idevice_new_with_options(&device, kPhone, IDEVICE_LOOKUP_USBMUX), IDEVICE_E_SUCCESS);
    ASSERT_EQ(lockdownd_client_new_with_handshake(device, &client, "tests"), LOCKDOWN_E_SUCCESS);
    plist_t value = nullptr;
    lockdownd_get_value(client, "com.apple.mobile.backup", "WillEncrypt", &value);
    uint8_t on = !c.encrypts;
    plist_get_bool_val(value, &on);
    EXPECT_EQ(on != 0, c.encrypts) << c.command;
    plist_free(value);
    lockdownd_client_free(client);
    idevice_free(device);
  }
}

// Backups: the demo backups (Manifest.mbdb and Manifest.db, plain and encrypted) are uploaded by the phone
// and written by the real idevicebackup2; what it wrote must be the source, byte for byte.
class SimulatedBackup : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() {
    demo_ = new TempFolder;
    const char* tool = std::getenv("CORVYN_MAKE_DEMO");
#ifdef CORVYN_MAKE_DEMO_TOOL
    const std::string maker = tool ? tool : CORVYN_MAKE_DEMO_TOOL;
#else
    const std::string maker = tool ? tool : CORVYN_BIN_DIR "/corvyn-make-demo";
#endif
    made_ =
        fs::exists(maker) &&
        std::system(
            ("'" + maker + "' --root '" + (demo_->path() / "demo").string() + "' >/dev/null 2>&1").c_str()) ==
            0;
  }
  static void TearDownTestSuite() {
    delete demo_;
  }

  void SetUp() override {
    if (!OnPath("python3")) GTEST_SKIP() << "python3 is not installed: the simulated phone needs it";
    if (!OnPath("idevicebackup2"))
      GTEST_SKIP() << "idevicebackup2 is not installed (package libimobiledevice-utils)";
    if (!made_) GTEST_SKIP() << "corvyn-make-demo is not built: no backups to upload";
    source_ = demo_->path() / "demo" / GetParam();
    const std::string make = "python3 '" CORVYN_SIMPHONE "' --make-profile '" + source_.string() +
                             "' --out '" + (temp_.path() / "profile.json").string() + "'";
    FILE* out = popen(make.c_str(), "r");
    char line[256] = {};
    if (out && fgets(line, sizeof line, out)) udid_ = std::string(line, strcspn(line, "\n"));
    if (out) pclose(out);
    ASSERT_FALSE(udid_.empty());
    ASSERT_TRUE(sim_.Start(temp_.path(), temp_.path() / "profile.json"));
    fs::create_directories(temp_.path() / "out");
  }

  int RunBackup() {
    const std::string command = "timeout 120 idevicebackup2 backup --full '" +
                                (temp_.path() / "out").string() + "' >'" +
                                (temp_.path() / "backup.log").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path Written() const {
    return temp_.path() / "out" / udid_;
  }

  static inline TempFolder* demo_ = nullptr;
  static inline bool made_ = false;
  TempFolder temp_;
  Simulator sim_;
  fs::path source_;
  std::string udid_;
};

TEST_P(SimulatedBackup, WritesTheSourceBackupByteForByte) {
  ASSERT_EQ(RunBackup(), 0) << corvyn::testing::ReadWholeFile(temp_.path() / "backup.log");
  EXPECT_NE(corvyn::testing::ReadWholeFile(temp_.path() / "backup.log").find("Backup Successful."),
            std::string::npos);
  size_t compared = 0;
  for (const auto& entry : fs::recursive_directory_iterator(source_)) {
    if (!entry.is_regular_file()) continue;
    const fs::path rel = fs::relative(entry.path(), source_);
    if (rel == "Info.plist" || rel == "Status.plist") continue;  // written by the host tool
    ASSERT_TRUE(fs::exists(Written() / rel)) << rel;
    EXPECT_TRUE(corvyn::testing::ReadWholeFile(entry.path()) ==
                corvyn::testing::ReadWholeFile(Written() / rel))
        << rel;
    ++compared;
  }
  EXPECT_GT(compared, 3u);
  EXPECT_TRUE(fs::exists(Written() / "Status.plist"));
}

TEST_P(SimulatedBackup, InterruptedBackupNeverLooksFinished) {
  // a dropped connection mid-way, and a stall ended by pulling the phone
  EXPECT_EQ(sim_.Control("fail-backup " + udid_), "ok");
  EXPECT_NE(RunBackup(), 0);
  EXPECT_FALSE(fs::exists(Written() / "Status.plist"));
  EXPECT_NE(corvyn::testing::ReadWholeFile(temp_.path() / "backup.log").find("Backup Aborted."),
            std::string::npos);

  fs::remove_all(temp_.path() / "out");
  fs::create_directories(temp_.path() / "out");
  EXPECT_EQ(sim_.Control("stall-backup " + udid_), "ok");
  int code = 0;
  std::thread backup([&] { code = RunBackup(); });
  for (int i = 0; i < 100 && !fs::exists(Written() / "Manifest.plist") &&
                  !(fs::exists(Written()) && !fs::is_empty(Written()));
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sim_.Control("detach " + udid_), "ok");
  backup.join();
  EXPECT_NE(code, 0);
  EXPECT_FALSE(fs::exists(Written() / "Status.plist"));
}

INSTANTIATE_TEST_SUITE_P(Demo, SimulatedBackup,
                         ::testing::Values("corvyn-demo-encrypted", "corvyn-demo-modern",
                                           "corvyn-demo-modern-encrypted"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
