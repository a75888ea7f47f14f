// The main window "Corvyn": layout "MainWnd", 1000 by 640, centred, with a
// drop shadow. Page 0 of "MainTabPage" is the home page with the option
// buttons "OptIosDevice" and "OptBackupFile" selecting page 0 or 1 of
// "TabPage"; page 1 is the scan page. "BtnAssist" opens the assistant menu
// (help pages, languages, exit). Closing the window ends the program's loop.
#pragma once

#include <filesystem>
#include <memory>

#include "app/ScanRequest.h"
#include "platform/Desktop.h"
#include "platform/Status.h"
#include "ui/CLayoutWnd.h"
#include "ui/CWndShadow.h"

class QMenu;

namespace corvyn::app {

class LanguageStore;
class CIosDeviceVrtWnd;
class CItunesBackupVrtWnd;
class CPreviewVrtWnd;
class CScanVrtWnd;

class CMainWnd final : public ui::CLayoutWnd {
 public:
  inline static const QString kTitle = QStringLiteral("Corvyn");
  static constexpr int kWidth = 1000;
  static constexpr int kHeight = 640;

  CMainWnd(LanguageStore& languages, platform::IDesktop& desktop);
  ~CMainWnd() override;

  // Loads the layout and places the window. kOk or kInvalidData.
  Status Create();
  // Shows the window normally and in front (a second start asks for this).
  void BringToFront();

  // The assistant menu, built on demand; nullptr before the first opening.
  QMenu* AssistMenu() const { return assistMenu_; }
  // Builds the assistant menu without showing it.
  QMenu* BuildAssistMenu();
  // The current source: 0 device, 1 backup.
  int CurrentSource() const { return currentSource_; }
  ui::CWndShadow& Shadow() { return shadow_; }

  // The pages (owned by the window; valid after Create).
  CIosDeviceVrtWnd* DevicePage() const { return devicePage_; }
  CItunesBackupVrtWnd* BackupPage() const { return backupPage_; }
  CScanVrtWnd* ScanPage() const { return scanPage_; }
  CPreviewVrtWnd* PreviewPage() const { return previewPage_; }
  // The request the source pages fill before they ask for a scan.
  ScanRequest& Request() { return request_; }

  // Scans the backup in `folder` (a folder given on the command line): the
  // backup page takes it as if the user had picked it. A folder without a
  // backup is reported in words. Call after the window is shown.
  void ScanBackupFolder(const std::filesystem::path& folder);
  // Opens the print window modally for the scan page's selected category
  // (the scan page's print button).
  void OpenPrintWindow();

 protected:
  void Notify(const ui::Notification& notification) override;
  bool HandleMessage(int message, qintptr wParam, qintptr lParam) override;
  void OnEscape() override {}
  void OnLanguageChanged() override { ApplyTexts(); }

 private:
  void ApplyTexts();
  void SelectSource(int source);
  void ChooseLanguage(const std::string& language);
  Status CreatePages();
  void ShowHome();
  void ShowScanPage();
  // Opens a web page in the default browser; a failure is written to stderr.
  void OpenPage(std::string_view address);

  LanguageStore& languages_;
  platform::IDesktop& desktop_;
  ui::CWndShadow shadow_;
  QMenu* assistMenu_ = nullptr;
  int currentSource_ = 0;
  ScanRequest request_;
  bool sourceChosen_ = false;     // the user picked a source option since the start
  bool selectingSource_ = false;  // SelectSource is checking an option
  CIosDeviceVrtWnd* devicePage_ = nullptr;
  CItunesBackupVrtWnd* backupPage_ = nullptr;
  CScanVrtWnd* scanPage_ = nullptr;
  CPreviewVrtWnd* previewPage_ = nullptr;
};

}  // namespace corvyn::app
