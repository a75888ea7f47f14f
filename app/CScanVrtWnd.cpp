#include "app/CScanVrtWnd.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/AppMessages.h"
#include "app/BusySpinner.h"
#include "app/CRecoverProcessWnd.h"
#include "app/CategoryTreeModel.h"
#include "app/DataListModel.h"
#include "backup/CLocalBuckupRecovery.h"
#include "core/CategoryCatalog.h"
#include "core/EngineFactory.h"
#include "device/DeviceScanSetup.h"
#include "platform/SpecialFolders.h"
#include "ui/CMessageBox.h"

namespace corvyn::app {
namespace {

constexpr int kAnimationTimer = 102;
constexpr int kAnimationIntervalMs = 90;
constexpr int kCheckColumnWidth = 30;
constexpr int kMinimumStretchWidth = 120;  // what the stretching column keeps at least
constexpr int kMinimumFixedWidth = 50;

// A language text with one "%d" or "%s" filled.
QString Fill(const QString& format, const QString& value) {
  QString text = format;
  for (const char* conversion : {"%d", "%s"}) {
    const qsizetype at = text.indexOf(QLatin1String(conversion));
    if (at >= 0) return text.replace(at, 2, value);
  }
  return text;
}

}  // namespace

CScanVrtWnd::CScanVrtWnd(ui::CLayoutWnd& mainWnd, platform::IDesktop& desktop)
    : ui::CVrtWnd(nullptr), mainWnd_(mainWnd), desktop_(desktop), driver_(*this) {
  auto access = driver_.LockResults();
  results_ = &access.results;
  backup::RegisterBackupEngine();
  device::RegisterDeviceEngine();
  chooseFolder = [](QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title);
  };
}

CScanVrtWnd::~CScanVrtWnd() {
  // The driver's destructor would do the same; doing it first keeps the
  // worker away from a half-destroyed page.
  driver_.Stop();
  driver_.Wait();
  if (pane_ != nullptr) pane_->Clear();
  // The list borrows the driver's records, which go before the views do.
  if (listModel_ != nullptr) listModel_->Clear();
}

