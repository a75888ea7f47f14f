// The iPhone wrapper through the loader and the real mobile-device library
// (build/bin/libcorvyn-mobiledevice.so), against the simulated phone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/IPhone.h"
#include "device/MobileDeviceLibrary.h"
#include "platform/Registry.h"
#include "tests/support/simphone/SimPhoneProcess.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::device {
namespace {

namespace fs = std::filesystem;
using corvyn::testing::SimPhoneProcess;
using corvyn::testing::TempFolder;
using Names = std::vector<std::string>;

const fs::path kProgramFolder = CORVYN_BIN_DIR;
constexpr const char* kPhone = "00008030-001A2B3C4D5E6F70";
constexpr const char* kRooted = "00008030-00000000000000A2";
constexpr const char* kEmptyBrowse = "00008030-00000000000000E0";
constexpr const char* kLocked = "00008030-00000000000000F0";
constexpr const char* kDenied = "00008030-00000000000000F1";
constexpr const char* kPending = "00008030-00000000000000F2";
constexpr std::size_t kPhotoSize = 3 * 1024 * 1024 + 123;
constexpr const char* kPhotoPath = "/DCIM/100APPLE/IMG_0001.JPG";
// 254 bytes of 'x', then a two-byte character that straddles byte 255
const std::string kLongNamePrefix(254, 'x');

// One phone of a simulated-phone profile: its UDID and further JSON keys.
std::string Entry(const std::string& udid, const std::string& keys) {
  return R"({"UDID": ")" + udid + R"(", )" + keys + "}";
}

void WriteProfile(const fs::path& path, const std::vector<std::string>& entries) {
  std::string json = R"({"devices": [)";
  for (const std::string& entry : entries) json += (json.back() == '[' ? "" : ", ") + entry;
  corvyn::testing::WriteWholeFile(path, json + "]}");
}

// Polls `done` for at most 10 s; the library reports phones on its own thread.
bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

// Takes the phone `udid` and connects to it.
Status ConnectTo(const std::string& udid, std::unique_ptr<iPhone>& phone,
                 std::function<void()> onRemoved = {}) {
  if (Status created = iPhone::Create(kProgramFolder, std::move(onRemoved), phone, udid); !created.ok())
    return created;
  if (!WaitUntil([&] { return phone->DeviceStored(); }))
    return Status(kInvalidData, "the phone never arrived");
  return phone->Connect();
}

std::string ReadThrough(iPhone& phone, const std::string& path) {
  const uint64_t file = phone.OpenFile(path);
  if (file == 0) return "<not opened>";
  std::string data;
  std::vector<char> buffer(100000);  // not a multiple of anything the phone uses
  for (;;) {
    std::size_t length = buffer.size();
    if (!phone.ReadFile(file, buffer.data(), length).ok()) return "<read failed>";
    if (length == 0) break;
    data.append(buffer.data(), length);
  }
  EXPECT_EQ(phone.CloseFile(file), kOk);
  return data;
}

class IPhoneTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder("iphone");
    const fs::path& dir = folder_->Path();
    corvyn::testing::WriteWholeFile(dir / "afc/DCIM/100APPLE/IMG_0001.JPG",
                                    corvyn::testing::PhotoBytes(kPhotoSize));
    corvyn::testing::WriteWholeFile(dir / "wa/Documents/ChatStorage.sqlite", "chats");
    corvyn::testing::WriteWholeFile(dir / "wa/Library/Preferences/x.plist", "prefs");
    WriteProfile(
        dir / "profile.json",
        {Entry(kPhone, R"("DeviceName": "Anna's iPhone", "DeviceClass": "iPhone", "ProductVersion": "14.8",
                        "afcRoot": "afc", "browsePageSize": 2,
                        "apps": [{"bundleId": "net.whatsapp.WhatsApp", "container": "wa"},
                                 {"bundleId": "com.example.notes"}, {"bundleId": "com.example.maps"},
                                 {"bundleId": "com.apple.mobilesafari", "applicationType": "System"}])"),
         Entry(kRooted, R"("hasAfc2": true, "afcRoot": "afc", "DeviceName": ")" + kLongNamePrefix +
                            R"(\u00fc and more")"),
         Entry(kEmptyBrowse, R"("browseEmpty": true, "apps": [{"bundleId": "com.example.hidden"}])"),
         Entry(kLocked, R"("refusesPairing": "PasswordProtected")"),
         Entry(kDenied, R"("refusesPairing": "UserDeniedPairing")"),
         Entry(kPending, R"("refusesPairing": "PairingDialogResponsePending")")});
    sim_ = new SimPhoneProcess;
    started_ = corvyn::testing::ToolOnPath("python3") && sim_->Start(dir, dir / "profile.json");
  }
  static void TearDownTestSuite() {
    delete sim_;
    delete folder_;
  }
  void SetUp() override {
    if (!corvyn::testing::ToolOnPath("python3"))
      GTEST_SKIP() << "python3 is not installed: no simulated phone";
    ASSERT_TRUE(started_) << "the simulated phone did not start";
  }

  static inline TempFolder* folder_ = nullptr;
  static inline SimPhoneProcess* sim_ = nullptr;
  static inline bool started_ = false;
};

