// The base of every small modal window (password dialog, progress windows,
// print window, message boxes): a frameless popup of an owner window,
// centred on it and run modally. A control named "okbtn" closes it with 1,
// "closebtn" or "cancelbtn" (and Escape) with 2; the modal run returns that
// code. Subclasses handle their own controls in Notify and pass the rest on.
#pragma once

#include "ui/CLayoutWnd.h"

namespace corvyn::ui {

inline constexpr int kCloseOk = 1;
inline constexpr int kCloseCancel = 2;

class CPopUpWnd : public CLayoutWnd {
 public:
  explicit CPopUpWnd(QWidget* owner = nullptr);

  // Loads the layout, makes the window `width` by `height` and centres it on
  // `owner` (on the screen when there is none). kOk or kInvalidData.
  Status Create(QWidget* owner, const QString& layoutName, const QString& windowName, int width, int height);

 protected:
  void Notify(const Notification& notification) override;
};

}  // namespace corvyn::ui