Status CScanVrtWnd::Create() {
  if (const Status status = LoadLayout(QStringLiteral("PageScan"), QStringLiteral("PageScan"));
      status != kOk) {
    return status;
  }
  tree_ = FindControl<QTreeView>(QStringLiteral("NodeTree"));
  list_ = FindControl<QTreeView>(QStringLiteral("DataList"));
  progress_ = FindControl<QProgressBar>(QStringLiteral("ProgressScan"));
  percent_ = FindControl<QLabel>(QStringLiteral("LblPercent"));
  scanState_ = FindControl<QLabel>(QStringLiteral("LblScanState"));
  statistics_ = FindControl<QLabel>(QStringLiteral("LblStatistics"));
  filterCount_ = FindControl<QLabel>(QStringLiteral("LblFilterCount"));
  notes_ = FindControl<QLabel>(QStringLiteral("LblScanNotes"));
  gifScanning_ = FindControl<QLabel>(QStringLiteral("BtnGifScanning"));
  gifLoading_ = FindControl<QLabel>(QStringLiteral("BtnGifLoading"));
  filter_ = FindControl<QCheckBox>(QStringLiteral("OptOnOffFilter"));
  preview_ = FindControl<QCheckBox>(QStringLiteral("OptOnOffPreview"));
  pause_ = FindControl<QPushButton>(QStringLiteral("BtnScanPause"));
  stop_ = FindControl<QPushButton>(QStringLiteral("BtnScanStop"));
  home_ = FindControl<QPushButton>(QStringLiteral("BtnHome"));
  recover_ = FindControl<QPushButton>(QStringLiteral("BtnRecovery"));
  backAppDir_ = FindControl<QPushButton>(QStringLiteral("BtnBackAppDir"));
  infoLayout_ = FindControl(QStringLiteral("iPhoneInfoLayout"));
  dataListLayout_ = FindControl(QStringLiteral("DataListLayout"));
  scanToolBar_ = FindControl(QStringLiteral("ScanToolBar"));
  recoveryToolBar_ = FindControl(QStringLiteral("ReocveryToolBar"));
  dataListToolBar_ = FindControl(QStringLiteral("DataListToolBar"));
  const bool complete = tree_ && list_ && progress_ && percent_ && statistics_ && filterCount_ && notes_ &&
                        gifScanning_ && gifLoading_ && filter_ && preview_ && pause_ && stop_ && home_ &&
                        recover_ && backAppDir_ && infoLayout_ && dataListLayout_ && scanToolBar_ &&
                        recoveryToolBar_ && dataListToolBar_ && FindControl(QStringLiteral("BtnPrint")) &&
                        FindControl(QStringLiteral("PreviewHost"));
  if (!complete) return Status(kInvalidData, "the layout PageScan lacks a control of the scan page");

  treeModel_ = new CategoryTreeModel(this);
  treeModel_->onCheck = [this](const std::vector<RecordCategory>& categories, bool checked) {
    {
      auto access = driver_.LockResults();
      for (const RecordCategory category : categories) {
        (void)access.statistics.SetChecked(access.results.ContainerOf(category), checked);
      }
    }
    listModel_->RefreshChecks();
    RefreshTree();
    RefreshStatistics();
  };
  tree_->setModel(treeModel_);
  tree_->expandAll();
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { OnTreeCurrentChanged(current); });

  listModel_ = new DataListModel(this);
  listModel_->isChecked = [this](const void* key) { return driver_.LockResults().statistics.IsChecked(key); };
  listModel_->onCheck = [this](const void* key, bool checked) {
    (void)driver_.LockResults().statistics.SetChecked(key, checked);
    RefreshTree();
    RefreshStatistics();
  };
  list_->setModel(listModel_);
  list_->sortByColumn(-1, Qt::AscendingOrder);  // container order until a header is clicked
  QHeaderView* header = list_->header();
  header->setStretchLastSection(false);
  header->setSortIndicatorShown(true);
  header->setSectionsMovable(false);
  header->setMinimumSectionSize(kCheckColumnWidth);
  // The check column does not sort: a click there keeps the arrow where the
  // rows are sorted.
  connect(header, &QHeaderView::sortIndicatorChanged, this, [this, header](int section, Qt::SortOrder order) {
    if (section != DataListModel::kCheckColumn) {
      sortedSection_ = section;
      sortedOrder_ = order;
      return;
    }
    const QSignalBlocker blocker(header);
    header->setSortIndicator(sortedSection_, sortedOrder_);
  });
  connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { OnListCurrentChanged(current); });
  connect(list_, &QAbstractItemView::activated, this,
          [this](const QModelIndex& index) { OnListActivated(index); });
  connect(list_, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) { OnListActivated(index); });

  checkAll_ = new QCheckBox(header->viewport());
  checkAll_->setObjectName(QStringLiteral("CheckAll"));
  checkAll_->setFocusPolicy(Qt::NoFocus);
  connect(checkAll_, &QCheckBox::clicked, this, [this](bool checked) { SetCheckAll(checked); });
  connect(header, &QHeaderView::geometriesChanged, this, [this] { PlaceCheckAll(); });
  connect(header, &QHeaderView::sectionResized, this, [this] { PlaceCheckAll(); });

  ApplyColumns();
  backAppDir_->hide();
  filterCount_->hide();
  ShowScanState(false);
  scanToolBar_->hide();
  infoLayout_->hide();
  recover_->setEnabled(false);
  DrawAnimations();
  ApplyCaptions();
  RefreshStatistics();
  return kOk;
}

// --- Worker side ------------------------------------------------------------

void CScanVrtWnd::Post(int message, int wParam) {
  mainWnd_.PostPrivateMessage(message, wParam);
}

void CScanVrtWnd::OnProgress(int percent) {
  QMetaObject::invokeMethod(
      this, [this, percent] { ShowProgress(percent); }, Qt::QueuedConnection);
}

// --- Scan lifecycle ---------------------------------------------------------

