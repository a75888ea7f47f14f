#include "app/CIosDeviceVrtWnd.h"

#include <QLabel>
#include <QStackedWidget>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/AppLinks.h"
#include "app/AppMessages.h"
#include "app/CDecryptionWnd.h"
#include "core/EngineFactory.h"
#include "core/ScanDriver.h"
#include "device/DeviceHelper.h"
#include "device/DeviceScanSetup.h"
#include "device/MobileDeviceLibrary.h"
#include "platform/SpecialFolders.h"
#include "ui/CMessageBox.h"

namespace corvyn::app {

QString DeviceInfoText(const DeviceFacts& device) {
  QString text =
      QString::fromStdString(device.name) + QStringLiteral(" (") + QString::fromStdString(device.deviceClass);
  if (!device.productVersion.empty())
    text += QStringLiteral(" ") + QString::fromStdString(device.productVersion);
  return text + QStringLiteral(")");
}

bool PhoneServicePresent() {
  if (const char* address = std::getenv("USBMUXD_SOCKET_ADDRESS"); address != nullptr && *address != '\0')
    return true;
  std::error_code error;
  for (const char* socket : {"/var/run/usbmuxd", "/run/usbmuxd"}) {
    if (std::filesystem::exists(socket, error)) return true;
  }
  // The daemon is started on demand when a device is plugged in, so its
  // socket is often absent; the program itself lies in a system folder that
  // a user's PATH may leave out.
  if (!QStandardPaths::findExecutable(QStringLiteral("usbmuxd")).isEmpty()) return true;
  return !QStandardPaths::findExecutable(
              QStringLiteral("usbmuxd"),
              {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/local/sbin")})
              .isEmpty();
}

bool DeviceSoftwarePresent() {
  return device::MobileDeviceSoftwarePresent(platform::ProgramDir()) && PhoneServicePresent();
}

CIosDeviceVrtWnd::CIosDeviceVrtWnd(ui::CLayoutWnd& mainWnd, platform::IDesktop& desktop,
                                   std::function<bool()> softwarePresent)
    : mainWnd_(mainWnd),
      desktop_(desktop),
      softwarePresent_(softwarePresent ? std::move(softwarePresent)
                                       : std::function<bool()>(DeviceSoftwarePresent)) {}

CIosDeviceVrtWnd::~CIosDeviceVrtWnd() {
  ReleasePhone();
}

void CIosDeviceVrtWnd::ReleasePhone() {
  phone_.reset();
}

QWidget* CIosDeviceVrtWnd::DialogOwner() const {
  return mainWnd_.window();
}

Status CIosDeviceVrtWnd::Create() {
  const Status status = LoadLayout(QStringLiteral("PageIosDevice"), QStringLiteral("PageIosDevice"));
  if (status != kOk) return Status(kInvalidData, "the device page's layout cannot be loaded");
  auto* tabs = FindControl<QStackedWidget>(QStringLiteral("TabIosDevice"));
  if (tabs == nullptr || tabs->count() < 3) {
    return Status(kInvalidData, "the device page's layout lacks its three pages");
  }
  Update();
  SetTimer(tabs, kTimerId, kTimerIntervalMs);
  return kOk;
}

int CIosDeviceVrtWnd::ShownPage() const {
  auto* tabs = FindControl<QStackedWidget>(QStringLiteral("TabIosDevice"));
  return tabs != nullptr ? tabs->currentIndex() : -1;
}

void CIosDeviceVrtWnd::ShowPage(int page) {
  if (auto* tabs = FindControl<QStackedWidget>(QStringLiteral("TabIosDevice"))) tabs->setCurrentIndex(page);
}

void CIosDeviceVrtWnd::ShowConnectProblem(const QString& words) {
  if (auto* label = FindControl<QLabel>(QStringLiteral("LblConnectProblem"))) {
    label->setText(words);
    label->setVisible(!words.isEmpty());
  }
}

std::optional<DeviceFacts> CIosDeviceVrtWnd::DetectPhone() {
  if (!phone_) {
    ui::CLayoutWnd* main = &mainWnd_;
    std::unique_ptr<device::iPhone> made;
    // Called on the library's thread: posting is safe from any thread.
    const Status created = device::iPhone::Create(
        programFolder, [main] { main->PostPrivateMessage(kMsgScanState, kScanStateDeviceUnreadable); }, made);
    if (created != kOk) {
      ShowConnectProblem(QString::fromStdString(created.Message()));
      return std::nullopt;
    }
    phone_ = std::move(made);
  }
  if (!phone_->DeviceStored()) {
    ShowConnectProblem({});
    return std::nullopt;
  }
  if (!phone_->Connected()) {
    if (const Status connected = phone_->Connect(); connected != kOk) {
      ShowConnectProblem(QString::fromStdString(connected.Message()));
      return std::nullopt;
    }
  }
  ShowConnectProblem({});
  DeviceFacts facts;
  (void)phone_->DeviceValue("DeviceName", facts.name);
  (void)phone_->DeviceValue("DeviceClass", facts.deviceClass);
  (void)phone_->DeviceValue("ProductVersion", facts.productVersion);
  return facts;
}

void CIosDeviceVrtWnd::Update() {
  if (!softwarePresent_()) {
    device_.reset();
    phone_.reset();
    ShowPage(kPageSoftwareMissing);
    return;
  }
  device_ = detectDevice ? detectDevice() : DetectPhone();
  if (!device_.has_value()) {
    ShowPage(kPageConnect);
    return;
  }
  if (auto* info = FindControl<QLabel>(QStringLiteral("IphoneInfo"))) info->setText(DeviceInfoText(*device_));
  if (auto* tabs = FindControl(QStringLiteral("TabIosDevice"))) KillTimer(tabs, kTimerId);
  ShowPage(kPageDeviceReady);
  if (onReady) onReady();
}

void CIosDeviceVrtWnd::OnDeviceRemoved() {
  device_.reset();
  Update();
  if (auto* tabs = FindControl(QStringLiteral("TabIosDevice")); tabs && !device_.has_value()) {
    SetTimer(tabs, kTimerId, kTimerIntervalMs);
  }
}

void CIosDeviceVrtWnd::OnWrongPassword() {
  ui::CMessageBox::Show(ui::kMessageBoxInformation, DialogOwner(), std::nullopt, Message("MSG0302"), 550,
                        180);
  StartDeviceScan();
}

void CIosDeviceVrtWnd::StartDeviceScan() {
  if (!device_.has_value()) return;
  const std::string udid = phone_ ? phone_->StoredUdid() : std::string();
  const device::DeviceHelperSetup setup = device::MakeDeviceHelperSetup(programFolder, udid);
  bool encrypted = false;
  const Status asked =
      askEncryption ? askEncryption(encrypted) : device::AskBackupEncryption(setup, encrypted);
  if (asked != kOk) {
    // Without an answer the phone is taken as one that does not encrypt.
    ui::CMessageBox::Show(ui::kMessageBoxQuestion, DialogOwner(), std::nullopt, Message("MSG0512"), 550, 200);
    encrypted = false;
  }
  std::string password;
  if (encrypted) {
    const bool given =
        askPassword ? askPassword(DialogOwner(), &password) : AskBackupPassword(DialogOwner(), &password);
    if (!given) return;
    const Status checked =
        checkPassword ? checkPassword(password) : device::CheckBackupPassword(setup, password);
    if (checked != kOk) {
      ui::CMessageBox::Show(ui::kMessageBoxInformation, DialogOwner(), std::nullopt, Message("MSG0302"), 550,
                            200);
      return;
    }
  }
  if (request != nullptr) {
    request->sourceKind = kSourceKindDevice;
    request->sourceText = std::move(password);
    request->phone = phone_.get();
    request->deviceUdid = udid;
    request->deviceName = device_->name;
  }
  mainWnd_.PostPrivateMessage(kMsgStartScan, kSourceKindDevice);
}

void CIosDeviceVrtWnd::Notify(const ui::Notification& notification) {
  const QString& name = notification.senderName;
  if (notification.type == QLatin1String(ui::kNotifyTimer) && notification.wParam == kTimerId) {
    Update();
    return;
  }
  if (notification.type == QLatin1String(ui::kNotifyClick)) {
    if (name == QLatin1String("BtnAppleUrl")) {
      const std::string& address = kDeviceSoftwareUrl.Address();
      if (const Status opened = desktop_.OpenInDefaultProgram(address); opened != kOk) {
        std::fprintf(stderr, "corvyn: cannot open %s: %s\n", address.c_str(), opened.Message().c_str());
      }
      return;
    }
    if (name == QLatin1String("BtnItunesRetry")) {
      Update();
      return;
    }
    if (name == QLatin1String("BtnDeviceScan")) {
      StartDeviceScan();
      return;
    }
  }
  ui::CVrtWnd::Notify(notification);
}

}  // namespace corvyn::app
