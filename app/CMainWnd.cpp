#include "app/CMainWnd.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <cstdio>

#include "app/AppLinks.h"
#include "app/AppMessages.h"
#include "app/LanguageStore.h"
#include "app/skin/ControlsSheet.h"
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

CMainWnd::~CMainWnd() = default;

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
  SelectSource(0);
  return kOk;
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
    if (!option->isChecked()) option->setChecked(true);
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
      SelectSource(0);
      return;
    }
    if (name == QLatin1String("OptBackupFile")) {
      SelectSource(1);
      return;
    }
  }
  CLayoutWnd::Notify(notification);
}

bool CMainWnd::HandleMessage(int message, qintptr wParam, qintptr lParam) {
  if (message == kMsgLanguageChanged) {
    ApplyTexts();
    return true;
  }
  return CLayoutWnd::HandleMessage(message, wParam, lParam);
}

}  // namespace corvyn::app
