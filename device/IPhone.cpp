#include "device/IPhone.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "device/IPhoneMessages.h"

namespace corvyn::device {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAfc2 = "com.apple.afc2";
constexpr const char* kAfc = "com.apple.afc";
constexpr const char* kInstallationProxy = "com.apple.mobile.installation_proxy";
constexpr const char* kFileRelay = "com.apple.mobile.file_relay";
constexpr const char* kHouseArrest = "com.apple.mobile.house_arrest";
constexpr std::size_t kCopyChunk = 64 * 1024;
constexpr std::size_t kMaxValueBytes = 255;

// The wrapper's error: its own text, the words a person is shown, the code.
struct DeviceError {
  std::string internal;
  std::string words;
  StatusCode code = kInvalidData;
};

[[noreturn]] void Throw(std::string internal, std::string words, StatusCode code = kInvalidData) {
  throw DeviceError{std::move(internal), std::move(words), code};
}

const char* const kNotConnected = "未连接到iPhone";
const char* const kNotConnectedWords = "The phone is not connected.";

bool RefusedPairing(int32_t result) {
  return result == kAMDPasswordProtected || result == kAMDUserDeniedPairing ||
         result == kAMDPairingDialogPending;
}

// The longest prefix of `text` of whole UTF-8 characters within `limit` bytes.
std::string CutOnCharacter(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// A text handle released when the holder goes.
class TextHandle {
 public:
  TextHandle(const MobileDeviceFunctions& functions, CFStringRef text) : functions_(functions), text_(text) {}
  ~TextHandle() {
    if (text_) functions_.CFRelease(text_);
  }
  TextHandle(const TextHandle&) = delete;
  TextHandle& operator=(const TextHandle&) = delete;
  CFStringRef get() const { return text_; }
  // The UTF-8 of the text; empty for none.
  std::string Utf8() const {
    if (!text_) return {};
    std::string buffer(static_cast<std::size_t>(functions_.CFStringGetLength(text_)) * 3 + 1, '\0');
    if (!functions_.CFStringGetCString(text_, buffer.data(), static_cast<int64_t>(buffer.size()),
                                       kCFStringEncodingUTF8))
      return {};
    buffer.resize(buffer.find('\0'));
    return buffer;
  }

 private:
  const MobileDeviceFunctions& functions_;
  CFStringRef text_;
};

}  // namespace

// What the file service tells about one path.
struct iPhone::FileInfo {
  enum Type { kDirectory = 0, kLink, kRegular, kBlock, kCharacter, kFifo, kFormatMask, kSocket, kUnknown };
  uint64_t size = 0;
  uint64_t blocks = 0;
  uint64_t links = 0;
  Type type = kUnknown;
};

iPhone::iPhone(std::unique_ptr<MobileDeviceLibrary> library, std::function<void()> onRemoved,
               std::string wantedUdid)
    : library_(std::move(library)), onRemoved_(std::move(onRemoved)), wantedUdid_(std::move(wantedUdid)) {}

Status iPhone::Create(const fs::path& programFolder, std::function<void()> onRemoved,
                      std::unique_ptr<iPhone>& out, std::string wantedUdid) {
  out.reset();
  std::unique_ptr<MobileDeviceLibrary> library;
  if (Status loaded = MobileDeviceLibrary::Load(programFolder, library); !loaded.ok()) return loaded;
  std::unique_ptr<iPhone> phone(new iPhone(std::move(library), std::move(onRemoved), std::move(wantedUdid)));
  if (phone->library_->Functions().AMDeviceNotificationSubscribe(&iPhone::OnNotification, 0, 0, phone.get(),
                                                                 &phone->notification_) != kAMDSuccess) {
    phone->notification_ = nullptr;
    phone->lastInternalError_ = "注册回调函数失败";
    return Status(kInvalidData, "The mobile-device library could not watch for phones being connected.");
  }
  out = std::move(phone);
  return kOk;
}

iPhone::~iPhone() {
  {
    std::lock_guard lock(mutex_);
    listening_ = false;
  }
  const MobileDeviceFunctions& api = library_->Functions();
  if (AMDeviceRef device = Current()) {
    if (fileServiceOpen_ && files_) api.AFCConnectionClose(files_);
    api.AMDeviceDisconnect(device);
    api.AMDeviceRelease(device);  // closes the installation proxy and file relay sockets too
  }
  if (notification_) api.AMDeviceNotificationUnsubscribe(notification_);
}

std::string iPhone::UdidOf(AMDeviceRef device) const {
  return TextHandle(library_->Functions(), library_->Functions().AMDeviceCopyDeviceIdentifier(device)).Utf8();
}

void iPhone::OnNotification(const AMDeviceNotificationInfo* info, void* cookie) {
  auto* phone = static_cast<iPhone*>(cookie);
  if (!info || !phone) return;
  bool removed = false;
  {
    std::lock_guard lock(phone->mutex_);
    if (!phone->listening_) return;
    if (info->message == kAMDNotificationConnected) {
      if (!phone->stored_) {
        std::string udid = phone->UdidOf(info->device);
        if (phone->wantedUdid_.empty() || udid == phone->wantedUdid_) {
          phone->stored_ = info->device;
          phone->storedUdid_ = std::move(udid);
        }
      }
    } else if (info->device == phone->stored_) {
      phone->stored_ = nullptr;
      phone->storedUdid_.clear();
      if (info->device == phone->current_) phone->connected_ = false;
      removed = true;
    }
  }
  if (removed && phone->onRemoved_) phone->onRemoved_();
}

bool iPhone::DeviceStored() const {
  std::lock_guard lock(mutex_);
  return stored_ != nullptr;
}

std::string iPhone::StoredUdid() const {
  std::lock_guard lock(mutex_);
  return storedUdid_;
}

bool iPhone::Connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

AMDeviceRef iPhone::Current() const {
  std::lock_guard lock(mutex_);
  return current_;
}

void iPhone::RequireConnected() const {
  std::lock_guard lock(mutex_);
  if (!connected_ || !current_) Throw(kNotConnected, kNotConnectedWords);
}

Status iPhone::Failed(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const DeviceError& failure) {
    lastInternalError_ = failure.internal;
    return Status(failure.code, failure.words);
  } catch (const std::exception& failure) {
    lastInternalError_ = failure.what();
    return Status(kInvalidData, std::string("The phone could not be read: ") + failure.what());
  }
}