void CScanVrtWnd::StartScan(const ScanRequest& request) {
  if (request.sourceKind == kSourceKindDevice && request.phone == nullptr) {
    ui::CMessageBox::Show(ui::kMessageBoxError, &mainWnd_, std::nullopt, Message("MSG0512"), kBoxWidth,
                          kBoxHeight);
    return;
  }
  // The previous engine reads the backup context (or the device source):
  // both must stay as they are until the driver has let it go.
  driver_.Stop();
  driver_.Wait();
  ResetForScan();
  Status status;
  std::unique_ptr<IPhoneRecoveryParse> engine;
  std::unique_ptr<device::DeviceSource> previousSource;
  if (request.sourceKind == kSourceKindDevice) {
    previousSource = std::move(deviceSource_);
    deviceSource_ = std::make_unique<device::DeviceSource>(device::MakeHelperDeviceSource(
        *request.phone, device::MakeDeviceHelperSetup(programFolder, request.deviceUdid)));
    deviceName_ = request.deviceName;
    ShowDeviceOpeningStep();
    engine = CreateRecoveryEngine(kSourceKindDevice, deviceSource_.get(), &status);
  } else {
    backupContext_.Select(request.backup);
    deviceName_ = request.backup.displayName;
    ShowOpeningStep(request.backup);
    engine = CreateRecoveryEngine(kSourceKindBackup, &backupContext_, &status);
  }
  sourceKind_ = request.sourceKind;
  deviceGone_ = false;
  if (engine) {
    status = driver_.Start(std::move(engine), request.sourceText);
  } else if (status == kOk) {
    status = Status(kInvalidData, request.sourceKind == kSourceKindDevice ? "no engine reads phones"
                                                                          : "no engine reads backups");
  }
  if (status != kOk) {
    ShowScanState(false);
    ui::CMessageBox::Show(ui::kMessageBoxError, &mainWnd_, std::nullopt,
                          Fill(Message("MSG0517"), QString::fromStdString(status.Message())), kBoxWidth,
                          kBoxHeight);
    return;
  }
  scanning_ = true;
}

void CScanVrtWnd::OnDeviceRemoved() {
  if (sourceKind_ != kSourceKindDevice || !Scanning()) return;
  // As a confirmed Stop: the phone is gone, nothing more can come from it.
  deviceGone_ = true;
  StopAnimations();
  (void)driver_.Stop([] { return true; });
  ApplyCaptions();
  ui::CMessageBox::Show(ui::kMessageBoxError, &mainWnd_, std::nullopt, Message("MSG0512"), kBoxWidth,
                        kBoxHeight);
}

void CScanVrtWnd::ResetForScan() {
  if (pane_ != nullptr) pane_->Clear();
  listModel_->Clear();
  {
    const QSignalBlocker blocker(tree_->selectionModel());
    tree_->selectionModel()->clear();
  }
  treeModel_->Reset();
  onlyDeleted_ = {};
  scanning_ = false;
  ended_ = false;
  openFailed_ = false;
  shownPercent_ = 0;
  progress_->setValue(0);
  percent_->setText(QStringLiteral("0%"));
  notes_->clear();
  notes_->setToolTip({});
  backAppDir_->hide();
  filterCount_->hide();
  // Hide before show: both visible at once would widen the window for good.
  dataListLayout_->hide();
  infoLayout_->show();
  ShowScanState(true);
  ApplyColumns();
  ApplyCaptions();
  RefreshStatistics();
}

void CScanVrtWnd::ShowScanState(bool scanning) {
  (scanning ? recoveryToolBar_ : scanToolBar_)->hide();
  scanToolBar_->setVisible(scanning);
  recoveryToolBar_->setVisible(!scanning);
  dataListToolBar_->setVisible(!scanning);
  home_->setEnabled(!scanning);
  if (scanning) {
    recover_->setEnabled(false);
    StartAnimations();
  } else {
    StopAnimations();
    RefreshRecoverButton();
  }
}

// An encrypted backup opens with a long first step, named above the bar
// until the progress passes it: the password check (newer layout), or the
// decryption of the whole backup (older layout).
void CScanVrtWnd::ShowDeviceOpeningStep() {
  if (scanState_ == nullptr) return;
  if (openingUntil_ != 0) scanState_->setText(scanningText_);
  // The phone is backed up first: the opening takes the first fifth of the scale.
  openingUntil_ = 20;
  scanningText_ = scanState_->text();
  scanState_->setText(Message("MSG0522"));
}

void CScanVrtWnd::ShowOpeningStep(const backup::BackupDescriptor& chosen) {
  if (scanState_ == nullptr) return;
  if (openingUntil_ != 0) scanState_->setText(scanningText_);  // an earlier scan ended in its opening
  openingUntil_ = 0;
  if (!chosen.encrypted) return;
  std::error_code error;
  const bool olderLayout = std::filesystem::exists(chosen.folder / backup::kManifestName, error);
  openingUntil_ = olderLayout ? backup::kEncryptedOpenStep : backup::kPasswordCheckStep;
  scanningText_ = scanState_->text();
  scanState_->setText(Message(olderLayout ? "MSG0521" : "MSG0520"));
}

