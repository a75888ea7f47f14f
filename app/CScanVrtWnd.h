// The scan page: the category tree on the left, the data list of the
// selected category in the middle, the preview pane on the right, and the
// progress bar with Pause and Stop above them while a scan runs. After the
// scan the same bar offers Print and Recover (export).
//
// The page owns the scan driver; the driver's notifications go to the main
// window (PostPrivateMessage is safe from the worker), which forwards them
// to HandleScanMessage: 1035/0 and 1035/1 stay with the main window, every
// other 1032-1035 comes here. Progress reports are handed to this page's
// thread as queued calls.
//
// Results are read only for published categories (their containers never
// change again during the scan); the statistics, which the worker extends
// while it scans, are read and changed under the driver's results lock.
#pragma once

#include <QString>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/IPreviewPane.h"
#include "app/ScanRequest.h"
#include "backup/BackupContext.h"
#include "core/ScanDriver.h"
#include "device/CDeviceRecovery.h"
#include "platform/Desktop.h"
#include "platform/SpecialFolders.h"
#include "ui/CVrtWnd.h"

class QCheckBox;
class QLabel;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QTreeView;

namespace corvyn::app {

class CategoryTreeModel;
class DataListModel;

class CScanVrtWnd final : public ui::CVrtWnd, private IScanEventSink {
 public:
  static constexpr int kBoxWidth = 550;
  static constexpr int kBoxHeight = 200;

  // Registers the backup engine as the engine of kind 1 (a test may put
  // another one afterwards).
  // mainWnd receives the driver's messages (PostPrivateMessage is thread-safe) and forwards them back.
  CScanVrtWnd(ui::CLayoutWnd& mainWnd, platform::IDesktop& desktop);
  ~CScanVrtWnd() override;  // stops and joins a running scan

  // LoadLayout("PageScan", "PageScan"), builds the tree; kOk or kInvalidData.
  Status Create();
  // Message 1031: starts a scan of the request's source. Kind 0 (device) is
  // not available: an error box says so.
  void StartScan(const ScanRequest& request);
  // 1032, 1033, 1034 and 1035 with wParam 3, forwarded by the main window.
  void HandleScanMessage(int message, qintptr wParam);
  // The pane shown in PreviewHost; may be null. Not owned.
  void SetPreviewPane(IPreviewPane* pane);
  // The empty container "PreviewHost" beside the list.
  QWidget* PreviewHost() const;

  std::function<void()> onPrint;  // "BtnPrint"
  std::function<void()> onHome;   // "BtnHome"
  // Asks for the export folder (title MSG0509); an empty text cancels.
  // Defaults to the system's folder dialog; tests put their own.
  std::function<QString(QWidget* owner, const QString& title)> chooseFolder;
  // Where export finds its report templates; empty: beside the program.
  std::filesystem::path templateFolder;
  // Where the device helper lies (device scans).
  std::filesystem::path programFolder = platform::ProgramDir();

  RecordCategory SelectedCategory() const;  // kNone when a group or nothing is selected
  bool OnlyDeleted(RecordCategory category) const;
  bool Scanning() const;
  CScanDriver& Driver() { return driver_; }

  void OnLanguageChanged() override;

 protected:
  void Notify(const ui::Notification& notification) override;

 private:
  // Worker thread.
  void Post(int message, int wParam) override;
  void OnProgress(int percent) override;

  // Page thread.
  void ShowProgress(int percent);
  void ShowOpeningStep(const backup::BackupDescriptor& chosen);
  void ResetForScan();
  void EndOfScan();
  void RefreshTree();
  void RefreshStatistics();
  void RefreshRecoverButton();
  void SelectCategory(RecordCategory category);
  void FillList(RecordCategory category);
  void ApplyColumns();
  void ShowFilterState();
  void OnTreeCurrentChanged(const QModelIndex& current);
  void OnListCurrentChanged(const QModelIndex& current);
  void OnListActivated(const QModelIndex& index);
  void OpenFolder(const std::vector<AppFileRecord>& files);
  void LeaveFolder();
  void SetCheckAll(bool checked);
  void ShowCheckAllState();
  void PlaceCheckAll();
  void TogglePause();
  void AskToStop();
  void Export();
  void ShowScanState(bool scanning);
  void StartAnimations();
  void StopAnimations();
  void DrawAnimations();
  void ApplyCaptions();
  void ShowFailures();
  // The phone went away during its scan (1035 with wParam 2): ends the scan
  // as a confirmed Stop does and says so.
  void OnDeviceRemoved();
  // The state line while the phone is backed up, until the backup is read.
  void ShowDeviceOpeningStep();

  ui::CLayoutWnd& mainWnd_;
  platform::IDesktop& desktop_;
  backup::BackupContext backupContext_;
  std::unique_ptr<device::DeviceSource> deviceSource_;  // of the last device scan
  int sourceKind_ = kSourceKindBackup;                  // of the last scan
  bool deviceGone_ = false;                             // its phone went away (said once)
  std::string deviceName_;
  IPreviewPane* pane_ = nullptr;
  ScanResults* results_ = nullptr;  // the driver's; stable for the page's life
  CategoryTreeModel* treeModel_ = nullptr;
  DataListModel* listModel_ = nullptr;

  QTreeView* tree_ = nullptr;
  QTreeView* list_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* percent_ = nullptr;
  QLabel* scanState_ = nullptr;
  QLabel* statistics_ = nullptr;
  QLabel* filterCount_ = nullptr;
  QLabel* notes_ = nullptr;
  QLabel* gifScanning_ = nullptr;
  QLabel* gifLoading_ = nullptr;
  QCheckBox* filter_ = nullptr;
  QCheckBox* preview_ = nullptr;
  QCheckBox* checkAll_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* home_ = nullptr;
  QPushButton* recover_ = nullptr;
  QPushButton* backAppDir_ = nullptr;
  QWidget* infoLayout_ = nullptr;
  QWidget* dataListLayout_ = nullptr;
  QWidget* scanToolBar_ = nullptr;
  QWidget* recoveryToolBar_ = nullptr;
  QWidget* dataListToolBar_ = nullptr;

  std::array<bool, kCategoryCount> onlyDeleted_{};  // per category node
  bool scanning_ = false;                           // from StartScan until 1034
  bool ended_ = false;                              // 1034 handled: results browsable
  bool openFailed_ = false;                         // 1035/3 seen for this scan
  bool selectingInCode_ = false;
  bool animating_ = false;
  int animationStep_ = 0;
  int shownPercent_ = 0;
  int openingUntil_ = 0;  // the progress at which the opening step's name gives way
  QString scanningText_;
  int sortedSection_ = -1;  // the list's sort column (-1: container order)
  Qt::SortOrder sortedOrder_ = Qt::AscendingOrder;

  CScanDriver driver_;  // declared last: its worker ends before the members above go
};

}  // namespace corvyn::app
