// What a front end needs to scan a connected phone: where the device helper
// lies and writes its backups, and the device source whose backups it makes.
#pragma once

#include <filesystem>
#include <string>

#include "device/CDeviceRecovery.h"
#include "device/DeviceHelper.h"
#include "device/IDeviceServices.h"

namespace corvyn::device {

// The folder under the working root where the helper writes the phone's backups.
inline constexpr std::string_view kDeviceBackupFolder = "CorvynDeviceBackup";

// The helper beside the program (programFolder), the phone `udid`, backups
// under the working root's kDeviceBackupFolder (made private on first use;
// empty when no working root can be had).
DeviceHelperSetup MakeDeviceHelperSetup(const std::filesystem::path& programFolder, const std::string& udid);

// A source for CDeviceRecovery: the phone, and backups made by the helper.
DeviceSource MakeHelperDeviceSource(IDeviceServices& phone, const DeviceHelperSetup& setup);

}  // namespace corvyn::device