Status iPhone::Connect() {
  AMDeviceRef previous = nullptr;
  {
    std::lock_guard lock(mutex_);
    previous = current_;
    current_ = stored_;
    connected_ = stored_ != nullptr;
  }
  const MobileDeviceFunctions& api = library_->Functions();
  if (previous && previous != Current()) {
    // another phone was served before: let go of it
    if (fileServiceOpen_ && files_) api.AFCConnectionClose(files_);
    files_ = nullptr;
    fileServiceOpen_ = false;
    api.AMDeviceDisconnect(previous);
    api.AMDeviceRelease(previous);
    installationProxy_ = fileRelay_ = nullptr;
  }
  try {
    RequireConnected();
    FullConnection();
    lastInternalError_.clear();
    return kOk;
  } catch (...) {
    const Status status = Failed(std::current_exception());
    if (AMDeviceRef device = Current()) {
      if (fileServiceOpen_ && files_) api.AFCConnectionClose(files_);
      files_ = nullptr;
      fileServiceOpen_ = false;
      api.AMDeviceDisconnect(device);
    }
    std::lock_guard lock(mutex_);
    connected_ = false;
    return status;
  }
}

void iPhone::FullConnection() {
  const MobileDeviceFunctions& api = library_->Functions();
  if (fileServiceOpen_) {
    CloseFileService();
    api.AMDeviceDisconnect(Current());
  }
  Reconnect();
  // the services of the last full connection give way to new ones
  for (AMDServiceSocket socket : {installationProxy_, fileRelay_}) {
    if (socket) api.AMDServiceConnectionInvalidate(socket);
  }
  // nothing is sent on the file relay; it is started as iTunes does
  installationProxy_ = StartService(kInstallationProxy);
  fileRelay_ = StartService(kFileRelay);
  OpenFileService();
}

void iPhone::Reconnect() {
  const MobileDeviceFunctions& api = library_->Functions();
  AMDeviceRef device = Current();
  if (!device) Throw(kNotConnected, kNotConnectedWords);
  if (api.AMDeviceConnect(device) != kAMDSuccess)
    Throw("连接失败", "The phone could not be reached. Check its cable and try again.");
  api.AMDeviceIsPaired(device);  // asked as the library expects; the answer does not matter
  if (api.AMDeviceValidatePairing(device) != kAMDSuccess) {
    const int32_t paired = api.AMDevicePair(device);
    if (RefusedPairing(paired)) {
      Throw(
          "配对失败",
          "The phone did not let this computer in. Unlock the phone, tap \"Trust\" when it asks \"Trust This "
          "Computer?\", and try again.",
          kPasscodeLocked);
    }
    if (paired != kAMDSuccess) Throw("配对失败", "This computer could not be paired with the phone.");
  }
  if (api.AMDeviceStartSession(device) != kAMDSuccess)
    Throw("开始会话失败", "The phone did not open a session with this computer.");
}

