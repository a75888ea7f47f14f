#include "app/CMainWnd.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QTreeWidget>
#include <cstdio>

#include "app/AppLinks.h"
#include "app/AppMessages.h"
#include "app/CIosDeviceVrtWnd.h"
#include "app/CItunesBackupVrtWnd.h"
#include "app/CPreviewVrtWnd.h"
#include "app/CPrintWnd.h"
#include "app/CScanVrtWnd.h"
#include "app/LanguageStore.h"
#include "app/skin/ControlsSheet.h"
#include "backup/BackupDiscovery.h"
#include "ui/CMessageBox.h"
#include "ui/SkinImage.h"

namespace corvyn::app {
namespace {

QString Text(LanguageStore& languages, const char* section, const char* key, const char* fallback) {
  const std::string text = languages.Text(section, key);
  return text.empty() ? QString::fromUtf8(fallback) : QString::fromStdString(text);
}

QPixmap SheetIcon(std::string_view name) {
  for (const auto& icon : skin::kSheetIcons) {
    if (icon.name == name) {
      return ui::LoadSkinImage(ui::SkinImageDescription{
          QStringLiteral("Controls.png"),
          QRect(QPoint(icon.left, icon.top), QSize(icon.right - icon.left, icon.bottom - icon.top)),
          std::nullopt});
    }
  }
  return {};
}

}  // namespace

CMainWnd::CMainWnd(LanguageStore& languages, platform::IDesktop& desktop)
    : ui::CLayoutWnd(nullptr), languages_(languages), desktop_(desktop) {
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
  connect(this, &QDialog::finished, QCoreApplication::instance(), &QCoreApplication::quit);
}

CMainWnd::~CMainWnd() {
  // The library's thread posts to this window: let it go before the window goes.
  if (devicePage_ != nullptr) devicePage_->ReleasePhone();
}

Status CMainWnd::Create() {
  const Status status = LoadLayout(QStringLiteral("MainWnd"), QStringLiteral("MainWnd"));
  setWindowTitle(kTitle);
  SizeAndCenter(nullptr, kWidth, kHeight);
  if (status != kOk) return status;
  // Texts laid over the option buttons must not swallow their clicks.
  for (QWidget* control : Form()->findChildren<QWidget*>()) {
    if (control->property("mouseTransparent").toBool())
      control->setAttribute(Qt::WA_TransparentForMouseEvents);
  }
  // The two options sit in separate cards, so they are grouped explicitly.
  auto* options = new QButtonGroup(this);
  options->setExclusive(true);
  for (const char* name : {"OptIosDevice", "OptBackupFile"}) {
    if (auto* option = FindControl<QAbstractButton>(QString::fromLatin1(name))) options->addButton(option);
  }
  ApplyTexts();
  shadow_.Create(this);
  if (const Status pages = CreatePages(); pages != kOk) return pages;
  // Until a phone is connected the backups are what a user can scan, so the
  // window opens on them when there are any.
  const auto* backups = backupPage_->FindControl<QTreeWidget>(QStringLiteral("BackupFileList"));
  const bool phoneReady = devicePage_->ShownPage() == CIosDeviceVrtWnd::kPageDeviceReady;
  SelectSource(!phoneReady && backups != nullptr && backups->topLevelItemCount() > 0 ? 1 : 0);
  return kOk;
}

Status CMainWnd::CreatePages() {
  devicePage_ = new CIosDeviceVrtWnd(*this, desktop_);
  devicePage_->request = &request_;
  // A phone that becomes ready is what the user came for, unless they have
  // already picked a source themselves.
  devicePage_->onReady = [this] {
    if (!sourceChosen_) SelectSource(0);
  };
  devicePage_->Embed(FindControl(QStringLiteral("PageIosDeviceHost")));
  backupPage_ = new CItunesBackupVrtWnd(*this, request_);
  backupPage_->Embed(FindControl(QStringLiteral("PageItunesBackupHost")));
  scanPage_ = new CScanVrtWnd(*this, desktop_);
  scanPage_->Embed(FindControl(QStringLiteral("PageScanHost")));
  previewPage_ = new CPreviewVrtWnd(this);
  for (const Status& status : {devicePage_->Create(), backupPage_->Create(), scanPage_->Create()}) {
    if (status != kOk) return status;
  }
  previewPage_->Embed(scanPage_->PreviewHost());
  if (const Status status = previewPage_->Create(); status != kOk) return status;
  scanPage_->SetPreviewPane(previewPage_);
  scanPage_->onHome = [this] { ShowHome(); };
  scanPage_->onPrint = [this] { OpenPrintWindow(); };
  return kOk;
}

void CMainWnd::ShowHome() {
  if (auto* pages = FindControl<QStackedWidget>(QStringLiteral("MainTabPage"))) pages->setCurrentIndex(0);
  backupPage_->EnableControls(true);
}

void CMainWnd::ShowScanPage() {
  if (auto* pages = FindControl<QStackedWidget>(QStringLiteral("MainTabPage"))) pages->setCurrentIndex(1);
  // The source page held everything still while the scan was prepared; the
  // scan page, which lives in the same page switch, takes over now.
  backupPage_->EnableControls(true);
}

void CMainWnd::ScanBackupFolder(const std::filesystem::path& folder) {
  backup::BackupDescriptor descriptor;
  if (backup::ReadBackupFolder(folder, descriptor) != kOk) {
    QString text = Message("MSG0317");
    text.replace(QLatin1String("%s"), QString::fromStdString(folder.string()));
    ui::CMessageBox::Show(ui::kMessageBoxError, this, std::nullopt, text, 550, 200);
    return;
  }
  SelectSource(1);
  backupPage_->StartScan(descriptor);
}

void CMainWnd::OpenPrintWindow() {
  if (scanPage_ == nullptr || scanPage_->Scanning()) return;
  const RecordCategory category = scanPage_->SelectedCategory();
  // The scan has ended: nothing writes the results while the window reads
  // them, and the lock is not held across the modal run (late scan messages
  // take it on this thread).
  const ScanResults* results = nullptr;
  const CStatisticsObj* statistics = nullptr;
  {
    auto access = scanPage_->Driver().LockResults();
    results = &access.results;
    statistics = &access.statistics;
  }
  CPrintWnd window(this, *results, *statistics, category, scanPage_->OnlyDeleted(category));
  if (window.Create() != kOk) {
    ui::CMessageBox::Show(ui::kMessageBoxError, this, std::nullopt,
                          QStringLiteral("The print window cannot be opened: its layout is missing."), 550,
                          200);
    return;
  }
  window.DoModal();
}

void CMainWnd::BringToFront() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  showNormal();
  raise();
  activateWindow();
}