void CScanVrtWnd::ShowProgress(int percent) {
  if (!scanning_ || percent <= shownPercent_) return;
  shownPercent_ = percent;
  progress_->setValue(percent);
  percent_->setText(QStringLiteral("%1%").arg(percent));
  if (openingUntil_ != 0 && percent >= openingUntil_) {
    openingUntil_ = 0;
    scanState_->setText(scanningText_);
  }
}

void CScanVrtWnd::HandleScanMessage(int message, qintptr wParam) {
  switch (message) {
    case kMsgCategoryDone:
      RefreshTree();
      RefreshStatistics();
      break;
    case kMsgFirstCategory:
      if (!tree_->currentIndex().isValid()) {
        const RecordCategory first = driver_.FirstCategory();
        if (first != RecordCategory::kNone) SelectCategory(first);
      }
      break;
    case kMsgScanEnded:
      EndOfScan();
      break;
    case kMsgScanState:
      if (wParam == kScanStateOpenFailed) openFailed_ = true;
      if (wParam == kScanStateDeviceUnreadable) OnDeviceRemoved();
      break;
    default:
      break;
  }
}

void CScanVrtWnd::EndOfScan() {
  if (!scanning_) return;
  scanning_ = false;
  ended_ = true;
  driver_.Wait();
  infoLayout_->hide();
  dataListLayout_->show();
  ShowScanState(false);
  RefreshTree();
  RefreshStatistics();
  ShowCheckAllState();
  const Status final = driver_.FinalStatus();
  if (openFailed_) {
    ui::CMessageBox::Show(ui::kMessageBoxError, &mainWnd_, std::nullopt,
                          Fill(Message("MSG0517"), QString::fromStdString(final.Message())), kBoxWidth,
                          kBoxHeight);
  } else if (final == kSourceUnreadable && !deviceGone_) {
    ui::CMessageBox::Show(ui::kMessageBoxError, &mainWnd_, std::nullopt, Message("MSG0512"), kBoxWidth,
                          kBoxHeight);
  } else if (final != kStopped) {
    ShowFailures();
  }
}

// The categories that could not be read, and what the file list could not
// give (refused or damaged rows), on the line below the list; one per line
// in its tool tip.
void CScanVrtWnd::ShowFailures() {
  QStringList parts;
  for (const auto& failure : driver_.CategoryFailures()) {
    parts << QString::fromStdString(failure.label) + QStringLiteral(": ") +
                 QString::fromStdString(failure.status.Message());
  }
  for (const std::string& warning : backupContext_.fileListWarnings) {
    parts << Message("MSG0519") + QStringLiteral(": ") + QString::fromStdString(warning);
  }
  notes_->setText(parts.isEmpty() ? QString()
                                  : Message("MSG0518") + QLatin1Char(' ') + parts.join(QStringLiteral("; ")));
  notes_->setToolTip(parts.join(QLatin1Char('\n')));
}

bool CScanVrtWnd::Scanning() const {
  return scanning_ && !driver_.IsFinished();
}

// --- Pause and stop ---------------------------------------------------------

void CScanVrtWnd::TogglePause() {
  if (!Scanning()) return;
  if (driver_.IsPaused()) {
    driver_.Resume();
    StartAnimations();
  } else {
    driver_.Pause();
    StopAnimations();
  }
  ApplyCaptions();
}

void CScanVrtWnd::AskToStop() {
  if (!Scanning()) return;
  const bool paused = driver_.IsPaused();
  if (!paused) StopAnimations();
  const bool stopped = driver_.Stop([this] {
    return ui::CMessageBox::Show(ui::kMessageBoxQuestion, &mainWnd_, std::nullopt, Message("MSG0508"),
                                 kBoxWidth, kBoxHeight) == 1;
  });
  if (!stopped && !paused) StartAnimations();
  ApplyCaptions();  // a confirmed Stop ends a pause too
}

// --- Tree and list ----------------------------------------------------------

void CScanVrtWnd::RefreshTree() {
  std::array<bool, kCategoryCount> published{};
  {
    auto access = driver_.LockResults();
    for (const RecordCategory category : kAllCategories) {
      published[CategoryIndex(category)] = access.IsPublished(category);
    }
    treeModel_->Refresh(access.results, access.statistics, published);
  }
  // Outside the lock: a list that appears is drawn at once and reads check marks.
  if (published != std::array<bool, kCategoryCount>{} && infoLayout_->isVisible()) {
    infoLayout_->hide();
    dataListLayout_->show();
  }
}

