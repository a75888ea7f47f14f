// What a source page hands to the scan page when it asks for a scan
// (message 1031): the source kind, the chosen backup and the source text.
// The main window owns the one request; the source pages fill it before they
// post 1031, and the scan page reads it when the message arrives.
#pragma once

#include <string>

#include "backup/BackupDiscovery.h"
#include "core/EngineFactory.h"
#include "device/IDeviceServices.h"

namespace corvyn::app {

struct ScanRequest {
  int sourceKind = kSourceKindBackup;  // kSourceKindBackup or kSourceKindDevice
  backup::BackupDescriptor backup;     // the backup to scan (kind 1)
  std::string sourceText;              // the backup password; empty when none is needed
  // Kind 0: the connected phone (the device page's, which outlives the
  // scan), its UDID for the device helper and its name for reports.
  device::IDeviceServices* phone = nullptr;
  std::string deviceUdid;
  std::string deviceName;
};

}  // namespace corvyn::app
