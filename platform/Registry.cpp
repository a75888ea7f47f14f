#include "platform/Registry.h"

#include "platform/Ascii.h"
#include "platform/IniFile.h"
#include "platform/SpecialFolders.h"

namespace corvyn::platform {
namespace {

std::string Lower(std::string_view text) {
  return AsciiLowerCopy(text);
}

}  // namespace

std::optional<std::string> FileRegistry::ReadValue(std::string_view keyPath, std::string_view valueName) {
  std::lock_guard lock(mutex_);
  IniFile file;
  if (file.Load(file_) != kOk) return std::nullopt;
  return file.Value(keyPath, valueName);
}

Status FileRegistry::WriteValue(std::string_view keyPath, std::string_view valueName,
                                std::string_view value) {
  if (valueName.empty() || valueName.find_first_of("=\r\n") != std::string_view::npos ||
      value.find_first_of("\r\n") != std::string_view::npos ||
      keyPath.find_first_of("[]\r\n") != std::string_view::npos) {
    return kInvalidData;
  }
  std::lock_guard lock(mutex_);
  IniFile file;
  (void)file.Load(file_);  // a missing or unreadable file starts empty
  file.SetValue(keyPath, valueName, value);
  return file.Save(file_);
}

Status FileRegistry::DeleteValue(std::string_view keyPath, std::string_view valueName) {
  std::lock_guard lock(mutex_);
  IniFile file;
  if (file.Load(file_) != kOk) return kOk;
  if (!file.RemoveValue(keyPath, valueName)) return kOk;
  return file.Save(file_);
}

std::optional<std::string> MemoryRegistry::ReadValue(std::string_view keyPath, std::string_view valueName) {
  std::lock_guard lock(mutex_);
  const auto found = values_.find({Lower(keyPath), Lower(valueName)});
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

Status MemoryRegistry::WriteValue(std::string_view keyPath, std::string_view valueName,
                                  std::string_view value) {
  std::lock_guard lock(mutex_);
  values_[{Lower(keyPath), Lower(valueName)}] = std::string(value);
  return kOk;
}

Status MemoryRegistry::DeleteValue(std::string_view keyPath, std::string_view valueName) {
  std::lock_guard lock(mutex_);
  values_.erase({Lower(keyPath), Lower(valueName)});
  return kOk;
}

std::filesystem::path MachineRegistryFile(const std::filesystem::path& programFolder) {
  return programFolder / "registry.ini";
}

std::filesystem::path DefaultRegistryFile() {
  return ConfigHomeDir() / "corvyn" / "registry.ini";
}

IRegistry& DefaultRegistry() {
  static FileRegistry registry(DefaultRegistryFile());
  return registry;
}

}  // namespace corvyn::platform