void CScanVrtWnd::RefreshStatistics() {
  const std::string format = Message("MSG0514").toStdString();
  std::string text;
  {
    auto access = driver_.LockResults();
    text = StatisticsLabelText(format.empty() ? kStatisticsLabelFormat : std::string_view(format),
                               access.statistics);
  }
  statistics_->setText(QString::fromStdString(text));
  RefreshRecoverButton();
  ShowCheckAllState();
}

void CScanVrtWnd::RefreshRecoverButton() {
  if (recover_ == nullptr) return;
  bool any = false;
  if (ended_ && driver_.Engine() != nullptr) any = driver_.LockResults().statistics.SelectedItems() > 0;
  recover_->setEnabled(any);
}

void CScanVrtWnd::SelectCategory(RecordCategory category) {
  const QModelIndex index = treeModel_->IndexOf(category);
  if (!index.isValid()) return;
  selectingInCode_ = true;
  tree_->setCurrentIndex(index);
  selectingInCode_ = false;
}

RecordCategory CScanVrtWnd::SelectedCategory() const {
  return tree_ != nullptr ? treeModel_->CategoryAt(tree_->currentIndex()) : RecordCategory::kNone;
}

bool CScanVrtWnd::OnlyDeleted(RecordCategory category) const {
  if (category == RecordCategory::kNone) return false;
  return onlyDeleted_[CategoryIndex(category)];
}

void CScanVrtWnd::OnTreeCurrentChanged(const QModelIndex& current) {
  if (!selectingInCode_) driver_.NoteTreeSelection();
  FillList(treeModel_->CategoryAt(current));
}

void CScanVrtWnd::FillList(RecordCategory category) {
  if (pane_ != nullptr) pane_->Clear();
  backAppDir_->hide();
  if (category == RecordCategory::kNone || !treeModel_->IsPublished(category)) {
    listModel_->Clear();
  } else {
    listModel_->ShowCategory(category, *results_, OnlyDeleted(category));
  }
  ApplyColumns();
  ShowFilterState();
  ShowCheckAllState();
}

void CScanVrtWnd::ApplyColumns() {
  QHeaderView* header = list_->header();
  {
    // Clicking a header sorts; a new list starts in container order.
    const QSignalBlocker blocker(header);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    sortedSection_ = -1;
    sortedOrder_ = Qt::AscendingOrder;
  }
  const ListColumns& columns = ColumnsOf(listModel_->Layout());
  header->setSectionResizeMode(DataListModel::kCheckColumn, QHeaderView::Fixed);
  header->resizeSection(DataListModel::kCheckColumn, kCheckColumnWidth);
  // Fixed widths shrink in proportion when they would leave the stretching
  // column less than kMinimumStretchWidth of the list (the preview pane
  // takes part of the window's width).
  int fixedTotal = 0;
  bool hasStretch = false;
  for (const ListColumn& column : columns) {
    if (column.header.empty()) continue;
    fixedTotal += column.width;
    hasStretch = hasStretch || column.width == 0;
  }
  const int available =
      list_->viewport()->width() - kCheckColumnWidth - (hasStretch ? kMinimumStretchWidth : 0);
  const double scale = fixedTotal > available && available > 0 ? double(available) / fixedTotal : 1.0;
  int stretch = -1;
  for (int i = 0; i < kListColumnCount; ++i) {
    const int section = i + 1;
    const bool shown = !columns[i].header.empty() && listModel_->HasRows();
    list_->setColumnHidden(section, !shown);
    if (!shown) continue;
    if (columns[i].width > 0) {
      header->setSectionResizeMode(section, QHeaderView::Interactive);
      header->resizeSection(section, std::max(kMinimumFixedWidth, int(columns[i].width * scale)));
    } else {
      header->setSectionResizeMode(section, QHeaderView::Stretch);
      stretch = section;
    }
  }
  header->setStretchLastSection(stretch < 0);
  list_->setColumnHidden(DataListModel::kCheckColumn, !listModel_->HasRows());
  checkAll_->setVisible(listModel_->HasRows());
  PlaceCheckAll();
}

