// The device page of the home page: layout "PageIosDevice", embedded by the
// main window. "TabIosDevice" shows one of three pages:
//   0  the phone-connection service (usbmuxd) is missing: what to install,
//      "BtnAppleUrl" opens the DeviceSoftware link (AppLinks.h),
//      "BtnItunesRetry" tests again;
//   1  connect your device: plug it in, unlock it, trust this computer;
//   2  the device is ready: "IphoneInfo" names it, "BtnDeviceScan" posts
//      message 1031 with wParam 0 to the main window.
// Timer 101 of "TabIosDevice" (every second, from Create until a device is
// ready) tests the service and the device and moves between the pages.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "platform/Desktop.h"
#include "platform/Status.h"
#include "ui/CVrtWnd.h"

namespace corvyn::app {

// What the device page shows of a connected device.
struct DeviceFacts {
  std::string name;            // "DeviceName", as the owner named it
  std::string deviceClass;     // "DeviceClass": iPhone, iPad, iPod
  std::string productVersion;  // "ProductVersion": the system version; may be empty
};

// "name (class version)"; without a version "name (class)".
QString DeviceInfoText(const DeviceFacts& device);

// True when the usbmuxd service is installed: its socket /var/run/usbmuxd
// (or /run/usbmuxd) exists, or an executable "usbmuxd" is found on PATH or
// in /usr/sbin, /sbin or /usr/local/sbin.
bool PhoneServicePresent();

class CIosDeviceVrtWnd final : public ui::CVrtWnd {
 public:
  static constexpr int kPageSoftwareMissing = 0;
  static constexpr int kPageConnect = 1;
  static constexpr int kPageDeviceReady = 2;
  static constexpr int kTimerId = 101;
  static constexpr int kTimerIntervalMs = 1000;

  // `mainWnd` and `desktop` are borrowed for the page's life.
  // `softwarePresent` tells whether the phone-connection software is
  // installed (default: PhoneServicePresent).
  CIosDeviceVrtWnd(ui::CLayoutWnd& mainWnd, platform::IDesktop& desktop,
                   std::function<bool()> softwarePresent = {});

  // Loads the layout, shows page 0 or 1 and starts timer 101. kOk, or
  // kInvalidData when the layout is missing or lacks "TabIosDevice".
  Status Create();
  // 0 software missing, 1 connect your device, 2 device ready.
  int ShownPage() const;

  // Device detection (hook for the device connection to come): asked on
  // every tick while the software is present; a device it names moves the
  // page to 2 and stops the timer. Unset (the default), no device is ever
  // found and the page stays between 0 and 1.
  std::function<std::optional<DeviceFacts>()> detectDevice;
  // The device went away (message 1035 with wParam 2): forgets it, shows
  // page 0 or 1 and restarts the timer.
  void OnDeviceRemoved();

 protected:
  void Notify(const ui::Notification& notification) override;
  void OnLanguageChanged() override { ApplyLanguage(); }

 private:
  // Tests the software (and, with it, the device) and shows the page that fits.
  void Update();
  void ShowPage(int page);

  ui::CLayoutWnd& mainWnd_;
  platform::IDesktop& desktop_;
  std::function<bool()> softwarePresent_;
  std::optional<DeviceFacts> device_;
};

}  // namespace corvyn::app