void CMainWnd::ApplyTexts() {
  ApplyLanguage();
  if (auto* product = FindControl<QLabel>(QStringLiteral("LblProductName"))) {
    const QString name = Message("MSG1209");
    if (!name.isEmpty()) product->setText(name);
  }
  if (assistMenu_ != nullptr) {
    assistMenu_->deleteLater();
    assistMenu_ = nullptr;
  }
}

void CMainWnd::SelectSource(int source) {
  currentSource_ = source;
  auto paint = [this](const char* name, bool dark) {
    if (auto* label = FindControl<QLabel>(QString::fromLatin1(name))) {
      label->setStyleSheet(dark ? QStringLiteral("color: #000000;") : QStringLiteral("color: #FFFFFF;"));
    }
  };
  const bool device = source == 0;
  paint("TxtIosDevice1", device);
  paint("TxtIosDevice2", device);
  paint("TxtBackupFile1", !device);
  paint("TxtBackupFile2", !device);
  if (auto* pages = FindControl<QStackedWidget>(QStringLiteral("TabPage"))) pages->setCurrentIndex(source);
  if (auto* option = FindControl<QAbstractButton>(device ? QStringLiteral("OptIosDevice")
                                                         : QStringLiteral("OptBackupFile"))) {
    // Checked here, not by the user: the notification it raises is no choice of theirs.
    selectingSource_ = true;
    if (!option->isChecked()) option->setChecked(true);
    selectingSource_ = false;
  }
}

