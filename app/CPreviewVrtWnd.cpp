#include "app/CPreviewVrtWnd.h"

#include <QBuffer>
#include <QEvent>
#include <QLabel>
#include <QListView>
#include <QPixmap>
#include <QStackedWidget>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QUiLoader>
#include <QVBoxLayout>
#include <chrono>
#include <cstdio>

#include "app/AppMessages.h"
#include "app/CPreviewProcessWnd.h"
#include "app/HeifImage.h"
#include "platform/SpecialFolders.h"
#include "ui/CMessageBox.h"
#include "ui/SkinArchive.h"
#include "ui/TextSource.h"

namespace corvyn::app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kContactSection = "ContactInfo";
constexpr const char* kAudioPlayer = "Player1";
constexpr const char* kVideoPlayer = "Player";
constexpr std::size_t kOutputChunk = 64 * 1024;
constexpr auto kPlayerPoll = std::chrono::milliseconds(5);
const QColor kRuleColour(0xB4, 0xB4, 0xB4);

constexpr const char* kNoteRule = "  ---------------------------------------------------  ";

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

CPreviewVrtWnd::MediaKind KindOfCopy(const fs::path& copy) {
  const QString extension = QString::fromStdString(copy.extension().string()).toLower();
  if (extension == QLatin1String(".jpg") || extension == QLatin1String(".heic"))
    return CPreviewVrtWnd::kMediaImage;
  if (extension == QLatin1String(".wav")) return CPreviewVrtWnd::kMediaAudio;
  if (extension == QLatin1String(".avi")) return CPreviewVrtWnd::kMediaVideo;
  return CPreviewVrtWnd::kMediaNone;
}

void SetTextColour(QWidget* widget, const QColor& colour) {
  widget->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(colour.name()));
}

}  // namespace

CPreviewVrtWnd::CPreviewVrtWnd(ui::CLayoutWnd* mainWnd, platform::IProcessLauncher* launcher)
    : mainWnd_(mainWnd), launcher_(launcher != nullptr ? *launcher : platform::DefaultProcessLauncher()) {}

CPreviewVrtWnd::~CPreviewVrtWnd() {
  StopMedia(true);
}

Status CPreviewVrtWnd::Create() {
  if (const Status status = LoadLayout(QStringLiteral("PreviewPane"), QStringLiteral("PreviewPane"));
      status != kOk) {
    return status;
  }
  switch_ = FindControl<QStackedWidget>(QStringLiteral("PreviewSwitch"));
  imagePage_ = FindControl(QStringLiteral("PreviewLayout"));
  imageView_ = FindControl<QLabel>(QStringLiteral("ImageView"));
  previewNote_ = FindControl<QLabel>(QStringLiteral("LblPreviewNote"));
  messages_ = FindControl<QListView>(QStringLiteral("MessagesList"));
  noteView_ = FindControl<QTextEdit>(QStringLiteral("PreviewEdit"));
  contactPage_ = FindControl(QStringLiteral("ContactPage"));
  QWidget* contactHost = FindControl(QStringLiteral("ContactHost"));
  if (switch_ == nullptr || imagePage_ == nullptr || imageView_ == nullptr || previewNote_ == nullptr ||
      messages_ == nullptr || noteView_ == nullptr || contactPage_ == nullptr || contactHost == nullptr) {
    return Status(kInvalidData, "the layout PreviewPane lacks a control of the preview pane");
  }

  // The contact card is a layout of its own, placed on its page.
  const ui::SkinArchive& archive = ui::SkinArchive::Current();
  const QString cardEntry = archive.ResolveLayout(QStringLiteral("xml\\ContactInfo.xml"));
  const auto cardBytes = cardEntry.isEmpty() ? std::nullopt : archive.Read(cardEntry);
  if (!cardBytes) return Status(kInvalidData, "the skin holds no contact card layout (xml/ContactInfo.ui)");
  QByteArray content = *cardBytes;
  QBuffer buffer(&content);
  buffer.open(QIODevice::ReadOnly);
  QUiLoader loader;
  contactCard_ = loader.load(&buffer, contactHost);
  if (contactCard_ == nullptr) return Status(kInvalidData, "the contact card layout does not load");
  contactHost->layout()->addWidget(contactCard_);

  conversation_ = new ConversationModel(this);
  bubbles_ = new BubbleDelegate(this);
  PrepareConversationView(messages_, conversation_, bubbles_);
  noteView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  noteView_->document()->setDocumentMargin(10);
  imageView_->installEventFilter(this);
  RefreshTexts();
  Clear();
  return kOk;
}

