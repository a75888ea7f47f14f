// A page: a layout window embedded in a host control of another window (the
// home page's tabs, the scan page, the preview pane) instead of standing on
// its own. It loads its layout by name, applies its language section, finds
// its controls and receives notifications exactly like a window; Escape and
// Enter are left to the window around it.
#pragma once

#include "ui/CLayoutWnd.h"

namespace corvyn::ui {

class CVrtWnd : public CLayoutWnd {
 public:
  // `host` receives the page: the page fills it (its layout is replaced by
  // one holding only the page). `host` may be null; Embed places it later.
  explicit CVrtWnd(QWidget* host = nullptr);

  // Moves the page into `host`, filling it.
  void Embed(QWidget* host);

 protected:
  void OnEscape() override {}
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace corvyn::ui