AMDServiceSocket iPhone::StartService(std::string_view name) {
  const MobileDeviceFunctions& api = library_->Functions();
  AMDServiceSocket socket = nullptr;
  const std::string text(name);
  if (api.AMDeviceStartService(Current(), api.CFStringMakeConstantString(text.c_str()), &socket, nullptr) !=
      kAMDSuccess)
    return nullptr;
  return socket;
}

void iPhone::CloseFileService() {
  if (!fileServiceOpen_) return;
  const int32_t closed = files_ ? library_->Functions().AFCConnectionClose(files_) : kAMDSuccess;
  files_ = nullptr;
  fileServiceOpen_ = false;
  appContainer_ = false;
  if (closed != kAMDSuccess)
    Throw("断开AFC文件系统服务失败", "The phone's file service could not be closed.");
}

void iPhone::OpenFileService() {
  const MobileDeviceFunctions& api = library_->Functions();
  RequireConnected();
  CloseFileService();
  AMDServiceSocket socket = StartService(kAfc2);
  root_ = socket != nullptr;
  if (!socket) socket = StartService(kAfc);
  if (!socket) Throw("开始AFC文件服务失败", "The phone's file service could not be started.");
  if (api.AMDeviceStopSession(Current()) != kAMDSuccess) {
    api.AMDServiceConnectionInvalidate(socket);
    Throw("关闭会话失败", "The session with the phone could not be closed.");
  }
  if (api.AFCConnectionOpen(socket, 0, &files_) != kAMDSuccess) {
    files_ = nullptr;
    api.AMDServiceConnectionInvalidate(socket);
    Throw("连接AFC文件系统服务失败", "The phone's file service could not be connected.");
  }
  fileServiceOpen_ = true;
  appContainer_ = false;
}

void iPhone::RequireFileService() {
  RequireConnected();
  if (fileServiceOpen_) return;
  // the session ended when the file service last opened: a new one is needed to start it
  library_->Functions().AMDeviceDisconnect(Current());
  Reconnect();
  OpenFileService();
}

void iPhone::ReopenFileService() {
  try {
    RequireConnected();
    CloseFileService();
    library_->Functions().AMDeviceDisconnect(Current());
    Reconnect();
    OpenFileService();
    lastInternalError_.clear();
  } catch (...) {
    (void)Failed(std::current_exception());
  }
}

iPhone::FileInfo iPhone::QueryFileInfo(const std::string& path) {
  const MobileDeviceFunctions& api = library_->Functions();
  RequireFileService();
  AFCDictionaryRef dictionary = nullptr;
  if (api.AFCFileInfoOpen(files_, path.c_str(), &dictionary) != kAMDSuccess)
    Throw("准备查询该文件信息时失败: " + path, "The phone has no file " + path + ".");
  FileInfo info;
  for (;;) {
    const char* key = nullptr;
    const char* value = nullptr;
    if (api.AFCKeyValueRead(dictionary, &key, &value) != kAMDSuccess) {
      api.AFCKeyValueClose(dictionary);
      Throw("查询该文件信息时失败: " + path, "The phone did not describe its file " + path + ".");
    }
    if (!key || !value) break;
    const std::string name = key;
    if (name == "st_size") info.size = std::strtoull(value, nullptr, 10);
    if (name == "st_blocks") info.blocks = std::strtoull(value, nullptr, 10);
    if (name == "st_nlink") info.links = std::strtoull(value, nullptr, 10);
    if (name == "st_ifmt") {
      static constexpr const char* kTypes[] = {"S_IFDIR", "S_IFLNK", "S_IFREG", "S_IFBLK",
                                               "S_IFCHR", "S_IFIFO", "S_IFMT",  "S_IFSOCK"};
      const auto found = std::find(std::begin(kTypes), std::end(kTypes), std::string_view(value));
      info.type =
          found == std::end(kTypes) ? FileInfo::kUnknown : static_cast<FileInfo::Type>(found - kTypes);
    }
  }
  api.AFCKeyValueClose(dictionary);
  return info;
}

bool iPhone::IsDirectory(const std::string& path) {
  try {
    return QueryFileInfo(path).type == FileInfo::kDirectory;
  } catch (...) {
    (void)Failed(std::current_exception());
    return false;
  }
}

