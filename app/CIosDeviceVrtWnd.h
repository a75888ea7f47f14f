// The device page of the home page: layout "PageIosDevice", embedded by the
// main window. "TabIosDevice" shows one of three pages:
//   0  the phone-connection service (usbmuxd) is missing: what to install,
//      "BtnAppleUrl" opens the DeviceSoftware link (AppLinks.h),
//      "BtnItunesRetry" tests again;
//   1  connect your device: plug it in, unlock it, trust this computer;
//   2  the device is ready: "IphoneInfo" names it; "BtnDeviceScan" asks the
//      device helper whether the phone encrypts its backups (and, if so,
//      for the backup password, which the phone must accept), fills the
//      scan request and posts message 1031 with wParam 0 to the main window.
// Timer 101 of "TabIosDevice" (every second, from Create until a device is
// ready) tests the software and the device and moves between the pages.
// The phone is reached through the mobile-device library beside the program
// (device/IPhone.h): the first phone that arrives is taken and connected; a
// phone that does not trust this computer yet keeps page 1, with the words
// of the refusal under its text ("LblConnectProblem"). Its removal posts
// message 1035 with wParam 2 to the main window.
#pragma once

#include <QString>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ScanRequest.h"
#include "device/IPhone.h"
#include "platform/Desktop.h"
#include "platform/SpecialFolders.h"
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
// in /usr/sbin, /sbin or /usr/local/sbin; or when USBMUXD_SOCKET_ADDRESS
// names another service (a simulated phone).
bool PhoneServicePresent();

// The device page's software test: the mobile-device library is installed
// beside the program (its registry values and file) and usbmuxd is present.
bool DeviceSoftwarePresent();

class CIosDeviceVrtWnd final : public ui::CVrtWnd {
 public:
  static constexpr int kPageSoftwareMissing = 0;
  static constexpr int kPageConnect = 1;
  static constexpr int kPageDeviceReady = 2;
  static constexpr int kTimerId = 101;
  static constexpr int kTimerIntervalMs = 1000;

  // `mainWnd` and `desktop` are borrowed for the page's life.
  // `softwarePresent` tells whether the phone-connection software is
  // installed (default: DeviceSoftwarePresent).
  CIosDeviceVrtWnd(ui::CLayoutWnd& mainWnd, platform::IDesktop& desktop,
                   std::function<bool()> softwarePresent = {});
  ~CIosDeviceVrtWnd() override;

  // The request "BtnDeviceScan" fills (the main window's); null: none is filled.
  ScanRequest* request = nullptr;
  // Where the mobile-device library and the device helper lie.
  std::filesystem::path programFolder = platform::ProgramDir();

  // Loads the layout, shows page 0 or 1 and starts timer 101. kOk, or
  // kInvalidData when the layout is missing or lacks "TabIosDevice".
  Status Create();
  // 0 software missing, 1 connect your device, 2 device ready.
  int ShownPage() const;

  // Device detection: asked on every tick while the software is present; a
  // device it names moves the page to 2 and stops the timer. Unset (the
  // default), the phone is found through the mobile-device library.
  std::function<std::optional<DeviceFacts>()> detectDevice;
  // The device helper's answers (tests replace them): whether the phone
  // encrypts its backups, and whether it accepts a backup password. Unset,
  // the helper beside the program is asked.
  std::function<Status(bool& encrypted)> askEncryption;
  std::function<Status(const std::string& password)> checkPassword;
  // Asks the user for the backup password; false when cancelled. Unset: the
  // password dialog.
  std::function<bool(QWidget* owner, std::string* password)> askPassword;

  // Called each time a device becomes ready (page 2).
  std::function<void()> onReady;

  // The connected phone (null while none is connected through the library).
  device::iPhone* Phone() const { return phone_.get(); }
  // Lets the library go (before the main window goes): no more removal messages.
  void ReleasePhone();
  // The device went away (message 1035 with wParam 2): forgets it, shows
  // page 0 or 1 and restarts the timer.
  void OnDeviceRemoved();
  // The scan did not accept the backup password (message 1035 with wParam
  // 1): says so and asks again.
  void OnWrongPassword();

 protected:
  void Notify(const ui::Notification& notification) override;
  void OnLanguageChanged() override { ApplyLanguage(); }

 private:
  // Tests the software (and, with it, the device) and shows the page that fits.
  void Update();
  void ShowPage(int page);
  // The phone through the mobile-device library: created on first use,
  // connected once it has arrived; nullopt while none is usable.
  std::optional<DeviceFacts> DetectPhone();
  // Words under the connect page's text; empty hides them.
  void ShowConnectProblem(const QString& words);
  void StartDeviceScan();
  QWidget* DialogOwner() const;

  ui::CLayoutWnd& mainWnd_;
  platform::IDesktop& desktop_;
  std::function<bool()> softwarePresent_;
  std::optional<DeviceFacts> device_;
  std::unique_ptr<device::iPhone> phone_;
};

}  // namespace corvyn::app
