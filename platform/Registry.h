// The registry stand-in: values under a key path, kept in a small INI file
// (section = key path, line = "name=value"). Reading a missing key or value
// is an ordinary "absent" (nullopt), never an error.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Status.h"

namespace corvyn::platform {

// Key paths and value names the program reads (filled in by the device set-up).
inline constexpr std::string_view kAppleApplicationSupportKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Application Support";
inline constexpr std::string_view kInstallDirValue = "InstallDir";
inline constexpr std::string_view kAppleMobileDeviceSupportKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared";
inline constexpr std::string_view kMobileDeviceDllValue = "MobileDeviceDLL";

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // Key paths and value names compare ignoring ASCII case.
  virtual std::optional<std::string> ReadValue(std::string_view keyPath, std::string_view valueName) = 0;
  virtual Status WriteValue(std::string_view keyPath, std::string_view valueName, std::string_view value) = 0;
  virtual Status DeleteValue(std::string_view keyPath, std::string_view valueName) = 0;
};

// Backed by a file, re-read on every call so that changes made by another
// process (the set-up scripts) are seen. Writes replace the file atomically.
// Thread-safe.
class FileRegistry final : public IRegistry {
 public:
  explicit FileRegistry(std::filesystem::path file) : file_(std::move(file)) {}
  std::optional<std::string> ReadValue(std::string_view keyPath, std::string_view valueName) override;
  Status WriteValue(std::string_view keyPath, std::string_view valueName, std::string_view value) override;
  Status DeleteValue(std::string_view keyPath, std::string_view valueName) override;
  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
  std::mutex mutex_;
};

// In memory, for tests.
class MemoryRegistry final : public IRegistry {
 public:
  std::optional<std::string> ReadValue(std::string_view keyPath, std::string_view valueName) override;
  Status WriteValue(std::string_view keyPath, std::string_view valueName, std::string_view value) override;
  Status DeleteValue(std::string_view keyPath, std::string_view valueName) override;

 private:
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, std::string> values_;  // lower-cased key path, name
};

// The local-machine keys live beside the program: programFolder/registry.ini.
std::filesystem::path MachineRegistryFile(const std::filesystem::path& programFolder);

// The user's registry file: $XDG_CONFIG_HOME/corvyn/registry.ini (default
// ~/.config/corvyn/registry.ini).
std::filesystem::path DefaultRegistryFile();
// A process-wide FileRegistry on DefaultRegistryFile().
IRegistry& DefaultRegistry();

}  // namespace corvyn::platform