void iPhone::ListDirectory(const std::string& path, std::vector<std::string>& names) {
  const MobileDeviceFunctions& api = library_->Functions();
  try {
    RequireFileService();
    AFCDirectoryRef directory = nullptr;
    if (api.AFCDirectoryOpen(files_, path.c_str(), &directory) != kAMDSuccess)
      Throw("打开该目录信息失败: " + path, "The phone's folder " + path + " could not be opened.");
    std::vector<std::string> found;
    for (;;) {
      const char* name = nullptr;
      if (api.AFCDirectoryRead(files_, directory, &name) != kAMDSuccess) {
        api.AFCDirectoryClose(files_, directory);
        Throw("读取该目录信息失败: " + path, "The phone's folder " + path + " could not be read.");
      }
      if (!name) break;
      if (std::string_view(name) != "." && std::string_view(name) != "..") found.emplace_back(name);
    }
    api.AFCDirectoryClose(files_, directory);
    names.insert(names.end(), found.begin(), found.end());
  } catch (...) {
    (void)Failed(std::current_exception());
  }
}

uint64_t iPhone::OpenFile(const std::string& path) {
  try {
    RequireFileService();
    AFCFileRef file = 0;
    // read-only: nothing on the phone is ever changed
    if (library_->Functions().AFCFileRefOpen(files_, path.c_str(), kAFCModeReadOnly, &file) != kAMDSuccess)
      Throw("打开文件失败", "The phone's file " + path + " could not be opened.");
    return file;
  } catch (...) {
    (void)Failed(std::current_exception());
    return 0;
  }
}

Status iPhone::ReadFile(uint64_t file, char* buffer, std::size_t& length) {
  const std::size_t wanted = length;
  length = 0;
  try {
    RequireConnected();
    if (!fileServiceOpen_) Throw(kNotConnected, kNotConnectedWords);
    uint32_t got = static_cast<uint32_t>(std::min<std::size_t>(wanted, UINT32_MAX));
    const int32_t result = library_->Functions().AFCFileRefRead(files_, file, buffer, &got);
    if (result == kAMDIsDirectory) Throw("尝试读取目录", "A folder on the phone cannot be read as a file.");
    if (result != kAMDSuccess) Throw("读取文件出错", "A file on the phone could not be read.");
    length = got;
    return kOk;
  } catch (...) {
    return Failed(std::current_exception());
  }
}

Status iPhone::CloseFile(uint64_t file) {
  try {
    RequireConnected();
    if (!fileServiceOpen_ || library_->Functions().AFCFileRefClose(files_, file) != kAMDSuccess)
      Throw("关闭文件失败", "A file on the phone could not be closed.");
    return kOk;
  } catch (...) {
    return Failed(std::current_exception());
  }
}

Status iPhone::CopyFile(const std::string& path, const fs::path& local, uint64_t& size) {
  size = 0;
  const MobileDeviceFunctions& api = library_->Functions();
  AFCFileRef file = 0;
  std::FILE* out = nullptr;
  Status status;
  try {
    const uint64_t total = QueryFileInfo(path).size;
    if (api.AFCFileRefOpen(files_, path.c_str(), kAFCModeReadOnly, &file) != kAMDSuccess) {
      file = 0;
      Throw("打开文件失败", "The phone's file " + path + " could not be opened.");
    }
    out = std::fopen(local.c_str(), "wb");
    if (!out) {
      status = Status::System(errno, local.string());
    } else {
      std::vector<char> chunk(kCopyChunk);
      while (size < total && status.ok()) {
        uint32_t got = static_cast<uint32_t>(std::min<uint64_t>(kCopyChunk, total - size));
        const int32_t result = api.AFCFileRefRead(files_, file, chunk.data(), &got);
        if (result == kAMDIsDirectory)
          Throw("尝试读取目录", "A folder on the phone cannot be read as a file.");
        if (result != kAMDSuccess) Throw("读取文件出错", "The phone's file " + path + " could not be read.");
        if (got == 0) {
          status = Status(kShortRead, "The phone's file " + path + " ended before its stated size.");
        } else if (std::fwrite(chunk.data(), 1, got, out) != got) {
          status = Status::System(errno, local.string());
        } else {
          size += got;
        }
      }
      if (std::fclose(out) != 0 && status.ok()) status = Status::System(errno, local.string());
      out = nullptr;
    }
  } catch (...) {
    status = Failed(std::current_exception());
  }
  if (out) std::fclose(out);
  if (file && fileServiceOpen_) api.AFCFileRefClose(files_, file);
  return status;
}

