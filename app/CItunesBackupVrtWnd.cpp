#include "app/CItunesBackupVrtWnd.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>

#include "app/AppMessages.h"
#include "app/CDecryptionWnd.h"
#include "core/EngineFactory.h"
#include "platform/SpecialFolders.h"
#include "ui/CMessageBox.h"
#include "ui/SkinImage.h"

namespace corvyn::app {
namespace {

constexpr int kRowHeight = 40;
constexpr int kDateColumnWidth = 220;
constexpr int kSerialColumnWidth = 220;
constexpr const char* kLockedIcon = "file='Controls.png' source='53,436,101,462' dest='0,0,48,26'";
constexpr const char* kPlainIcon = "file='Controls.png' source='2,436,50,462' dest='0,0,48,26'";

// Texts of section "Messages" that belong to this page.
constexpr const char* kMsgOtherFolderTitle = "MSG0310";
constexpr const char* kMsgNoBackupInFolder = "MSG0311";
constexpr const char* kMsgNoBackupsFound = "MSG0312";
constexpr const char* kMsgTryOtherFolder = "MSG0313";
constexpr const char* kMsgColumnName = "MSG0314";
constexpr const char* kMsgColumnDate = "MSG0315";
constexpr const char* kMsgColumnSerial = "MSG0316";

QString DefaultChooseFolder(QWidget* owner, const QString& title) {
  return QFileDialog::getExistingDirectory(owner, title, QString(),
                                           QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

std::vector<std::filesystem::path> DefaultBackupRoots() {
  return backup::BackupRoots(platform::ProgramDir() / "config.ini");
}

QString Text(const char* id, const char* fallback) {
  const QString text = ui::CLayoutWnd::Message(id);
  return text.isEmpty() ? QString::fromUtf8(fallback) : text;
}

}  // namespace

CItunesBackupVrtWnd::CItunesBackupVrtWnd(ui::CLayoutWnd& mainWnd, ScanRequest& request)
    : mainWnd_(mainWnd), request_(request) {
  chooseFolder = DefaultChooseFolder;
  backupRoots = DefaultBackupRoots;
}

Status CItunesBackupVrtWnd::Create() {
  const Status status = LoadLayout(QStringLiteral("PageItunesBackup"), QStringLiteral("PageItunesBackup"));
  if (status != kOk) return Status(kInvalidData, "the backup page's layout cannot be loaded");
  list_ = FindControl<QTreeWidget>(QStringLiteral("BackupFileList"));
  if (list_ == nullptr || FindControl<QAbstractButton>(QStringLiteral("BtnScan")) == nullptr ||
      FindControl<QAbstractButton>(QStringLiteral("BtnSelDir")) == nullptr) {
    return Status(kInvalidData, "the backup page's layout lacks the list or its buttons");
  }
  list_->setColumnCount(3);
  list_->setIconSize(QSize(48, 26));
  QHeaderView* header = list_->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->setSectionResizeMode(1, QHeaderView::Fixed);
  header->setSectionResizeMode(2, QHeaderView::Fixed);
  header->resizeSection(1, kDateColumnWidth);
  header->resizeSection(2, kSerialColumnWidth);
  header->setSectionsMovable(false);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (enabled_) ScanSelected();
  });
  ApplyTexts();
  Refresh();
  return kOk;
}

void CItunesBackupVrtWnd::ApplyTexts() {
  ApplyLanguage();
  if (list_ != nullptr) {
    list_->setHeaderLabels({Text(kMsgColumnName, "Name"), Text(kMsgColumnDate, "Last Backup Date"),
                            Text(kMsgColumnSerial, "Serial Number")});
  }
  ShowEmptyHint();
}

void CItunesBackupVrtWnd::OnLanguageChanged() {
  ApplyTexts();
}

void CItunesBackupVrtWnd::Refresh() {
  if (list_ == nullptr) return;
  roots_ = backupRoots ? backupRoots() : std::vector<std::filesystem::path>{};
  backups_.clear();
  if (const Status listed = backup::ListBackups(roots_, backups_); listed != kOk) {
    // Nowhere to look (no home folder): the hint says where backups would be.
    std::fprintf(stderr, "corvyn: the backups cannot be listed: %s\n", listed.Message().c_str());
  }
  // The newest backup first: it is the one a user most likely wants, and
  // the folder names (device identifiers) give no useful order. The date
  // text ("YYYY-MM-DD HH:MM:SS") sorts as it reads; undated backups go last.
  std::stable_sort(backups_.begin(), backups_.end(),
                   [](const backup::BackupDescriptor& a, const backup::BackupDescriptor& b) {
                     return a.lastBackupDate > b.lastBackupDate;
                   });

  list_->clear();
  const QPixmap locked = ui::LoadSkinImage(QString::fromLatin1(kLockedIcon));
  const QPixmap plain = ui::LoadSkinImage(QString::fromLatin1(kPlainIcon));
  for (size_t index = 0; index < backups_.size(); ++index) {
    const backup::BackupDescriptor& backup = backups_[index];
    auto* row = new QTreeWidgetItem(list_);
    row->setIcon(0, QIcon(backup.encrypted != 0 ? locked : plain));
    QString name = QString::fromStdString(backup.displayName);
    // A backup the phone did not finish writing may lack files: said, not hidden.
    if (backup.snapshotUnfinished) name += QLatin1Char(' ') + Message("MSG0318");
    row->setText(0, name);
    row->setText(1, QString::fromStdString(backup.lastBackupDate));
    row->setText(2, QString::fromStdString(backup.serialNumber));
    row->setData(0, Qt::UserRole, static_cast<qulonglong>(index));
    QString tip = QString::fromStdString(backup.folder.string());
    if (!backup.productVersion.empty())
      tip += QStringLiteral("\niOS ") + QString::fromStdString(backup.productVersion);
    row->setToolTip(0, tip);
    row->setSizeHint(0, QSize(kDateColumnWidth, kRowHeight));
  }
  if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
  ShowEmptyHint();
  UpdateScanButton();
}

void CItunesBackupVrtWnd::ShowEmptyHint() {
  auto* hint = FindControl<QLabel>(QStringLiteral("LblEmptyHint"));
  if (hint == nullptr || list_ == nullptr) return;
  const bool empty = backups_.empty();
  list_->setVisible(!empty);
  hint->setVisible(empty);
  if (!empty) return;
  QString places;
  for (const auto& root : roots_) places += QStringLiteral("\n") + QString::fromStdString(root.string());
  hint->setText(Text(kMsgNoBackupsFound, "No iTunes backup was found in these folders:") + places +
                QStringLiteral("\n\n") +
                Text(kMsgTryOtherFolder, "If your backup is kept elsewhere, click \"Select Folder\"."));
}

void CItunesBackupVrtWnd::UpdateScanButton() {
  if (auto* scan = FindControl<QAbstractButton>(QStringLiteral("BtnScan"))) {
    scan->setEnabled(enabled_ && list_ != nullptr && list_->currentItem() != nullptr);
  }
}

void CItunesBackupVrtWnd::EnableControls(bool enabled) {
  enabled_ = enabled;
  if (list_ != nullptr) list_->setEnabled(enabled);
  if (auto* select = FindControl(QStringLiteral("BtnSelDir"))) select->setEnabled(enabled);
  UpdateScanButton();
  if (auto* tabs = mainWnd_.FindControl(QStringLiteral("MainTabPage"))) tabs->setEnabled(enabled);
}

QWidget* CItunesBackupVrtWnd::DialogOwner() const {
  return mainWnd_.window();
}

void CItunesBackupVrtWnd::ScanSelected() {
  QTreeWidgetItem* row = list_ != nullptr ? list_->currentItem() : nullptr;
  if (row == nullptr) return;
  const auto index = row->data(0, Qt::UserRole).toULongLong();
  if (index >= backups_.size()) return;
  StartScan(backups_[index]);
}

void CItunesBackupVrtWnd::StartScan(const backup::BackupDescriptor& backup) {
  pending_ = backup;
  EnableControls(false);
  std::string password;
  if (backup.encrypted != 0 && !AskBackupPassword(DialogOwner(), &password)) {
    EnableControls(true);
    return;
  }
  request_.sourceKind = kSourceKindBackup;
  request_.backup = backup;
  request_.sourceText = std::move(password);
  mainWnd_.PostPrivateMessage(kMsgStartScan, kSourceKindBackup);
}

void CItunesBackupVrtWnd::OnWrongPassword() {
  ui::CMessageBox::Show(ui::kMessageBoxInformation, DialogOwner(), std::nullopt, Message("MSG0302"), 550,
                        180);
  if (!pending_.has_value()) {
    EnableControls(true);
    return;
  }
  StartScan(*pending_);
}

void CItunesBackupVrtWnd::SelectOtherFolder() {
  if (!chooseFolder) return;
  for (;;) {
    const QString folder =
        chooseFolder(DialogOwner(), Text(kMsgOtherFolderTitle,
                                         "Select the iTunes backup file from another folder to recover "
                                         "your data."));
    if (folder.isEmpty()) return;
    backup::BackupDescriptor picked;
    if (backup::ReadBackupFolder(folder.toStdString(), picked) == kOk) {
      StartScan(picked);
      return;
    }
    const int answer = ui::CMessageBox::Show(
        ui::kMessageBoxWarning, DialogOwner(), Message("MSG0404"),
        Text(kMsgNoBackupInFolder, "Cannot find a backup in this folder. Do you want to try again?"), 550,
        200);
    if (answer != ui::kCloseOk) return;
  }
}

void CItunesBackupVrtWnd::Notify(const ui::Notification& notification) {
  const QString& name = notification.senderName;
  if (notification.type == QLatin1String(ui::kNotifyClick)) {
    if (name == QLatin1String("BtnScan")) {
      ScanSelected();
      return;
    }
    if (name == QLatin1String("BtnSelDir")) {
      SelectOtherFolder();
      return;
    }
  }
  if (notification.type == QLatin1String(ui::kNotifyItemSelect) && name == QLatin1String("BackupFileList")) {
    UpdateScanButton();
    return;
  }
  ui::CVrtWnd::Notify(notification);
}

}  // namespace corvyn::app