QString CPreviewVrtWnd::Text(const char* key) const {
  // The texts the pane draws with are hidden labels of its layout ("PaneTexts"):
  // the layout holds the English ones, the language section replaces them.
  const auto* label = FindControl<QLabel>(QLatin1String(key));
  return label != nullptr ? label->text() : QString();
}

void CPreviewVrtWnd::RefreshTexts() {
  ApplyLanguage();
  ui::ApplyTexts(contactCard_, ui::Texts().Section(kContactSection));
  conversation_->SetTexts(
      {Text("MessagesHeader"), Text("SentTitle"), Text("ReceivedTitle"), Text("AttachmentText")});
  if (note_.key != nullptr) ShowNote(note_.key, note_.detail);
  if (item_.category == RecordCategory::kNotes && item_.record != nullptr) {
    ShowNoteRecord(*static_cast<const NoteRecord*>(item_.record));
  }
}

void CPreviewVrtWnd::OnLanguageChanged() {
  if (Form() != nullptr) RefreshTexts();
}

void CPreviewVrtWnd::ShowPage(QWidget* page) {
  switch_->setCurrentWidget(page);
}

void CPreviewVrtWnd::ShowNote(const char* key, const QString& detail) {
  note_ = {key, detail};
  QString text = key != nullptr ? Text(key) : QString();
  if (!detail.isEmpty()) text += QLatin1Char('\n') + detail;
  previewNote_->setText(text);
}

void CPreviewVrtWnd::Clear() {
  StopMedia(playersMayRun_);
  item_ = {};
  results_ = nullptr;
  conversation_->Clear();
  noteView_->clear();
  image_ = QImage();
  imageView_->clear();
  // Nothing shown: the pane says how to fill it.
  ShowNote("NothingSelected");
  ShowPage(imagePage_);
}

void CPreviewVrtWnd::ShowItem(const PreviewItem& item, const ScanResults& results,
                              IPhoneRecoveryParse* engine) {
  Clear();
  if (item.record == nullptr) return;
  ShowNote(nullptr);
  item_ = item;
  results_ = &results;
  engine_ = engine;
  switch (item.category) {
    case RecordCategory::kMessages:
    case RecordCategory::kWhatsApp:
      ShowConversation();
      return;
    case RecordCategory::kContacts:
      ShowContact(*static_cast<const ContactRecord*>(item.record));
      return;
    case RecordCategory::kNotes:
      ShowNoteRecord(*static_cast<const NoteRecord*>(item.record));
      return;
    case RecordCategory::kCameraRoll:
    case RecordCategory::kPhotoStream:
    case RecordCategory::kWhatsAppAttachments: {
      const auto& file = *static_cast<const MediaFileRecord*>(item.record);
      if (engine == nullptr) break;
      ShowMedia(file.path, file.name, file.size);
      return;
    }
    case RecordCategory::kMessageAttachments: {
      const auto& file = *static_cast<const AttachmentRecord*>(item.record);
      if (engine == nullptr) break;
      ShowMedia(file.path, file.name, file.size);
      return;
    }
    case RecordCategory::kAppPhotos:
    case RecordCategory::kAppVideos: {
      const auto& file = *static_cast<const AppFileRecord*>(item.record);
      if (engine == nullptr) break;
      ShowMedia(file.path, file.name, file.size);
      return;
    }
    default:
      // Calls have no preview.
      item_ = {};
      return;
  }
  // A media row while the scan still runs: no engine to copy it yet.
  ShowNote("MediaAfterScan");
}