void iPhone::SendMessage(AMDServiceSocket socket, const std::string& xml) {
  const std::string message = messages::Frame(xml);
  if (library_->Functions().AMDServiceConnectionSend(socket, message.data(),
                                                     static_cast<uint32_t>(message.size())) !=
      static_cast<int32_t>(message.size()))
    Throw("发送消息失败", "A message could not be sent to the phone.", kSourceUnreadable);
}

std::string iPhone::ReceiveMessage(AMDServiceSocket socket) {
  const MobileDeviceFunctions& api = library_->Functions();
  const auto receive = [&](std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t done = 0; done < count;) {
      const int32_t got =
          api.AMDServiceConnectionReceive(socket, bytes.data() + done, static_cast<uint32_t>(count - done));
      if (got <= 0) Throw("接收消息失败", "The phone stopped answering.", kSourceUnreadable);
      done += static_cast<std::size_t>(got);
    }
    return bytes;
  };
  const uint32_t size = messages::PayloadSize(receive(messages::kFrameHeadSize));
  if (size > messages::kMaxPayloadSize) Throw("消息过长", "The phone sent a message that cannot be right.");
  return receive(size);
}

Status iPhone::OpenAppContainer(const std::string& bundleIdentifier) {
  const MobileDeviceFunctions& api = library_->Functions();
  try {
    RequireConnected();
    // the session ended when the file service opened: house arrest needs a new one
    CloseFileService();
    api.AMDeviceDisconnect(Current());
    Reconnect();
    AMDServiceSocket socket = StartService(kHouseArrest);
    if (!socket)
      Throw("开始house_arrest服务失败", "The phone did not open application containers.", kSourceUnreadable);
    try {
      SendMessage(socket, messages::VendContainerRequest(bundleIdentifier));
      if (const std::string error = messages::VendContainerError(ReceiveMessage(socket)); !error.empty()) {
        Throw("打开应用容器失败: " + error,
              "The phone did not open the container of the application " + bundleIdentifier + ".",
              kSourceUnreadable);
      }
      if (api.AFCConnectionOpen(socket, 0, &files_) != kAMDSuccess) {
        files_ = nullptr;
        Throw("连接AFC文件系统服务失败", "The application's files on the phone could not be reached.",
              kSourceUnreadable);
      }
    } catch (...) {
      api.AMDServiceConnectionInvalidate(socket);
      throw;
    }
    fileServiceOpen_ = true;
    appContainer_ = true;
    lastInternalError_.clear();
    return kOk;
  } catch (...) {
    return Failed(std::current_exception());
  }
}

Status iPhone::ListUserApplications(std::vector<std::string>& bundleIdentifiers) {
  try {
    RequireConnected();
    if (!installationProxy_)
      Throw("开始installation_proxy服务失败", "The phone did not list its applications.");
    SendMessage(installationProxy_, messages::BrowseUserApplicationsRequest());
    std::vector<std::string> found;
    for (;;) {
      const messages::BrowseReply reply = messages::ParseBrowseReply(ReceiveMessage(installationProxy_));
      if (!reply.readable) Throw("解析应用列表失败", "The phone's list of applications could not be read.");
      if (!reply.error.empty())
        Throw("获取应用列表失败: " + reply.error, "The phone refused to list its applications.");
      found.insert(found.end(), reply.identifiers.begin(), reply.identifiers.end());
      // an empty first page means the phone has nothing to list
      if (found.empty() || reply.complete) break;
    }
    bundleIdentifiers.insert(bundleIdentifiers.end(), found.begin(), found.end());
    lastInternalError_.clear();
    return kOk;
  } catch (...) {
    return Failed(std::current_exception());
  }
}

Status iPhone::DeviceValue(std::string_view key, std::string& value) {
  value.clear();
  try {
    RequireConnected();
    const MobileDeviceFunctions& api = library_->Functions();
    const std::string keyText(key);
    TextHandle name(api, api.CFStringCreateWithCString(nullptr, keyText.c_str(), kCFStringEncodingUTF8));
    if (!name.get()) Throw("无效的键", "The name of the phone's value is not valid text.");
    const std::string text = TextHandle(api, api.AMDeviceCopyValue(Current(), nullptr, name.get())).Utf8();
    value = CutOnCharacter(text, kMaxValueBytes);
    if (text.size() > kMaxValueBytes) {
      lastInternalError_.clear();
      return Status(kValueTooLong, "The phone's value " + keyText + " is too long to be shown whole.");
    }
    lastInternalError_.clear();
    return kOk;
  } catch (...) {
    return Failed(std::current_exception());
  }
}

}  // namespace corvyn::device
