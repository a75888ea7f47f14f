// The window base of the skinned toolkit. A window loads its layout (a Qt
// Designer form from the skin archive) by name, applies the language section
// named after it, finds its controls by object name and receives
// notifications by event name:
//   "click"          a button was pressed              (wParam 0)
//   "selectchanged"  an option or check box changed     (wParam 1 selected, 0 not)
//   "itemselect"     the current item of a list, tree, table or combo box
//                    changed                           (wParam the row within its
//                                                       parent, -1 none; for a tree,
//                                                       lParam the QTreeWidgetItem*)
//   "windowinit"     the window is shown the first time (sender the window)
//   "timer"          a timer set with SetTimer fired    (wParam the timer id)
// Private window messages keep their numbers: PostPrivateMessage (safe from
// any thread) and SendPrivateMessage deliver them to HandleMessage on the
// window's thread.
//
// Keys: Escape calls OnEscape (default: close with 2); Enter and Return never
// close a window (push buttons are made non-default so they do not catch
// Enter either). Windows are frameless; a control named "caption" drags the
// window, "minbtn" minimises it.
#pragma once

#include <QDialog>
#include <QHash>
#include <QPair>
#include <QPointer>
#include <QString>

#include "platform/Status.h"
#include "ui/TextSource.h"

class QTimer;

namespace corvyn::ui {

inline constexpr const char* kNotifyClick = "click";
inline constexpr const char* kNotifySelectChanged = "selectchanged";
inline constexpr const char* kNotifyItemSelect = "itemselect";
inline constexpr const char* kNotifyWindowInit = "windowinit";
inline constexpr const char* kNotifyTimer = "timer";

struct Notification {
  QString type;
  QWidget* sender = nullptr;
  QString senderName;  // the sender's object name
  qintptr wParam = 0;
  qintptr lParam = 0;
};

// Every live layout window (top-level windows, dialogs and embedded pages) is
// told when the language changes; each re-applies its texts live.
void ReapplyLanguageEverywhere();

// Sets the text of every control of `root` named by a key of `section` to
// that key's text (labels, buttons, edits, group boxes). Hidden controls get
// their text and stay hidden; unknown names are skipped.
void ApplyTexts(QWidget* root, const TextSection& section);

class CLayoutWnd : public QDialog {
 public:
  explicit CLayoutWnd(QWidget* parent = nullptr);
  ~CLayoutWnd() override;

  // Loads `layoutName` from SkinArchive::Current() into this window, names
  // the window `windowName`, applies that language section and connects the
  // controls' notifications. kOk, or kInvalidData when the layout is missing
  // or does not load (the window then stays empty).
  Status LoadLayout(const QString& layoutName, const QString& windowName);

  QWidget* Form() const { return form_; }
  QString WindowName() const { return objectName(); }

  template <class T = QWidget>
  T* FindControl(const QString& name) const {
    return form_ != nullptr ? form_->findChild<T*>(name) : nullptr;
  }

  // Re-applies the window's language section (after a language change).
  void ApplyLanguage();
  // Called on every live window by ReapplyLanguageEverywhere. The default
  // re-applies the section; windows with texts of their own (counts, labels
  // built from messages) override it and re-build them too.
  virtual void OnLanguageChanged() { ApplyLanguage(); }
  // A text of section "Messages" ("MSG0401" and the like).
  static QString Message(const char* id);

  // Connects the notifications of a control created after LoadLayout.
  void ConnectControl(QWidget* control);

  void PostPrivateMessage(int message, qintptr wParam = 0, qintptr lParam = 0);
  bool SendPrivateMessage(int message, qintptr wParam = 0, qintptr lParam = 0);

  // Starts (or restarts) timer `id` of `control`, firing every intervalMs.
  void SetTimer(QWidget* control, int id, int intervalMs);
  void KillTimer(QWidget* control, int id);
  bool HasTimer(QWidget* control, int id) const;

  // Sizes the window and centres it on `owner`'s window (the screen when none).
  void SizeAndCenter(QWidget* owner, int width, int height);
  // Runs the window modally; returns the code given to Close.
  int DoModal() { return exec(); }
  // Ends the window with `code` (the modal run returns it).
  void Close(int code) { done(code); }

  // A window closed by the system (title bar, window manager) ends with 2.
  void reject() override { Close(2); }

 protected:
  virtual void Notify(const Notification& notification);
  // Returns true when the message was handled.
  virtual bool HandleMessage(int message, qintptr wParam, qintptr lParam);
  virtual void OnEscape() { Close(2); }

  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Dispatch(const QString& type, QWidget* sender, qintptr wParam = 0, qintptr lParam = 0);

  QWidget* form_ = nullptr;
  bool initialised_ = false;
  QPoint dragOffset_;
  bool dragging_ = false;
  QHash<QPair<QWidget*, int>, QTimer*> timers_;
};

}  // namespace corvyn::ui