void CPreviewVrtWnd::ShowConversation() {
  if (item_.category == RecordCategory::kMessages) {
    const auto& row = *static_cast<const MessageRecord*>(item_.record);
    const auto found = results_->conversations.find(row.handleId);
    conversation_->SetMessages(found != results_->conversations.end() ? found->second
                                                                      : std::vector<MessageRecord>{row});
  } else {
    const auto& row = *static_cast<const WhatsAppRecord*>(item_.record);
    const auto found = results_->whatsAppChats.find(row.sessionId);
    conversation_->SetWhatsAppMessages(
        found != results_->whatsAppChats.end() ? found->second : std::vector<WhatsAppRecord>{row});
  }
  ShowPage(messages_);
  messages_->scrollToTop();
}

void CPreviewVrtWnd::ShowContact(const ContactRecord& contact) {
  const QColor colour = contact.deleted != 0 ? kDeletedTextColour : kLiveTextColour;
  auto* name = contactCard_->findChild<QLabel*>(QStringLiteral("TxtUserName"));
  if (name != nullptr) {
    name->setText(FromUtf8(contact.name));
    SetTextColour(name, colour);
  }
  const struct {
    const char* label;
    const char* value;
    const std::string& text;
  } rows[] = {
      {"LblPhoneDesc", "TxtPhone", contact.phones},      {"LblEmailDesc", "TxtEmail", contact.email},
      {"LblAddressDesc", "TxtAddress", contact.address}, {"LblUrlDesc", "TxtUrl", contact.url},
      {"LblSocialDesc", "TxtSocial", contact.social},    {"LblCompanyDesc", "TxtCompany", contact.company},
  };
  for (const auto& row : rows) {
    auto* label = contactCard_->findChild<QLabel*>(QLatin1String(row.label));
    auto* value = contactCard_->findChild<QLabel*>(QLatin1String(row.value));
    if (label == nullptr || value == nullptr) continue;
    const QString text = FromUtf8(row.text).trimmed();
    value->setText(text);
    // The labels wrap to the card's width and take the height of their text.
    label->setVisible(!text.isEmpty());
    value->setVisible(!text.isEmpty());
    SetTextColour(label, colour);
    SetTextColour(value, colour);
  }
  ShowPage(contactPage_);
}

void CPreviewVrtWnd::ShowNoteRecord(const NoteRecord& note) {
  QTextCharFormat rule;
  rule.setForeground(kRuleColour);
  QTextCharFormat heading;
  heading.setForeground(kLiveTextColour);
  heading.setFontWeight(QFont::Bold);
  QTextCharFormat body;
  body.setForeground(note.deleted != 0 ? kDeletedTextColour : kLiveTextColour);

  noteView_->clear();
  QTextCursor cursor(noteView_->document());
  cursor.insertText(QString::fromLatin1(kNoteRule), rule);
  cursor.insertText(QStringLiteral("\n"), heading);
  cursor.insertText(Text("NoteTitle") + QLatin1Char('\n'), heading);
  cursor.insertText(QStringLiteral("    ") + FromUtf8(note.title), body);
  cursor.insertText(QStringLiteral("\n"), heading);
  if (!note.folder.empty()) {
    cursor.insertText(Text("NoteFolder") + QLatin1Char('\n'), heading);
    cursor.insertText(QStringLiteral("    ") + FromUtf8(note.folder), body);
    cursor.insertText(QStringLiteral("\n"), heading);
  }
  cursor.insertText(Text("NoteBody") + QStringLiteral("\n "), heading);
  cursor.insertText(QStringLiteral("    ") + (note.locked != 0 ? Text("NoteLocked") : FromUtf8(note.content)),
                    body);
  noteView_->moveCursor(QTextCursor::Start);
  ShowPage(noteView_);
}

// --- Media ------------------------------------------------------------------

