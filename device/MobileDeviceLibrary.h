// Loads the mobile-device library (libcorvyn-mobiledevice.so) from the
// program's folder and resolves its functions by name.
//
// The library counts as installed when the registry stand-in beside the
// program (platform::MachineRegistryFile) holds both
//   InstallDir       under platform::kAppleApplicationSupportKey (the folder
//                    of the Apple support libraries; only required here, as
//                    our library needs no companions), and
//   MobileDeviceDLL  under platform::kAppleMobileDeviceSupportKey (only its
//                    presence counts),
// and the library file lies in the program's folder.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "device/MobileDeviceApi.h"
#include "platform/Status.h"

namespace corvyn::device {

inline constexpr std::string_view kMobileDeviceLibraryFileName = "libcorvyn-mobiledevice.so";

// Every function of the library (device/MobileDeviceApi.h describes them).
// The field names are the exported names, except CFStringMakeConstantString
// ("__CFStringMakeConstantString").
#define CORVYN_MOBILE_DEVICE_FUNCTIONS(X)                             \
  X(AMDeviceNotificationSubscribe, AMDeviceNotificationSubscribe)     \
  X(AMDeviceNotificationUnsubscribe, AMDeviceNotificationUnsubscribe) \
  X(AMDeviceConnect, AMDeviceConnect)                                 \
  X(AMDeviceIsPaired, AMDeviceIsPaired)                               \
  X(AMDeviceValidatePairing, AMDeviceValidatePairing)                 \
  X(AMDevicePair, AMDevicePair)                                       \
  X(AMDeviceStartSession, AMDeviceStartSession)                       \
  X(AMDeviceStartService, AMDeviceStartService)                       \
  X(AMDeviceStopSession, AMDeviceStopSession)                         \
  X(AFCConnectionOpen, AFCConnectionOpen)                             \
  X(AFCDeviceInfoOpen, AFCDeviceInfoOpen)                             \
  X(AFCDirectoryOpen, AFCDirectoryOpen)                               \
  X(AFCDirectoryRead, AFCDirectoryRead)                               \
  X(AFCFileRefWrite, AFCFileRefWrite)                                 \
  X(AFCDirectoryClose, AFCDirectoryClose)                             \
  X(AFCDirectoryCreate, AFCDirectoryCreate)                           \
  X(AFCFileInfoOpen, AFCFileInfoOpen)                                 \
  X(AFCKeyValueRead, AFCKeyValueRead)                                 \
  X(AFCKeyValueClose, AFCKeyValueClose)                               \
  X(AFCFileRefOpen, AFCFileRefOpen)                                   \
  X(AFCFileRefRead, AFCFileRefRead)                                   \
  X(AFCFileRefSeek, AFCFileRefSeek)                                   \
  X(AFCFileRefClose, AFCFileRefClose)                                 \
  X(AFCRemovePath, AFCRemovePath)                                     \
  X(AFCRenamePath, AFCRenamePath)                                     \
  X(AFCConnectionClose, AFCConnectionClose)                           \
  X(AMDeviceDisconnect, AMDeviceDisconnect)                           \
  X(AMDeviceRelease, AMDeviceRelease)                                 \
  X(AMDeviceCopyValue, AMDeviceCopyValue)                             \
  X(AMDeviceCopyDeviceIdentifier, AMDeviceCopyDeviceIdentifier)       \
  X(AMDeviceSecureStartService, AMDeviceSecureStartService)           \
  X(AMDServiceConnectionSend, AMDServiceConnectionSend)               \
  X(AMDServiceConnectionReceive, AMDServiceConnectionReceive)         \
  X(AMDServiceConnectionInvalidate, AMDServiceConnectionInvalidate)   \
  X(AMDeviceStartHouseArrestService, AMDeviceStartHouseArrestService) \
  X(CFStringCreateWithCString, CFStringCreateWithCString)             \
  X(CFStringMakeConstantString, __CFStringMakeConstantString)         \
  X(CFStringGetCString, CFStringGetCString)                           \
  X(CFStringGetLength, CFStringGetLength)                             \
  X(CFRelease, CFRelease)

struct MobileDeviceFunctions {
#define CORVYN_DECLARE_FUNCTION(field, symbol) field##Fn field = nullptr;
  CORVYN_MOBILE_DEVICE_FUNCTIONS(CORVYN_DECLARE_FUNCTION)
#undef CORVYN_DECLARE_FUNCTION
};

class MobileDeviceLibrary {
 public:
  // Reads the registry stand-in of `programFolder`, loads the library from
  // that folder and resolves every function. On failure `out` is left empty
  // and the status is kInvalidData with words for people; `internalError`,
  // when given, receives the loader's own failure text.
  static Status Load(const std::filesystem::path& programFolder, std::unique_ptr<MobileDeviceLibrary>& out,
                     std::string* internalError = nullptr);

  ~MobileDeviceLibrary();  // unloads the library
  MobileDeviceLibrary(const MobileDeviceLibrary&) = delete;
  MobileDeviceLibrary& operator=(const MobileDeviceLibrary&) = delete;

  const MobileDeviceFunctions& Functions() const { return functions_; }
  const MobileDeviceFunctions* operator->() const { return &functions_; }

 private:
  MobileDeviceLibrary() = default;
  void* handle_ = nullptr;
  MobileDeviceFunctions functions_;
};

// The device page's test for the Apple software: both registry values are
// present and the library file exists in `programFolder`.
bool MobileDeviceSoftwarePresent(const std::filesystem::path& programFolder);

}  // namespace corvyn::device