void CScanVrtWnd::PlaceCheckAll() {
  if (checkAll_ == nullptr) return;
  QHeaderView* header = list_->header();
  const QSize size = checkAll_->sizeHint();
  const int x = header->sectionViewportPosition(DataListModel::kCheckColumn) +
                (header->sectionSize(DataListModel::kCheckColumn) - size.width()) / 2;
  checkAll_->setGeometry(std::max(x, 2), (header->height() - size.height()) / 2, size.width(), size.height());
}

void CScanVrtWnd::ShowFilterState() {
  const RecordCategory category = listModel_->Category();
  const bool available = CategoryHasDeletedFlag(category);
  {
    const QSignalBlocker blocker(filter_);
    filter_->setChecked(available && OnlyDeleted(category));
  }
  filter_->setEnabled(available);
  const bool on = listModel_->OnlyDeleted();
  filterCount_->setVisible(on);
  if (on) filterCount_->setText(Fill(Message("MSG0515"), QString::number(listModel_->HiddenCount())));
}

// "CheckAll" sets the open folder's files inside a folder, the whole
// category otherwise.
void CScanVrtWnd::SetCheckAll(bool checked) {
  const RecordCategory category = listModel_->Category();
  if (category == RecordCategory::kNone) return;
  {
    auto access = driver_.LockResults();
    if (listModel_->Layout() == ListLayout::kAppFiles) {
      for (int row = 0; row < listModel_->rowCount(); ++row) {
        (void)access.statistics.SetChecked(listModel_->KeyAt(row), checked);
      }
    } else {
      (void)access.statistics.SetChecked(access.results.ContainerOf(category), checked);
    }
  }
  listModel_->RefreshChecks();
  RefreshTree();
  RefreshStatistics();
}

void CScanVrtWnd::ShowCheckAllState() {
  if (checkAll_ == nullptr) return;
  Qt::CheckState state = Qt::Unchecked;
  const RecordCategory category = listModel_->Category();
  if (category != RecordCategory::kNone && listModel_->rowCount() > 0) {
    int checked = 0;
    const int rows = listModel_->rowCount();
    if (listModel_->Layout() == ListLayout::kAppFiles) {
      auto access = driver_.LockResults();
      for (int row = 0; row < rows; ++row)
        checked += access.statistics.IsChecked(listModel_->KeyAt(row)) ? 1 : 0;
      state = checked == 0 ? Qt::Unchecked : checked == rows ? Qt::Checked : Qt::PartiallyChecked;
    } else {
      auto access = driver_.LockResults();
      const SelectionEntry* entry = access.statistics.Find(access.results.ContainerOf(category));
      if (entry != nullptr && entry->node != nullptr && entry->node->selectedCount > 0) {
        state = entry->node->selectedCount >= entry->node->itemCount ? Qt::Checked : Qt::PartiallyChecked;
      }
    }
  }
  const QSignalBlocker blocker(checkAll_);
  checkAll_->setCheckState(state);
}

void CScanVrtWnd::OnListCurrentChanged(const QModelIndex& current) {
  if (pane_ == nullptr) return;
  const void* key = current.isValid() ? listModel_->KeyAt(current.row()) : nullptr;
  if (key == nullptr || listModel_->FolderAt(current.row()) != nullptr) {
    pane_->Clear();
    return;
  }
  pane_->ShowItem({listModel_->Category(), key}, *results_,
                  driver_.IsFinished() ? driver_.Engine() : nullptr);
}

void CScanVrtWnd::OnListActivated(const QModelIndex& index) {
  if (!index.isValid()) return;
  const std::vector<AppFileRecord>* folder = listModel_->FolderAt(index.row());
  if (folder != nullptr) OpenFolder(*folder);
}

void CScanVrtWnd::OpenFolder(const std::vector<AppFileRecord>& files) {
  if (pane_ != nullptr) pane_->Clear();
  listModel_->ShowFolder(listModel_->Category(), files);
  ApplyColumns();
  backAppDir_->show();
  ShowFilterState();
  ShowCheckAllState();
}

void CScanVrtWnd::LeaveFolder() {
  FillList(listModel_->Category());
}

// --- Export, preview, buttons ---------------------------------------------

