#include "device/MobileDeviceLibrary.h"

#include <dlfcn.h>

#include <system_error>

#include "platform/Registry.h"

namespace corvyn::device {
namespace {

namespace fs = std::filesystem;

const std::string kLoadFailed = "加载 " + std::string(kMobileDeviceLibraryFileName) + " 失败！";
const std::string kFunctionMissing = "加载DLL中的函数失败";

// Which of the two registry values is missing; empty when both are there.
std::string MissingRegistryValue(const fs::path& programFolder) {
  platform::FileRegistry registry(platform::MachineRegistryFile(programFolder));
  if (!registry.ReadValue(platform::kAppleApplicationSupportKey, platform::kInstallDirValue))
    return std::string(platform::kInstallDirValue);
  if (!registry.ReadValue(platform::kAppleMobileDeviceSupportKey, platform::kMobileDeviceDllValue))
    return std::string(platform::kMobileDeviceDllValue);
  return {};
}

Status Fail(std::string internal, std::string words, std::string* internalError) {
  if (internalError) *internalError = std::move(internal);
  return Status(kInvalidData, std::move(words));
}

}  // namespace

Status MobileDeviceLibrary::Load(const fs::path& programFolder, std::unique_ptr<MobileDeviceLibrary>& out,
                                 std::string* internalError) {
  out.reset();
  if (const std::string missing = MissingRegistryValue(programFolder); !missing.empty()) {
    return Fail(kLoadFailed,
                "The Apple mobile-device software is not installed: the value \"" + missing +
                    "\" is missing from " + platform::MachineRegistryFile(programFolder).string() + ".",
                internalError);
  }
  const fs::path file = programFolder / kMobileDeviceLibraryFileName;
  std::unique_ptr<MobileDeviceLibrary> library(new MobileDeviceLibrary);
  library->handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library->handle_) {
    const char* why = dlerror();
    return Fail(kLoadFailed,
                "The mobile-device library " + file.string() + " could not be loaded" +
                    (why ? std::string(": ") + why : std::string()) + ".",
                internalError);
  }
#define CORVYN_RESOLVE_FUNCTION(field, symbol)                                                     \
  library->functions_.field = reinterpret_cast<field##Fn>(dlsym(library->handle_, #symbol));       \
  if (!library->functions_.field) {                                                                \
    return Fail(kFunctionMissing,                                                                  \
                "The mobile-device library " + file.string() + " lacks the function " #symbol ".", \
                internalError);                                                                    \
  }
  CORVYN_MOBILE_DEVICE_FUNCTIONS(CORVYN_RESOLVE_FUNCTION)
#undef CORVYN_RESOLVE_FUNCTION
  out = std::move(library);
  return kOk;
}

MobileDeviceLibrary::~MobileDeviceLibrary() {
  if (handle_) dlclose(handle_);
}

bool MobileDeviceSoftwarePresent(const fs::path& programFolder) {
  std::error_code error;
  return MissingRegistryValue(programFolder).empty() &&
         fs::is_regular_file(programFolder / kMobileDeviceLibraryFileName, error);
}

}  // namespace corvyn::device
