// What the device recovery engine and the device page ask of a connected
// phone: its values, its file service (the media folders, or one
// application's container after OpenAppContainer), and its installed
// applications. The iPhone wrapper (device/IPhone.h) serves them through the
// mobile-device library; tests may serve them from a folder.
//
// Paths on the phone are "/"-separated texts ("/DCIM/100APPLE/IMG_0001.JPG").
// Every operation returns a Status and never throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvyn::device {

class IDeviceServices {
 public:
  virtual ~IDeviceServices() = default;

  // The value of `key` in the phone's default domain ("DeviceName",
  // "DeviceClass", "ProductVersion", "UniqueDeviceID", ...). A missing value
  // is an empty text and kOk; a value longer than 255 bytes gives
  // kValueTooLong and `value` its longest prefix of whole UTF-8 characters within 255 bytes.
  virtual Status DeviceValue(std::string_view key, std::string& value) = 0;

  // Opens the file service again on the media folders (after an application
  // container was opened, or after a failure). Errors are swallowed.
  virtual void ReopenFileService() = 0;
  // True when the file service was opened with full access ("com.apple.afc2").
  virtual bool HasRootFileService() const = 0;

  // True when `path` is a folder; any error gives false.
  virtual bool IsDirectory(const std::string& path) = 0;
  // Appends the names in folder `path` except "." and ".."; errors leave the
  // list as it is.
  virtual void ListDirectory(const std::string& path, std::vector<std::string>& names) = 0;

  // Opens a phone file for reading; 0 when it cannot be opened.
  virtual uint64_t OpenFile(const std::string& path) = 0;
  // Reads up to `length` bytes; `length` receives the count read (0 at the
  // end of the file).
  virtual Status ReadFile(uint64_t file, char* buffer, std::size_t& length) = 0;
  virtual Status CloseFile(uint64_t file) = 0;
  // Copies the phone file `path` into the local file `local` (created or
  // replaced); `size` receives the bytes copied.
  virtual Status CopyFile(const std::string& path, const std::filesystem::path& local, uint64_t& size) = 0;

  // Opens the file service on the container of the application
  // `bundleIdentifier`; later file operations read inside it until
  // ReopenFileService.
  virtual Status OpenAppContainer(const std::string& bundleIdentifier) = 0;
  // Appends the bundle identifiers of the user's applications.
  virtual Status ListUserApplications(std::vector<std::string>& bundleIdentifiers) = 0;
};

}  // namespace corvyn::device