QMenu* CMainWnd::BuildAssistMenu() {
  if (assistMenu_ != nullptr) return assistMenu_;
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("MenuWnd"));
  auto addItem = [&](QMenu* into, const char* name, const char* fallback, auto action) {
    QAction* item = into->addAction(Text(languages_, "MenuWnd", name, fallback));
    item->setObjectName(QString::fromLatin1(name));
    connect(item, &QAction::triggered, this, action);
    return item;
  };
  addItem(menu, "item_help", "Help", [this] { OpenPage(kSupportPageUrl); });
  addItem(menu, "item_faq", "FAQ", [this] { OpenPage(kQuestionsPageUrl); });
  addItem(menu, "item_support", "Support", [this] { OpenPage(kSupportPageUrl); });
  QMenu* languageMenu = menu->addMenu(Text(languages_, "MenuWnd", "item_language", "Language"));
  languageMenu->menuAction()->setObjectName(QStringLiteral("item_language"));
  languageMenu->setObjectName(QStringLiteral("item_language_menu"));
  const QPixmap check = SheetIcon("Current Language");
  for (const auto& [key, shown] : languages_.AvailableLanguages()) {
    QAction* item = languageMenu->addAction(QString::fromStdString(shown.empty() ? key : shown));
    item->setObjectName(QString::fromStdString(key));
    if (key == languages_.CurrentLanguage()) item->setIcon(QIcon(check));
    const std::string language = key;
    connect(item, &QAction::triggered, this, [this, language] { ChooseLanguage(language); });
  }
  addItem(menu, "item_about", "About", [this] { OpenPage(kProductPageUrl); });
  menu->addSeparator();
  addItem(menu, "item_exit", "Exit", [this] { close(); });
  assistMenu_ = menu;
  return menu;
}

void CMainWnd::OpenPage(std::string_view address) {
  if (const Status opened = desktop_.OpenInDefaultProgram(address); opened != kOk) {
    std::fprintf(stderr, "corvyn: cannot open %.*s: %s\n", static_cast<int>(address.size()), address.data(),
                 opened.Message().c_str());
  }
}

void CMainWnd::ChooseLanguage(const std::string& language) {
  // The language changes for this run even when config.ini cannot keep it.
  if (const Status saved = languages_.SetLanguage(language); saved != kOk) {
    std::fprintf(stderr, "corvyn: the language choice cannot be saved: %s\n", saved.Message().c_str());
  }
  PostPrivateMessage(kMsgLanguageChanged);
}

void CMainWnd::Notify(const ui::Notification& notification) {
  const QString& name = notification.senderName;
  if (notification.type == QLatin1String(ui::kNotifyClick)) {
    if (name == QLatin1String("closebtn")) {
      close();
      return;
    }
    if (name == QLatin1String("BtnAssist")) {
      QMenu* menu = BuildAssistMenu();
      if (notification.sender != nullptr) {
        menu->popup(notification.sender->mapToGlobal(QPoint(0, notification.sender->height())));
      }
      return;
    }
  } else if (notification.type == QLatin1String(ui::kNotifySelectChanged) && notification.wParam == 1) {
    if (name == QLatin1String("OptIosDevice")) {
      sourceChosen_ = sourceChosen_ || !selectingSource_;
      SelectSource(0);
      return;
    }
    if (name == QLatin1String("OptBackupFile")) {
      sourceChosen_ = sourceChosen_ || !selectingSource_;
      SelectSource(1);
      return;
    }
  }
  CLayoutWnd::Notify(notification);
}

bool CMainWnd::HandleMessage(int message, qintptr wParam, qintptr lParam) {
  switch (message) {
    case kMsgOpenPreviewItem:
      previewPage_->OpenPreviewedItem();
      return true;
    case kMsgLanguageChanged:
      ui::ReapplyLanguageEverywhere();
      return true;
    case kMsgStartScan:
      request_.sourceKind = static_cast<int>(wParam);
      scanPage_->StartScan(request_);
      return true;
    case kMsgCategoryDone:
    case kMsgFirstCategory:
      scanPage_->HandleScanMessage(message, wParam);
      return true;
    case kMsgScanEnded:
      scanPage_->HandleScanMessage(message, wParam);
      // A scan that ended before it began (the source could not be opened)
      // leaves the user on the home page, where they can choose again.
      if (auto* pages = FindControl<QStackedWidget>(QStringLiteral("MainTabPage"));
          pages != nullptr && pages->currentIndex() == 0) {
        backupPage_->EnableControls(true);
      }
      return true;
    case kMsgScanState:
      if (wParam == 0) {
        ShowScanPage();
      } else if (wParam == 1) {
        if (request_.sourceKind == kSourceKindBackup)
          backupPage_->OnWrongPassword();
        else
          devicePage_->OnWrongPassword();
      } else if (wParam == 2) {
        devicePage_->OnDeviceRemoved();
        scanPage_->HandleScanMessage(message, wParam);
      } else {
        scanPage_->HandleScanMessage(message, wParam);
      }
      return true;
    default:
      break;
  }
  return CLayoutWnd::HandleMessage(message, wParam, lParam);
}

}  // namespace corvyn::app