void CScanVrtWnd::Export() {
  if (!ended_ || driver_.Engine() == nullptr || !recover_->isEnabled()) return;
  const QString folder = chooseFolder ? chooseFolder(&mainWnd_, Message("MSG0509")) : QString();
  if (folder.isEmpty()) return;
  const CStatisticsObj* statistics = nullptr;
  {
    auto access = driver_.LockResults();
    statistics = &access.statistics;  // the scan has ended: nothing changes it meanwhile
  }
  exporting::ExportRequest request{folder.toStdString(), deviceName_, templateFolder, -1};
  CRecoverProcessWnd window(&mainWnd_, *results_, *statistics, *driver_.Engine(), std::move(request),
                            desktop_);
  if (const Status status = window.Create(); status != kOk) {
    ui::CMessageBox::Show(ui::kMessageBoxError, &mainWnd_, std::nullopt,
                          QString::fromStdString(status.Message()), kBoxWidth, kBoxHeight);
    return;
  }
  window.DoModal();
}

void CScanVrtWnd::SetPreviewPane(IPreviewPane* pane) {
  pane_ = pane;
}

QWidget* CScanVrtWnd::PreviewHost() const {
  return FindControl(QStringLiteral("PreviewHost"));
}

void CScanVrtWnd::Notify(const ui::Notification& notification) {
  const QString& name = notification.senderName;
  if (notification.type == QLatin1String(ui::kNotifyTimer)) {
    if (notification.wParam == kAnimationTimer) {
      // A wrong password ends the scan without "scan ended": the backup page
      // takes over, and this page only stops turning.
      if (scanning_ && driver_.IsFinished() && driver_.FinalStatus() == kWrongPassword) {
        scanning_ = false;
        StopAnimations();
        return;
      }
      animationStep_ = (animationStep_ + 1) % kBusySpinnerSteps;
      DrawAnimations();
    }
    return;
  }
  if (notification.type == QLatin1String(ui::kNotifySelectChanged)) {
    if (name == QLatin1String("OptOnOffFilter")) {
      const RecordCategory category = listModel_->Category();
      if (!CategoryHasDeletedFlag(category)) return;
      const bool on = notification.wParam != 0;
      onlyDeleted_[CategoryIndex(category)] = on;
      {
        auto access = driver_.LockResults();
        (void)access.statistics.ApplyDeletedOnlyFilter(access.results.ContainerOf(category), on);
      }
      listModel_->SetOnlyDeleted(on);
      ShowFilterState();
      RefreshStatistics();
    } else if (name == QLatin1String("OptOnOffPreview")) {
      if (QWidget* host = PreviewHost()) host->setVisible(notification.wParam != 0);
    }
    return;
  }
  if (notification.type != QLatin1String(ui::kNotifyClick)) return;
  if (name == QLatin1String("BtnScanPause")) {
    TogglePause();
  } else if (name == QLatin1String("BtnScanStop")) {
    AskToStop();
  } else if (name == QLatin1String("BtnRecovery")) {
    Export();
  } else if (name == QLatin1String("BtnPrint")) {
    if (onPrint) onPrint();
  } else if (name == QLatin1String("BtnHome")) {
    if (onHome && !Scanning()) onHome();
  } else if (name == QLatin1String("BtnBackAppDir")) {
    LeaveFolder();
  }
}

// --- Animations and texts ---------------------------------------------------

void CScanVrtWnd::StartAnimations() {
  animating_ = true;
  SetTimer(gifScanning_, kAnimationTimer, kAnimationIntervalMs);
  DrawAnimations();
}

void CScanVrtWnd::StopAnimations() {
  animating_ = false;
  if (gifScanning_ != nullptr) KillTimer(gifScanning_, kAnimationTimer);
  DrawAnimations();
}

void CScanVrtWnd::DrawAnimations() {
  if (gifScanning_ != nullptr) gifScanning_->setPixmap(BusySpinnerFrame(20, animationStep_, animating_));
  if (gifLoading_ != nullptr) gifLoading_->setPixmap(BusySpinnerFrame(44, animationStep_, animating_));
}

void CScanVrtWnd::ApplyCaptions() {
  if (pause_ != nullptr) pause_->setText(Message(driver_.IsPaused() ? "MSG0506" : "MSG0507"));
}

void CScanVrtWnd::OnLanguageChanged() {
  ApplyLanguage();
  if (tree_ == nullptr) return;
  ApplyCaptions();
  RefreshTree();
  RefreshStatistics();
  ShowFilterState();
  if (ended_ && driver_.FinalStatus() != kStopped && !openFailed_) ShowFailures();
}

}  // namespace corvyn::app