void CPreviewVrtWnd::ShowMedia(const std::string& path, const std::string& name, uint64_t size) {
  ShowPage(imagePage_);
  EndPlayers();
  const unsigned generation = generation_.load();
  if (size > kDirectCopyLimit) {
    ShowNote("Preparing");
    CPreviewProcessWnd progress(this, *engine_, fs::path(path), FromUtf8(name));
    if (const Status status = progress.Create(); status != kOk) {
      ShowNote("CannotPreview", QString::fromStdString(status.Message()));
      return;
    }
    progress.DoModal();
    if (progress.Result() == kStopped) {
      // A cancelled copy ends the preview.
      Clear();
      return;
    }
    OnCopied(generation, progress.Result(), progress.PreviewPath());
    return;
  }
  ShowNote("Preparing");
  IPhoneRecoveryParse* engine = engine_;
  extraction_ = std::thread([this, engine, generation, source = fs::path(path)] {
    fs::path copy;
    const Status status = ExtractPreviewCopy(*engine, source, copy, nullptr, nullptr);
    QMetaObject::invokeMethod(
        this, [this, generation, status, copy] { OnCopied(generation, status, copy); }, Qt::QueuedConnection);
  });
}

void CPreviewVrtWnd::OnCopied(unsigned generation, const Status& status, const fs::path& copy) {
  if (generation != generation_.load()) return;  // an earlier item's copy
  JoinExtraction();
  if (!status.ok()) {
    ShowNote("CannotPreview", QString::fromStdString(status.Message()));
    return;
  }
  const MediaKind kind = KindOfCopy(copy);
  if (kind == kMediaNone) {
    ShowNote("CannotPreview");
    return;
  }
  previewPath_ = copy;
  mediaKind_ = kind;
  if (kind == kMediaImage) {
    PostOpen(generation);
    return;
  }
  // Players ended just before the copy need a moment to let go of it.
  QTimer::singleShot(kPlayerDelayMs, this, [this, generation] { PostOpen(generation); });
}

void CPreviewVrtWnd::PostOpen(unsigned generation) {
  if (generation != generation_.load()) return;
  if (mainWnd_ != nullptr) {
    mainWnd_->PostPrivateMessage(kMsgOpenPreviewItem);
  } else {
    PostPrivateMessage(kMsgOpenPreviewItem);
  }
}

void CPreviewVrtWnd::OpenPreviewedItem() {
  switch (mediaKind_) {
    case kMediaImage:
      failedImageLoads_ = 0;
      SetTimer(imageView_, kImageTimerId, kImageRetryMs);
      return;
    case kMediaAudio:
      StartAudio();
      return;
    case kMediaVideo:
      StartVideo();
      return;
    default:
      return;
  }
}

void CPreviewVrtWnd::TryLoadImage() {
  if (mediaKind_ != kMediaImage) {
    KillTimer(imageView_, kImageTimerId);
    return;
  }
  QString error;
  QImage image = LoadPreviewImage(QString::fromStdString(previewPath_.string()), &error);
  if (!image.isNull()) {
    KillTimer(imageView_, kImageTimerId);
    image_ = std::move(image);
    ShowNote(nullptr);
    ShowImage();
    return;
  }
  if (++failedImageLoads_ <= kImageTries) return;
  KillTimer(imageView_, kImageTimerId);
  std::error_code ignored;
  if (fs::exists(previewPath_, ignored)) {
    ShowNote("ImageUnreadable", error);
  } else {
    ShowNote("FileMissing");
  }
}

void CPreviewVrtWnd::ShowImage() {
  if (image_.isNull()) return;
  QSize box = imageView_->contentsRect().size();
  if (box.width() < 16 || box.height() < 16) box = size();
  imageView_->setPixmap(QPixmap::fromImage(FitInto(image_, box)));
}

bool CPreviewVrtWnd::eventFilter(QObject* watched, QEvent* event) {
  if (watched == imageView_ && event->type() == QEvent::Resize && !image_.isNull()) ShowImage();
  return ui::CVrtWnd::eventFilter(watched, event);
}

void CPreviewVrtWnd::StartAudio() {
  platform::ProcessSpec command;
  command.executable = platform::ProgramDir() / kAudioPlayer;
  command.arguments = {previewPath_.string()};
  playersMayRun_ = true;
  if (const Status status = launcher_.Start(command, &audioPlayer_); status != kOk) {
    OnPlayerFailed(generation_.load(), status);
    return;
  }
  ShowNote("AudioPlaying");
}