TEST_F(IPhoneTest, TakesTheArrivingPhoneAndAnswersItsValues) {
  std::unique_ptr<iPhone> phone;
  ASSERT_EQ(iPhone::Create(kProgramFolder, {}, phone, kPhone), kOk);
  ASSERT_TRUE(WaitUntil([&] { return phone->DeviceStored(); }));
  EXPECT_EQ(phone->StoredUdid(), kPhone);
  EXPECT_FALSE(phone->Connected());
  std::string value;
  EXPECT_EQ(phone->DeviceValue("DeviceName", value), kInvalidData) << "no values before connecting";

  ASSERT_EQ(phone->Connect(), kOk) << phone->LastInternalError();
  EXPECT_TRUE(phone->Connected());
  const struct {
    const char* key;
    const char* value;
  } cases[] = {{"DeviceName", "Anna's iPhone"},
               {"DeviceClass", "iPhone"},
               {"ProductVersion", "14.8"},
               {"NoSuchValue", ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(phone->DeviceValue(c.key, value), kOk) << c.key;
    EXPECT_EQ(value, c.value) << c.key;
  }
}

TEST_F(IPhoneTest, OverlongValueIsCutOnACharacterBoundary) {
  std::unique_ptr<iPhone> phone;
  ASSERT_EQ(ConnectTo(kRooted, phone), kOk);
  std::string value;
  const Status status = phone->DeviceValue("DeviceName", value);
  EXPECT_EQ(status, kValueTooLong);
  EXPECT_FALSE(status.Message().empty());
  EXPECT_EQ(value, kLongNamePrefix) << "255 bytes would split the two-byte character";
}

TEST_F(IPhoneTest, FileServiceIsRootOnlyWhenThePhoneOffersAfc2) {
  const struct {
    const char* udid;
    bool root;
  } cases[] = {{kPhone, false}, {kRooted, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.udid);
    std::unique_ptr<iPhone> phone;
    ASSERT_EQ(ConnectTo(c.udid, phone), kOk);
    EXPECT_EQ(phone->HasRootFileService(), c.root);
    Names names{"kept"};
    phone->ListDirectory("/DCIM", names);
    EXPECT_EQ(names, (Names{"kept", "100APPLE"}));
  }
}

TEST_F(IPhoneTest, ReadsAndCopiesAPhotoByteForByte) {
  std::unique_ptr<iPhone> phone;
  ASSERT_EQ(ConnectTo(kPhone, phone), kOk);
  const struct {
    const char* path;
    bool directory;
  } kinds[] = {{"/DCIM", true}, {"/DCIM/100APPLE", true}, {kPhotoPath, false}, {"/DCIM/999APPLE", false}};
  for (const auto& c : kinds) EXPECT_EQ(phone->IsDirectory(c.path), c.directory) << c.path;

  EXPECT_TRUE(ReadThrough(*phone, kPhotoPath) == corvyn::testing::PhotoBytes(kPhotoSize));
  EXPECT_EQ(phone->OpenFile("/DCIM/100APPLE/IMG_9999.JPG"), 0u);

  TempFolder local("iphone-copy");
  uint64_t size = 0;
  ASSERT_EQ(phone->CopyFile(kPhotoPath, local / "photo.jpg", size), kOk);
  EXPECT_EQ(size, kPhotoSize);
  EXPECT_TRUE(corvyn::testing::ReadWholeFile(local / "photo.jpg") == corvyn::testing::PhotoBytes(kPhotoSize));

  EXPECT_EQ(phone->CopyFile("/DCIM/100APPLE/IMG_9999.JPG", local / "missing.jpg", size), kInvalidData);
  EXPECT_EQ(size, 0u);
  EXPECT_TRUE(phone->CopyFile(kPhotoPath, local / "no-such-folder" / "photo.jpg", size).IsSystemError());
}

TEST_F(IPhoneTest, ListsUserApplicationsAcrossPages) {
  const struct {
    const char* udid;
    Names applications;
  } cases[] = {{kPhone, {"net.whatsapp.WhatsApp", "com.example.notes", "com.example.maps"}},
               {kEmptyBrowse, {}}};  // a first page of none ends the listing
  for (const auto& c : cases) {
    SCOPED_TRACE(c.udid);
    std::unique_ptr<iPhone> phone;
    ASSERT_EQ(ConnectTo(c.udid, phone), kOk);
    Names applications;
    EXPECT_EQ(phone->ListUserApplications(applications), kOk);
    EXPECT_EQ(applications, c.applications);
  }
}

TEST_F(IPhoneTest, OpensAnApplicationContainerAndGoesBackToTheMedia) {
  std::unique_ptr<iPhone> phone;
  ASSERT_EQ(ConnectTo(kPhone, phone), kOk);
  ASSERT_EQ(phone->OpenAppContainer("net.whatsapp.WhatsApp"), kOk) << phone->LastInternalError();
  Names names;
  phone->ListDirectory("/Documents", names);
  EXPECT_EQ(names, Names{"ChatStorage.sqlite"});
  EXPECT_EQ(ReadThrough(*phone, "/Documents/ChatStorage.sqlite"), "chats");

  // the installation proxy of the connection still answers
  Names applications;
  EXPECT_EQ(phone->ListUserApplications(applications), kOk);
  EXPECT_EQ(applications.size(), 3u);

  phone->ReopenFileService();
  names.clear();
  phone->ListDirectory("/DCIM", names);
  EXPECT_EQ(names, Names{"100APPLE"});

  const Status missing = phone->OpenAppContainer("com.example.missing");
  EXPECT_EQ(missing, kSourceUnreadable);
  EXPECT_NE(missing.Message().find("com.example.missing"), std::string::npos) << missing.Message();
  // the media folders come back on the next file operation
  EXPECT_TRUE(phone->IsDirectory("/DCIM"));
}

TEST_F(IPhoneTest, RefusedPairingAsksTheUserToUnlockAndTrust) {
  for (const char* udid : {kLocked, kDenied, kPending}) {
    SCOPED_TRACE(udid);
    std::unique_ptr<iPhone> phone;
    const Status status = ConnectTo(udid, phone);
    EXPECT_EQ(status, kPasscodeLocked);
    EXPECT_NE(status.Message().find("Trust"), std::string::npos) << status.Message();
    EXPECT_NE(status.Message().find("nlock"), std::string::npos) << status.Message();
    ASSERT_TRUE(phone);
    EXPECT_EQ(phone->LastInternalError(), "配对失败");
    EXPECT_FALSE(phone->Connected());
  }
}

// Loader failures, without a phone: a program folder made for each case.
TEST(MobileDeviceLoader, MissingSoftwareFailsWithWords) {
  const struct {
    const char* name;
    bool installDir;
    bool dllValue;
    const char* library;  // "real", "garbage" or nullptr for none
    const char* words;    // part of the message
  } cases[] = {
      {"no library file", true, true, nullptr, "could not be loaded"},
      {"no InstallDir", false, true, "real", "InstallDir"},
      {"no MobileDeviceDLL", true, false, "real", "MobileDeviceDLL"},
      {"a file that is no library", true, true, "garbage", "could not be loaded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder("loader");
    platform::FileRegistry registry(platform::MachineRegistryFile(folder.Path()));
    if (c.installDir) {
      ASSERT_EQ(registry.WriteValue(platform::kAppleApplicationSupportKey, platform::kInstallDirValue,
                                    folder.Path().string()),
                kOk);
    }
    if (c.dllValue) {
      ASSERT_EQ(registry.WriteValue(platform::kAppleMobileDeviceSupportKey, platform::kMobileDeviceDllValue,
                                    kMobileDeviceLibraryFileName),
                kOk);
    }
    const fs::path library = folder.Path() / kMobileDeviceLibraryFileName;
    if (c.library && std::string(c.library) == "real")
      fs::copy_file(kProgramFolder / kMobileDeviceLibraryFileName, library);
    if (c.library && std::string(c.library) == "garbage")
      corvyn::testing::WriteWholeFile(library, "not a shared object");

    EXPECT_EQ(MobileDeviceSoftwarePresent(folder.Path()), c.installDir && c.dllValue && c.library);
    std::unique_ptr<iPhone> phone;
    const Status status = iPhone::Create(folder.Path(), {}, phone);
    EXPECT_EQ(status, kInvalidData);
    EXPECT_EQ(status.value(), 87);
    EXPECT_NE(status.Message().find(c.words), std::string::npos) << status.Message();
    EXPECT_FALSE(phone);
  }
  EXPECT_TRUE(MobileDeviceSoftwarePresent(kProgramFolder))
      << "the build writes registry.ini beside the library";
  std::unique_ptr<MobileDeviceLibrary> loaded;
  std::string internal;
  EXPECT_EQ(MobileDeviceLibrary::Load(kProgramFolder, loaded, &internal), kOk) << internal;
}

TEST(MobileDeviceTexts, ComeOutAsUtf8OrUtf16) {
  std::unique_ptr<MobileDeviceLibrary> library;
  ASSERT_EQ(MobileDeviceLibrary::Load(kProgramFolder, library), kOk);
  const MobileDeviceFunctions& api = library->Functions();
  const std::string text = "Anna\xC3\xBC\xF0\x9F\x98\x80";  // a two-byte character and a surrogate pair
  CFStringRef handle = api.CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(api.CFStringGetLength(handle), 7);
  char16_t wide[8];
  ASSERT_EQ(
      api.CFStringGetCString(handle, reinterpret_cast<char*>(wide), sizeof wide, kCFStringEncodingUnicode),
      1);
  EXPECT_TRUE(std::u16string(wide) == u"Anna\u00fc\U0001F600");
  char tooSmall[10] = "untouched";  // no room for the terminator
  EXPECT_EQ(api.CFStringGetCString(handle, tooSmall, sizeof tooSmall, kCFStringEncodingUTF8), 0);
  EXPECT_STREQ(tooSmall, "untouched");
  char exact[11];
  ASSERT_EQ(api.CFStringGetCString(handle, exact, sizeof exact, kCFStringEncodingUTF8), 1);
  EXPECT_EQ(exact, text);
  api.CFRelease(handle);

  EXPECT_EQ(api.CFStringCreateWithCString(nullptr, "cut \xC3", kCFStringEncodingUTF8), nullptr);
  EXPECT_EQ(api.CFStringMakeConstantString("com.apple.afc"), api.CFStringMakeConstantString("com.apple.afc"));
}

// Phones coming and going, on a phone of their own (detaching changes it).
TEST(IPhoneRemoval, OnlyTheStoredPhoneGoingIsReported) {
  if (!corvyn::testing::ToolOnPath("python3")) GTEST_SKIP() << "python3 is not installed: no simulated phone";
  constexpr const char* kFirst = "00008030-0000000000000B01";
  constexpr const char* kSecond = "00008030-0000000000000B02";
  TempFolder folder("iphone-removal");
  corvyn::testing::WriteWholeFile(folder / "afc/DCIM/100APPLE/IMG_0001.JPG", "jpeg");
  WriteProfile(folder / "profile.json",
               {Entry(kFirst, R"("afcRoot": "afc")"), Entry(kSecond, R"("attached": false)")});
  SimPhoneProcess sim;
  ASSERT_TRUE(sim.Start(folder.Path(), folder / "profile.json"));

  std::atomic<int> removed{0};
  std::unique_ptr<iPhone> phone;
  ASSERT_EQ(ConnectTo({}, phone, [&] { ++removed; }), kOk) << phone->LastInternalError();
  EXPECT_EQ(phone->StoredUdid(), kFirst);
  const uint64_t open = phone->OpenFile(kPhotoPath);
  EXPECT_NE(open, 0u);

  // A second phone arrives and goes; a watcher of its own proves the
  // notifications were delivered.
  ASSERT_EQ(sim.Control(std::string("attach ") + kSecond), "ok");
  std::unique_ptr<iPhone> watcher;
  ASSERT_EQ(iPhone::Create(kProgramFolder, {}, watcher, kSecond), kOk);
  ASSERT_TRUE(WaitUntil([&] { return watcher->DeviceStored(); }));
  EXPECT_EQ(phone->StoredUdid(), kFirst) << "a second phone is not taken";
  ASSERT_EQ(sim.Control(std::string("detach ") + kSecond), "ok");
  ASSERT_TRUE(WaitUntil([&] { return !watcher->DeviceStored(); }));
  EXPECT_EQ(removed, 0);
  EXPECT_TRUE(phone->Connected());

  ASSERT_EQ(sim.Control(std::string("detach ") + kFirst), "ok");
  ASSERT_TRUE(WaitUntil([&] { return removed == 1; }));
  EXPECT_FALSE(phone->DeviceStored());
  EXPECT_FALSE(phone->Connected());
  Names names;
  phone->ListDirectory("/DCIM", names);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(phone->OpenFile(kPhotoPath), 0u);
  char buffer[16];
  std::size_t length = sizeof buffer;
  EXPECT_EQ(phone->ReadFile(open, buffer, length), kInvalidData);
  std::string value;
  const Status status = phone->DeviceValue("DeviceName", value);
  EXPECT_EQ(status, kInvalidData);
  EXPECT_NE(status.Message().find("not connected"), std::string::npos) << status.Message();
  EXPECT_EQ(phone->LastInternalError(), "未连接到iPhone");

  // plugged in again, it is taken and served again
  ASSERT_EQ(sim.Control(std::string("attach ") + kFirst), "ok");
  ASSERT_TRUE(WaitUntil([&] { return phone->DeviceStored(); }));
  ASSERT_EQ(phone->Connect(), kOk) << phone->LastInternalError();
  phone->ListDirectory("/DCIM", names);
  EXPECT_EQ(names, Names{"100APPLE"});
}

}  // namespace
}  // namespace corvyn::device
