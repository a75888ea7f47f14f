// The one skinned message box. Kinds, their layouts (skin folder "xml") and
// the "Messages" identifiers of their default titles:
//   0 error         MessageBox_Error        MSG0401
//   1 confirmation  MessageBox_Confirm      MSG0402
//   2 information   MessageBox_Information  MSG0403
//   3 question      MessageBox_Question     MSG0404
//   4 warning       MessageBox_Warning      MSG0405
// Each layout has a "title" label, a "message" text and the buttons "okbtn",
// "cancelbtn" and "closebtn". Enter does not close the box; Escape gives 2.
#pragma once

#include <optional>

#include "ui/CPopUpWnd.h"

namespace corvyn::ui {

enum MessageBoxKind : int {
  kMessageBoxError = 0,
  kMessageBoxConfirm = 1,
  kMessageBoxInformation = 2,
  kMessageBoxQuestion = 3,
  kMessageBoxWarning = 4,
};

class CMessageBox : public CPopUpWnd {
 public:
  explicit CMessageBox(QWidget* owner = nullptr) : CPopUpWnd(owner) {}

  // Layout name and default-title identifier of a kind; an unknown kind is
  // treated as information.
  static QString LayoutFor(int kind);
  static const char* DefaultTitleId(int kind);

  // Loads the kind's layout and fills title (the default title when none is
  // given) and message; sized and centred on `owner`. kOk or kInvalidData.
  Status Prepare(int kind, QWidget* owner, const std::optional<QString>& title, const QString& text,
                 int width, int height);

  // Shows a message box modally. Returns 1 for "okbtn", 2 for "cancelbtn",
  // "closebtn" or Escape; 2 also when the layout cannot be loaded.
  static int Show(int kind, QWidget* owner, const std::optional<QString>& title, const QString& text,
                  int width, int height);
};

}  // namespace corvyn::ui
