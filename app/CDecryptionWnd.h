// The password dialog of an encrypted backup: layout "xml/DecryptionWnd",
// 550 by 200, modal over its owner.
//
// Controls: "Title", "closebtn", "Description" (MSG0602 for a backup,
// MSG0601 for a device), "LblPassword", "EditPassword" (hidden echo, at most
// 256 characters), "BtnOK" (keeps the typed password and closes with 1; Enter
// in the edit does the same) and "BtnCancel" (closes with 2, as do
// "closebtn" and Escape).
#pragma once

#include <QString>
#include <string>

#include "platform/Status.h"
#include "ui/CPopUpWnd.h"

namespace corvyn::app {

class CDecryptionWnd final : public ui::CPopUpWnd {
 public:
  static constexpr int kWidth = 550, kHeight = 200;
  enum class Purpose { kBackup, kDevice };

  explicit CDecryptionWnd(QWidget* owner, Purpose purpose = Purpose::kBackup);

  // Loads the layout and centres the dialog on its owner. kOk, or
  // kInvalidData when the layout is missing or lacks the password edit.
  Status Create();
  // The password kept by "BtnOK" (empty until then; DoModal returned 1).
  QString Password() const { return password_; }

 protected:
  void Notify(const ui::Notification& notification) override;
  bool HandleMessage(int message, qintptr wParam, qintptr lParam) override;
  void OnLanguageChanged() override { ApplyTexts(); }

 private:
  void ApplyTexts();
  void Confirm();

  Purpose purpose_;
  QString password_;
};

// Asks for a backup's password the way the backup page does: shows the
// dialog until a password is confirmed; an empty one only after the MSG0301
// warning is answered with anything but OK (the scan then goes on without a
// password; OK asks again). Returns false when the user cancelled the dialog
// (or it cannot be shown: the reason is put before the user), leaving
// `password` untouched.
bool AskBackupPassword(QWidget* owner, std::string* password);

}  // namespace corvyn::app
