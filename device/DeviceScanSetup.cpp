#include "device/DeviceScanSetup.h"

#include "backup/WorkingRoot.h"
#include "platform/SpecialFolders.h"

namespace corvyn::device {

DeviceHelperSetup MakeDeviceHelperSetup(const std::filesystem::path& programFolder, const std::string& udid) {
  DeviceHelperSetup setup;
  setup.programFolder = programFolder;
  setup.udid = udid;
  if (const std::filesystem::path root = backup::WorkingRoot(); !root.empty()) {
    const std::filesystem::path folder = root / kDeviceBackupFolder;
    if (platform::MakePrivateFolder(folder) == kOk) setup.backupRoot = folder;
  }
  return setup;
}

DeviceSource MakeHelperDeviceSource(IDeviceServices& phone, const DeviceHelperSetup& setup) {
  DeviceSource source;
  source.phone = &phone;
  source.backupRoot = setup.backupRoot;
  source.makeBackup = [setup](const std::string& password, ProgressCallback callback, void* userValue,
                              std::filesystem::path& backupFolder) -> Status {
    if (setup.backupRoot.empty())
      return Status(kInvalidData, "no private working folder can be made for the phone's backup");
    return RunDeviceBackup(setup, password, callback, userValue, backupFolder);
  };
  return source;
}

}  // namespace corvyn::device
