// The preview pane beside the scan page's result list: layout "PreviewPane".
// It shows the row under the cursor on one page of its switch layout
// ("PreviewSwitch"):
//   "MessagesList"   a message or WhatsApp conversation as speech bubbles
//                    (ConversationView.h)
//   "ContactPage"    a contact card (layout "xml\ContactInfo.xml", texts of
//                    language section "ContactInfo")
//   "PreviewEdit"    a note as formatted text
//   "PreviewLayout"  a picture ("ImageView") or a note about the media file
//                    ("LblPreviewNote")
// Deleted records are drawn orange, live ones dark grey.
//
// Media files are copied by the engine (ExtractForPreview) off the window's
// thread: files of more than 65536 bytes through the progress window
// (CPreviewProcessWnd, whose cancel ends the preview), smaller ones directly.
// The copy's extension gives its kind: "jpg"/"heic" picture, "wav" audio,
// "avi" video; for audio and video the pane waits a second (the players
// just ended need it) before it posts message 1027. The handler of 1027
// calls OpenPreviewedItem, which loads the picture on timer 100 (more than
// five failed tries show "Cannot find the file!"), starts "Player1" beside
// the program for audio, or runs "Player" for video on a worker that reads
// the player's output: a player that ends without printing a "%" never
// played, and message MSG1207 says so.
//
// Before each media preview, and before anything else is shown while a
// player of ours runs, the running players are ended.
#pragma once

#include <QImage>
#include <QString>
#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "app/ConversationView.h"
#include "app/IPreviewPane.h"
#include "platform/Process.h"
#include "ui/CVrtWnd.h"

class QLabel;
class QListView;
class QStackedWidget;
class QTextEdit;

namespace corvyn::app {

class CPreviewVrtWnd final : public ui::CVrtWnd, public IPreviewPane {
 public:
  // What a media preview turned out to be, from the copy's extension.
  enum MediaKind : int { kMediaNone = 0, kMediaImage = 1, kMediaAudio = 2, kMediaVideo = 3 };

  static constexpr uint64_t kDirectCopyLimit = 65536;  // larger files show the progress window
  static constexpr int kImageTimerId = 100;
  static constexpr int kImageRetryMs = 100;
  static constexpr int kImageTries = 5;  // failed loads before the pane gives up
  static constexpr int kPlayerDelayMs = 1000;

  // mainWnd receives message 1027 (open the previewed media item) and calls
  // OpenPreviewedItem; null: the pane posts 1027 to itself. launcher null:
  // the system's.
  CPreviewVrtWnd(ui::CLayoutWnd* mainWnd, platform::IProcessLauncher* launcher = nullptr);
  // Ends its players, joins its workers.
  ~CPreviewVrtWnd() override;

  // LoadLayout("PreviewPane", "PreviewPane") and the contact card into it.
  // kOk or kInvalidData when a layout is missing or lacks a control.
  Status Create();

  void ShowItem(const PreviewItem& item, const ScanResults& results, IPhoneRecoveryParse* engine) override;
  void Clear() override;

  // Message 1027, on the window's thread: shows or plays the copy made for
  // the current media item. Does nothing when no copy is waiting.
  void OpenPreviewedItem();

  // The current media copy and its kind (kMediaNone when there is none).
  MediaKind CurrentMediaKind() const { return mediaKind_; }
  const std::filesystem::path& PreviewPath() const { return previewPath_; }

  void OnLanguageChanged() override;

 protected:
  void Notify(const ui::Notification& notification) override;
  bool HandleMessage(int message, qintptr wParam, qintptr lParam) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // What LblPreviewNote says: a key of the pane's texts and a detail in words.
  struct Note {
    const char* key = nullptr;
    QString detail;
  };

  void ShowPage(QWidget* page);
  void ShowConversation();
  void ShowContact(const ContactRecord& contact);
  void ShowNoteRecord(const NoteRecord& note);
  void ShowMedia(const std::string& path, const std::string& name, uint64_t size);
  void ShowNote(const char* key, const QString& detail = {});
  void RefreshTexts();

  // Ends what the previous item started: the copy waiting to be opened, the
  // image timer, the video worker and (when any of ours may run) the players.
  void StopMedia(bool endPlayers);
  void EndPlayers();
  void JoinExtraction();
  void OnCopied(unsigned generation, const Status& status, const std::filesystem::path& copy);
  void PostOpen(unsigned generation);
  void TryLoadImage();
  void ShowImage();
  void StartAudio();
  void StartVideo();
  void OnPlayerFailed(unsigned generation, const Status& status);

  QString Text(const char* key) const;

  ui::CLayoutWnd* mainWnd_;
  platform::IProcessLauncher& launcher_;
  QStackedWidget* switch_ = nullptr;
  QWidget* imagePage_ = nullptr;
  QLabel* imageView_ = nullptr;
  QLabel* previewNote_ = nullptr;
  QListView* messages_ = nullptr;
  QTextEdit* noteView_ = nullptr;
  QWidget* contactPage_ = nullptr;
  QWidget* contactCard_ = nullptr;
  ConversationModel* conversation_ = nullptr;
  BubbleDelegate* bubbles_ = nullptr;

  PreviewItem item_;
  const ScanResults* results_ = nullptr;
  IPhoneRecoveryParse* engine_ = nullptr;
  Note note_;

  // Media. generation_ grows with every item: late results of an earlier
  // item are dropped.
  std::atomic<unsigned> generation_{0};
  std::thread extraction_;
  std::thread videoWorker_;
  std::atomic<bool> stopVideo_{false};
  std::unique_ptr<platform::IChildProcess> audioPlayer_;
  bool playersMayRun_ = false;
  MediaKind mediaKind_ = kMediaNone;
  std::filesystem::path previewPath_;
  int failedImageLoads_ = 0;
  QImage image_;
};

}  // namespace corvyn::app
