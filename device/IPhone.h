// The one wrapper over the mobile-device library: it loads the library,
// follows phones arriving and going, connects to one phone (pairing and a
// session), and serves IDeviceServices through the phone's file service
// (AFC), the installation proxy and house arrest.
//
// One phone is served at a time: the first that arrives (or the first with
// the wanted UDID) is stored; others are ignored until it goes.
//
// Texts: device values come out as UTF-8 (the library's texts are read with
// its UTF-8 encoding); phone files are opened read-only, so nothing on the
// phone is ever changed.
//
// Threads: the arrival and removal notifications run on the library's
// notification thread and only touch the stored phone and the connected
// flag; every other operation runs on the calling thread, one at a time.
// Failures inside travel as the wrapper's own errors and come out of the
// public operations as a Status with words for people; the wrapper's own
// text of the last failure is kept for logs (LastInternalError).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device/IDeviceServices.h"
#include "device/MobileDeviceLibrary.h"

namespace corvyn::device {

class iPhone final : public IDeviceServices {
 public:
  // Loads the library of `programFolder` and starts following phones.
  // `onRemoved` is called on the library's notification thread when the
  // stored phone goes; it must return quickly and must not destroy this
  // object (post a message instead). An empty `wantedUdid` takes any phone.
  // Failure: kInvalidData with words, `out` empty.
  static Status Create(const std::filesystem::path& programFolder, std::function<void()> onRemoved,
                       std::unique_ptr<iPhone>& out, std::string wantedUdid = {});
  // Closes the file service, disconnects and releases the phone, stops
  // following phones and unloads the library.
  ~iPhone() override;
  iPhone(const iPhone&) = delete;
  iPhone& operator=(const iPhone&) = delete;

  // A phone arrived and was taken.
  bool DeviceStored() const;
  std::string StoredUdid() const;
  // Connects to the stored phone: lockdown connection, pairing, session, the
  // installation proxy, and the file service on the media folders. A phone
  // that refuses this computer gives kPasscodeLocked with words asking the
  // user to unlock it and tap "Trust"; other failures kInvalidData. On
  // failure the phone is left disconnected.
  Status Connect();
  // Connect succeeded and the phone has not gone since.
  bool Connected() const;
  // The wrapper's own text of the last failure (empty after none).
  const std::string& LastInternalError() const { return lastInternalError_; }

  Status DeviceValue(std::string_view key, std::string& value) override;
  void ReopenFileService() override;
  bool HasRootFileService() const override { return root_; }
  bool IsDirectory(const std::string& path) override;
  void ListDirectory(const std::string& path, std::vector<std::string>& names) override;
  uint64_t OpenFile(const std::string& path) override;
  Status ReadFile(uint64_t file, char* buffer, std::size_t& length) override;
  Status CloseFile(uint64_t file) override;
  Status CopyFile(const std::string& path, const std::filesystem::path& local, uint64_t& size) override;
  // Reconnects (house arrest needs a session) and vends the container; an
  // unknown application or a phone that refuses gives kSourceUnreadable, and
  // the next file operation opens the media folders again.
  Status OpenAppContainer(const std::string& bundleIdentifier) override;
  // Browses on the installation proxy of the last Connect, page by page until
  // "Complete"; a first page with nothing counted ends the listing at once.
  // A phone that stops answering gives kSourceUnreadable, an error reply
  // kInvalidData.
  Status ListUserApplications(std::vector<std::string>& bundleIdentifiers) override;

 private:
  struct FileInfo;

  iPhone(std::unique_ptr<MobileDeviceLibrary> library, std::function<void()> onRemoved,
         std::string wantedUdid);
  static void OnNotification(const AMDeviceNotificationInfo* info, void* cookie);
  std::string UdidOf(AMDeviceRef device) const;

  // These throw the wrapper's error.
  void FullConnection();
  void Reconnect();
  void OpenFileService();
  void CloseFileService();
  void RequireConnected() const;
  void RequireFileService();
  AMDeviceRef Current() const;
  FileInfo QueryFileInfo(const std::string& path);
  AMDServiceSocket StartService(std::string_view name);
  void SendMessage(AMDServiceSocket socket, const std::string& xml);
  std::string ReceiveMessage(AMDServiceSocket socket);
  Status Failed(const std::exception_ptr& error);

  std::unique_ptr<MobileDeviceLibrary> library_;
  AMDNotificationRef notification_ = nullptr;
  std::function<void()> onRemoved_;
  std::string wantedUdid_;

  mutable std::mutex mutex_;  // the fields shared with the notification thread
  bool listening_ = true;
  AMDeviceRef stored_ = nullptr;
  std::string storedUdid_;
  AMDeviceRef current_ = nullptr;
  bool connected_ = false;

  AFCConnectionRef files_ = nullptr;
  bool fileServiceOpen_ = false;
  bool root_ = false;
  bool appContainer_ = false;
  AMDServiceSocket installationProxy_ = nullptr;
  AMDServiceSocket fileRelay_ = nullptr;
  std::string lastInternalError_;
};

}  // namespace corvyn::device
