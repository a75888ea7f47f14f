// The main window "Corvyn": layout "MainWnd", 1000 by 640, centred, with a
// drop shadow. Page 0 of "MainTabPage" is the home page with the option
// buttons "OptIosDevice" and "OptBackupFile" selecting page 0 or 1 of
// "TabPage"; page 1 is the scan page. "BtnAssist" opens the assistant menu
// (help pages, languages, exit). Closing the window ends the program's loop.
#pragma once

#include <memory>

#include "platform/Desktop.h"
#include "platform/Status.h"
#include "ui/CLayoutWnd.h"
#include "ui/CWndShadow.h"

class QMenu;

namespace corvyn::app {

class LanguageStore;

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

 protected:
  void Notify(const ui::Notification& notification) override;
  bool HandleMessage(int message, qintptr wParam, qintptr lParam) override;
  void OnEscape() override {}

 private:
  void ApplyTexts();
  void SelectSource(int source);
  void ChooseLanguage(const std::string& language);
  // Opens a web page in the default browser; a failure is written to stderr.
  void OpenPage(std::string_view address);

  LanguageStore& languages_;
  platform::IDesktop& desktop_;
  ui::CWndShadow shadow_;
  QMenu* assistMenu_ = nullptr;
  int currentSource_ = 0;
};

}  // namespace corvyn::app
