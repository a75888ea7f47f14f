#include "app/CIosDeviceVrtWnd.h"

#include <QLabel>
#include <QStackedWidget>
#include <QStandardPaths>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/AppLinks.h"
#include "app/AppMessages.h"
#include "core/EngineFactory.h"

namespace corvyn::app {

QString DeviceInfoText(const DeviceFacts& device) {
  QString text =
      QString::fromStdString(device.name) + QStringLiteral(" (") + QString::fromStdString(device.deviceClass);
  if (!device.productVersion.empty())
    text += QStringLiteral(" ") + QString::fromStdString(device.productVersion);
  return text + QStringLiteral(")");
}

bool PhoneServicePresent() {
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

CIosDeviceVrtWnd::CIosDeviceVrtWnd(ui::CLayoutWnd& mainWnd, platform::IDesktop& desktop,
                                   std::function<bool()> softwarePresent)
    : mainWnd_(mainWnd),
      desktop_(desktop),
      softwarePresent_(softwarePresent ? std::move(softwarePresent)
                                       : std::function<bool()>(PhoneServicePresent)) {}

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

void CIosDeviceVrtWnd::Update() {
  if (!softwarePresent_()) {
    device_.reset();
    ShowPage(kPageSoftwareMissing);
    return;
  }
  device_ = detectDevice ? detectDevice() : std::nullopt;
  if (!device_.has_value()) {
    ShowPage(kPageConnect);
    return;
  }
  if (auto* info = FindControl<QLabel>(QStringLiteral("IphoneInfo"))) info->setText(DeviceInfoText(*device_));
  if (auto* tabs = FindControl(QStringLiteral("TabIosDevice"))) KillTimer(tabs, kTimerId);
  ShowPage(kPageDeviceReady);
}

void CIosDeviceVrtWnd::OnDeviceRemoved() {
  device_.reset();
  Update();
  if (auto* tabs = FindControl(QStringLiteral("TabIosDevice")); tabs && !device_.has_value()) {
    SetTimer(tabs, kTimerId, kTimerIntervalMs);
  }
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
      if (device_.has_value()) mainWnd_.PostPrivateMessage(kMsgStartScan, kSourceKindDevice);
      return;
    }
  }
  ui::CVrtWnd::Notify(notification);
}

}  // namespace corvyn::app