void CPreviewVrtWnd::StartVideo() {
  platform::ProcessSpec command;
  command.executable = platform::ProgramDir() / kVideoPlayer;
  command.arguments = {"-aspect", "16:9", "-vo", "direct3d", "-lavdopts", "threads=4",          "-geometry",
                       "845:260", "-x",   "326", "-y",       "189",       previewPath_.string()};
  playersMayRun_ = true;
  ShowNote("VideoPlaying");
  const unsigned generation = generation_.load();
  stopVideo_.store(false);
  videoWorker_ = std::thread([this, command, generation] {
    std::unique_ptr<platform::IChildProcess> player;
    if (const Status status = launcher_.Start(command, &player); status != kOk) {
      QMetaObject::invokeMethod(
          this, [this, generation, status] { OnPlayerFailed(generation, status); }, Qt::QueuedConnection);
      return;
    }
    // The player prints its progress ("...%"); only whether a "%" came matters,
    // so the output is read and dropped, keeping the pipe from filling up.
    bool started = false;
    std::string chunk;
    while (!stopVideo_.load()) {
      chunk.clear();
      bool endOfOutput = false;
      if (player->ReadOutput(&chunk, kOutputChunk, std::chrono::milliseconds(0), &endOfOutput) != kOk) break;
      if (chunk.find('%') != std::string::npos) started = true;
      if (endOfOutput) break;
      if (chunk.empty()) {
        if (!player->IsRunning()) break;
        std::this_thread::sleep_for(kPlayerPoll);
      }
    }
    if (stopVideo_.load()) (void)player->Kill();
    platform::ExitStatus exit;
    (void)player->Wait(std::chrono::milliseconds(1000), &exit);  // reaps it; the status says nothing more
    if (!started && !stopVideo_.load()) {
      QMetaObject::invokeMethod(
          this, [this, generation] { OnPlayerFailed(generation, kOk); }, Qt::QueuedConnection);
    }
  });
}

void CPreviewVrtWnd::OnPlayerFailed(unsigned generation, const Status& status) {
  if (generation != generation_.load()) return;
  ShowNote(nullptr);
  QString text = Message("MSG1207");
  if (!status.ok()) {
    std::fprintf(stderr, "corvyn: the media player cannot start: %s\n", status.Message().c_str());
    text += QLatin1Char('\n') + QString::fromStdString(status.Message());
  }
  ui::CMessageBox::Show(ui::kMessageBoxInformation, window(), std::nullopt, text, 500, 200);
}

void CPreviewVrtWnd::EndPlayers() {
  audioPlayer_.reset();
  launcher_.EndProcessesByName(kVideoPlayer);
  launcher_.EndProcessesByName(kAudioPlayer);
  playersMayRun_ = false;
}

void CPreviewVrtWnd::JoinExtraction() {
  if (extraction_.joinable()) extraction_.join();
}

void CPreviewVrtWnd::StopMedia(bool endPlayers) {
  ++generation_;
  if (Form() != nullptr && imageView_ != nullptr) KillTimer(imageView_, kImageTimerId);
  mediaKind_ = kMediaNone;
  previewPath_.clear();
  failedImageLoads_ = 0;
  JoinExtraction();
  // The video worker is told first, so that the end of its player is not
  // taken for a player that never started.
  stopVideo_.store(true);
  if (endPlayers) EndPlayers();
  if (videoWorker_.joinable()) videoWorker_.join();
  stopVideo_.store(false);
}

void CPreviewVrtWnd::Notify(const ui::Notification& notification) {
  if (notification.type == QLatin1String(ui::kNotifyTimer) && notification.sender == imageView_ &&
      notification.wParam == kImageTimerId) {
    TryLoadImage();
    return;
  }
  ui::CVrtWnd::Notify(notification);
}

bool CPreviewVrtWnd::HandleMessage(int message, qintptr wParam, qintptr lParam) {
  if (message == kMsgOpenPreviewItem) {
    OpenPreviewedItem();
    return true;
  }
  if (message == kMsgLanguageChanged) {
    OnLanguageChanged();
    return true;
  }
  return ui::CVrtWnd::HandleMessage(message, wParam, lParam);
}

}  // namespace corvyn::app
