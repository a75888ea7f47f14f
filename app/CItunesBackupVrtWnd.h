// The backup page of the home page: layout "PageItunesBackup", embedded by
// the main window. It lists the backups found under the backup roots
// (backup/BackupDiscovery.h) and hands the chosen one to the scan page.
//
// Controls: "BackupFileList" (Name / Last Backup Date / Serial Number, a
// lock icon for an encrypted backup; the newest backup on top, selected),
// "LblEmptyHint" (shown instead of the list when no backup was found: where
// backups are looked for and that "Select Folder" reaches others), "BtnScan"
// (enabled only while a backup is selected) and "BtnSelDir" (scan a backup
// from a folder the user picks).
//
// Starting a scan: the page's controls and the main window's "MainTabPage"
// are disabled; an encrypted backup's password is asked for
// (AskBackupPassword); cancelling enables them again. Otherwise the request
// is filled (kind 1, the backup, the password) and message 1031 with
// wParam 1 is posted to the main window, whose scan page takes it from
// there; the controls stay disabled until the main window enables them.
#pragma once

#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "app/ScanRequest.h"
#include "backup/BackupDiscovery.h"
#include "platform/Status.h"
#include "ui/CVrtWnd.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace corvyn::app {

class CItunesBackupVrtWnd final : public ui::CVrtWnd {
 public:
  // Both are borrowed for the page's life. `request` is the main window's;
  // it is filled before 1031 is posted to `mainWnd`.
  CItunesBackupVrtWnd(ui::CLayoutWnd& mainWnd, ScanRequest& request);

  // Loads the layout and lists the backups. kOk, or kInvalidData when the
  // layout is missing or lacks one of the page's controls.
  Status Create();
  // Lists the backups again (the selection moves to the newest).
  void Refresh();
  // The scan rejected the password (message 1035 with wParam 1): says so,
  // asks again and starts the same backup's scan again, or enables the
  // controls when the user cancels.
  void OnWrongPassword();
  // Scans `backup` as "BtnScan" does: asks for the password when needed,
  // then fills the request and posts 1031; the controls are disabled
  // meanwhile and enabled on cancel.
  void StartScan(const backup::BackupDescriptor& backup);
  // Enables or disables the page's controls and the main window's
  // "MainTabPage". "BtnScan" is enabled only while a backup is selected.
  void EnableControls(bool enabled);

  // The backups listed, in the list's order.
  const std::vector<backup::BackupDescriptor>& Backups() const { return backups_; }

  // Test hooks. The folder chooser of "BtnSelDir" (default: the desktop's
  // folder dialog; an empty answer means cancelled).
  std::function<QString(QWidget* owner, const QString& title)> chooseFolder;
  // Where backups are looked for (default: backup::BackupRoots of the
  // config.ini beside the program).
  std::function<std::vector<std::filesystem::path>()> backupRoots;

 protected:
  void Notify(const ui::Notification& notification) override;
  void OnLanguageChanged() override;

 private:
  void ApplyTexts();
  void ShowEmptyHint();
  void UpdateScanButton();
  void ScanSelected();
  void SelectOtherFolder();
  // The main window: the owner of every dialog the page shows (the page
  // itself is disabled while they are up).
  QWidget* DialogOwner() const;

  ui::CLayoutWnd& mainWnd_;
  ScanRequest& request_;
  QTreeWidget* list_ = nullptr;
  std::vector<backup::BackupDescriptor> backups_;
  std::vector<std::filesystem::path> roots_;
  // The backup whose scan was asked for last (asked again after a wrong
  // password).
  std::optional<backup::BackupDescriptor> pending_;
  bool enabled_ = true;
};

}  // namespace corvyn::app
