// Shared by the export tests: small report templates, an RFC 4180 reader,
// file helpers and a scanned standard backup.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backup/BackupContext.h"
#include "core/ScanDriver.h"
#include "platform/DiskSpace.h"
#include "tests/support/backup_builder/StandardBackup.h"

namespace corvyn::exporting::testing {

// Writes the five templates into `folder`: each holds its title twice, the
// person marker (messages, WhatsApp) and the content marker inside a table.
void WriteTemplates(const std::filesystem::path& folder);

// Rows of fields of a CSV text (RFC 4180: quoted fields, doubled quotes, CR LF
// or LF record ends). `ok` is false for a malformed quote.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text, bool* ok = nullptr);

std::string ReadFile(const std::filesystem::path& path);

// Every regular file under the folder, as paths relative to it, sorted.
std::vector<std::string> FilesUnder(const std::filesystem::path& folder);

// A standard backup written to `folder` / "backup", scanned by the driver.
class ScannedBackup : public IScanEventSink {
 public:
  ScannedBackup(const std::filesystem::path& folder, const testsupport::StandardBackupOptions& options = {});
  void Post(int, int) override {}
  bool ok() const { return ok_; }
  CScanDriver& Driver() { return driver_; }
  const testsupport::StandardBackup& Built() const { return backup_; }
  std::string DeviceName() const { return backup_.builder.info.displayName; }

 private:
  testsupport::StandardBackup backup_;
  backup::BackupContext context_;
  CScanDriver driver_{*this, std::chrono::milliseconds(0)};
  bool ok_ = false;
};

// Free space that the test decides.
class FixedDiskSpace final : public platform::IDiskSpace {
 public:
  explicit FixedDiskSpace(uint64_t bytes) : bytes_(bytes) {}
  Status FreeBytes(const std::filesystem::path&, uint64_t* freeBytes) override {
    *freeBytes = bytes_;
    return kOk;
  }
  std::vector<platform::MountedFileSystem> MountedFileSystems() override { return {}; }

 private:
  uint64_t bytes_;
};

}  // namespace corvyn::exporting::testing
