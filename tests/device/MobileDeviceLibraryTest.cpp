// Functions of the mobile-device library that the iPhone wrapper does not
// call, used directly through the loader against the simulated phone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "device/MobileDeviceLibrary.h"
#include "tests/support/simphone/SimPhoneProcess.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::device {
namespace {

namespace fs = std::filesystem;
constexpr const char* kUdid = "00008030-00000000000000C1";

void WriteAll(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << data;
}

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!corvyn::testing::ToolOnPath("python3"))
      GTEST_SKIP() << "python3 is not installed: no simulated phone";
    WriteAll(folder_ / "afc/notes.txt", "0123456789");
    WriteAll(folder_ / "app/Documents/data.bin", "container bytes");
    WriteAll(folder_ / "profile.json", std::string(R"({"UDID": ")") + kUdid + R"(", "WillEncrypt": true,
        "afcRoot": "afc", "apps": [{"bundleId": "com.example.app", "container": "app"}]})");
    ASSERT_TRUE(sim_.Start(folder_.Path(), folder_ / "profile.json"));
    ASSERT_EQ(MobileDeviceLibrary::Load(CORVYN_BIN_DIR, library_), kOk);
    ASSERT_EQ(api().AMDeviceNotificationSubscribe(&LibraryTest::Arrived, 0, 0, this, &notification_),
              kAMDSuccess);
    for (int i = 0; i < 500 && !device_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(device_.load(), nullptr) << "the phone never arrived";
    ASSERT_EQ(api().AMDeviceConnect(device_), kAMDSuccess);
    ASSERT_EQ(api().AMDeviceValidatePairing(device_), kAMDSuccess);
    ASSERT_EQ(api().AMDeviceStartSession(device_), kAMDSuccess);
  }
  void TearDown() override {
    if (device_) api().AMDeviceRelease(device_);
    if (notification_) api().AMDeviceNotificationUnsubscribe(notification_);
  }

  static void Arrived(const AMDeviceNotificationInfo* info, void* cookie) {
    if (info->message == kAMDNotificationConnected) static_cast<LibraryTest*>(cookie)->device_ = info->device;
  }
  const MobileDeviceFunctions& api() const { return library_->Functions(); }
  CFStringRef Text(const char* text) const { return api().CFStringMakeConstantString(text); }
  // The UTF-8 of a text the caller owned; releases it.
  std::string Take(CFStringRef text) const {
    if (!text) return "<none>";
    char buffer[256] = {};
    api().CFStringGetCString(text, buffer, sizeof buffer, kCFStringEncodingUTF8);
    api().CFRelease(text);
    return buffer;
  }
  std::string ReadFrom(AFCConnectionRef files, const char* path, int64_t offset) const {
    AFCFileRef file = 0;
    if (api().AFCFileRefOpen(files, path, kAFCModeReadOnly, &file) != kAMDSuccess) return "<not opened>";
    EXPECT_EQ(api().AFCFileRefSeek(files, file, offset, kAFCSeekSet), kAMDSuccess);
    char buffer[64];
    uint32_t length = sizeof buffer;
    EXPECT_EQ(api().AFCFileRefRead(files, file, buffer, &length), kAMDSuccess);
    EXPECT_EQ(api().AFCFileRefClose(files, file), kAMDSuccess);
    return std::string(buffer, length);
  }

  corvyn::testing::TempFolder folder_{"mobiledevice"};
  corvyn::testing::SimPhoneProcess sim_;
  std::unique_ptr<MobileDeviceLibrary> library_;
  AMDNotificationRef notification_ = nullptr;
  std::atomic<AMDeviceRef> device_{nullptr};
};

TEST_F(LibraryTest, AnswersIdentityAndValuesOfOtherDomains) {
  EXPECT_EQ(Take(api().AMDeviceCopyDeviceIdentifier(device_)), kUdid);
  EXPECT_EQ(Take(api().AMDeviceCopyValue(device_, Text("com.apple.mobile.backup"), Text("WillEncrypt"))),
            "true");
  EXPECT_EQ(Take(api().AMDeviceCopyValue(device_, nullptr, Text("NoSuchValue"))), "<none>");
  EXPECT_EQ(api().AMDeviceIsPaired(device_), 1);
}

TEST_F(LibraryTest, HouseArrestServiceOpensTheContainer) {
  AMDServiceSocket socket = nullptr;
  ASSERT_EQ(
      api().AMDeviceStartHouseArrestService(device_, Text("com.example.app"), nullptr, &socket, nullptr),
      kAMDSuccess);
  AFCConnectionRef files = nullptr;
  ASSERT_EQ(api().AFCConnectionOpen(socket, 0, &files), kAMDSuccess);
  EXPECT_EQ(ReadFrom(files, "/Documents/data.bin", 10), "bytes");
  EXPECT_EQ(api().AFCConnectionClose(files), kAMDSuccess);

  EXPECT_EQ(
      api().AMDeviceStartHouseArrestService(device_, Text("com.example.missing"), nullptr, &socket, nullptr),
      kAMDNotFound);
}

TEST_F(LibraryTest, FileServiceDescribesTheDeviceAndSeeks) {
  AMDServiceSocket socket = nullptr;
  ASSERT_EQ(api().AMDeviceSecureStartService(device_, Text("com.apple.afc"), nullptr, &socket), kAMDSuccess);
  AFCConnectionRef files = nullptr;
  ASSERT_EQ(api().AFCConnectionOpen(socket, 0, &files), kAMDSuccess);
  AFCConnectionRef second = nullptr;
  EXPECT_EQ(api().AFCConnectionOpen(socket, 0, &second), kAMDInvalidArgument)
      << "a socket serves one connection";
  EXPECT_EQ(second, nullptr);

  AFCDictionaryRef info = nullptr;
  ASSERT_EQ(api().AFCDeviceInfoOpen(files, &info), kAMDSuccess);
  std::string model;
  for (const char *key = nullptr, *value = nullptr;
       api().AFCKeyValueRead(info, &key, &value) == kAMDSuccess && key;) {
    if (std::string(key) == "Model") model = value;
  }
  EXPECT_EQ(api().AFCKeyValueClose(info), kAMDSuccess);
  EXPECT_FALSE(model.empty());

  EXPECT_EQ(ReadFrom(files, "/notes.txt", 4), "456789");
  AFCFileRef file = 0;
  EXPECT_EQ(api().AFCFileRefOpen(files, "/missing.txt", kAFCModeReadOnly, &file), kAMDNotFound);
  EXPECT_EQ(api().AFCFileRefOpen(files, "/notes.txt", 9, &file), kAMDInvalidArgument) << "no such mode";
  EXPECT_EQ(api().AFCConnectionClose(files), kAMDSuccess);
}

}  // namespace
}  // namespace corvyn::device
