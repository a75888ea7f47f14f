// The preview pane: conversations as bubbles, the contact card, the note
// view, pictures (JPEG and HEIC), the copy of media files with and without
// the progress window, and the players it starts.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <QImage>
#include <QLabel>
#include <QListView>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTextEdit>
#include <atomic>
#include <fstream>
#include <thread>

#include "AppTestSupport.h"
#include "UiTestSupport.h"
#include "app/AppMessages.h"
#include "app/CPreviewVrtWnd.h"
#include "app/ConversationView.h"
#include "app/LanguageStore.h"
#include "platform/FakeProcessLauncher.h"
#include "platform/SpecialFolders.h"
#include "ui/SkinArchive.h"

namespace corvyn::app {
namespace {
namespace fs = std::filesystem;

// An engine whose preview copy copies the file into its own folder under the
// name the backup engine would choose from the source's extension. With the
// gate closed it reports 50% until the gate opens or it is told to stop.
class CopyingEngine final : public IPhoneRecoveryParse {
 public:
  explicit CopyingEngine(fs::path folder) : folder_(std::move(folder)) { fs::create_directories(folder_); }

  std::atomic<bool> gateClosed{false};
  std::atomic<int> copies{0};
  Status lastResult;

  Status ExtractForPreview(const fs::path& source, fs::path& previewPath, ProgressCallback callback,
                           void* userValue) override {
    ++copies;
    const std::string extension = source.extension().string();
    const char* name = extension == ".wav" ? "tmp.wav" : extension == ".avi" ? "tmp.avi" : "tmp.jpg";
    while (gateClosed.load()) {
      if (callback != nullptr) {
        if (const int answer = callback(userValue, 50); answer != 0) {
          lastResult = static_cast<StatusCode>(answer);
          return lastResult;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // A missing source leaves no copy, though the copy is reported made.
    std::error_code error;
    fs::remove(folder_ / name, error);
    fs::copy_file(source, folder_ / name, fs::copy_options::overwrite_existing, error);
    if (callback != nullptr) callback(userValue, 100);
    previewPath = folder_ / name;
    lastResult = kOk;
    return kOk;
  }

  Status Attach(void*) override { return kOk; }
  Status SetProgressCallback(ProgressCallback, void*) override { return kOk; }
  Status Reserved(void*) override { return kOk; }
  bool IsBackupSource() const override { return true; }
  Status OpenSource(const std::string&) override { return kInvalidData; }
  Status CollectMessages(ConversationMap&) override { return kInvalidData; }
  Status CollectMessageAttachments(std::vector<AttachmentRecord>&) override { return kInvalidData; }
  Status CollectContacts(std::vector<ContactRecord>&) override { return kInvalidData; }
  Status CollectNotes(std::vector<NoteRecord>&) override { return kInvalidData; }
  Status CollectCallHistory(std::vector<CallRecord>&) override { return kInvalidData; }
  Status CollectPhotos(std::vector<MediaFileRecord>&, std::vector<MediaFileRecord>&) override {
    return kInvalidData;
  }
  Status CollectWhatsAppAttachments(std::vector<MediaFileRecord>&) override { return kInvalidData; }
  Status CollectAppFiles(std::vector<AppFileRecord>&) override { return kInvalidData; }
  Status CollectQQ(ChatConversationMap&) override { return kInvalidData; }
  Status CollectWeChat(ChatConversationMap&) override { return kInvalidData; }
  Status CollectWhatsApp(WhatsAppChatMap&) override { return kInvalidData; }
  Status CopyFileWithProgress(const fs::path&, const fs::path&, ProgressCallback, void*) override {
    return kInvalidData;
  }
  Status ExportMessagesCsv(const fs::path&) override { return kInvalidData; }
  Status ExportContactsCsv(const fs::path&) override { return kInvalidData; }
  Status ExportWhatsAppText(int32_t, const fs::path&, ProgressCallback, void*) override {
    return kInvalidData;
  }
  Status ExportQQText(const std::string&, const std::string&, const fs::path&, ProgressCallback,
                      void*) override {
    return kInvalidData;
  }
  Status ExportWeChatText(const std::string&, const std::string&, const fs::path&, ProgressCallback,
                          void*) override {
    return kInvalidData;
  }

 private:
  fs::path folder_;
};

// The fake launcher, also noting in order which players were started and
// which running ones were ended.
class RecordingLauncher final : public platform::IProcessLauncher {
 public:
  platform::FakeProcessLauncher fake;

  Status Start(const platform::ProcessSpec& process,
               std::unique_ptr<platform::IChildProcess>* child) override {
    Note("start " + process.executable.filename().string());
    return fake.Start(process, child);
  }
  int EndProcessesByName(std::string_view name) override {
    const int ended = fake.EndProcessesByName(name);
    if (ended > 0) Note("end " + std::string(name));
    return ended;
  }
  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  void Note(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

// Names the modal windows that come up while it lives, and acts on the first
// one of `layout`.
class ModalWatcher {
 public:
  ModalWatcher(QString layout, std::function<void(QWidget*)> act)
      : layout_(std::move(layout)), act_(std::move(act)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal == last_) return;
      last_ = modal;
      seen_.push_back(modal->objectName());
      if (modal->objectName() == layout_ && act_) std::exchange(act_, nullptr)(modal);
    });
    poll_.start(5);
  }
  const QStringList& Seen() const { return seen_; }

 private:
  QString layout_;
  std::function<void(QWidget*)> act_;
  QTimer poll_;
  QPointer<QWidget> last_;
  QStringList seen_;
};

// A main window that opens the previewed item when message 1027 arrives.
class MainStub final : public ui::CLayoutWnd {
 public:
  CPreviewVrtWnd* pane = nullptr;
  int opens = 0;

 protected:
  bool HandleMessage(int message, qintptr, qintptr) override {
    if (message != kMsgOpenPreviewItem) return false;
    ++opens;
    pane->OpenPreviewedItem();
    return true;
  }
};

// A one-colour HEIC picture; `orientation` is stored beside it (irot/imir),
// as phones do for pictures taken upright.
bool WriteHeic(const fs::path& path, int width, int height, QColor colour,
               heif_orientation orientation = heif_orientation_normal) {
  if (!heif_have_encoder_for_format(heif_compression_HEVC)) return false;
  heif_context* context = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  heif_image* image = nullptr;
  heif_image_handle* handle = nullptr;
  bool ok =
      heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok &&
      heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code ==
          heif_error_Ok &&
      heif_image_add_plane(image, heif_channel_interleaved, width, height, 8).code == heif_error_Ok;
  if (ok) {
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        uint8_t* pixel = plane + y * stride + x * 3;
        pixel[0] = colour.red();
        pixel[1] = colour.green();
        pixel[2] = colour.blue();
      }
    }
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = orientation;
    ok = heif_context_encode_image(context, image, encoder, options, &handle).code == heif_error_Ok &&
         heif_context_write_to_file(context, path.c_str()).code == heif_error_Ok;
    heif_encoding_options_free(options);
  }
  if (handle != nullptr) heif_image_handle_release(handle);
  if (image != nullptr) heif_image_release(image);
  if (encoder != nullptr) heif_encoder_release(encoder);
  heif_context_free(context);
  return ok;
}

// Waits on the event loop (QTRY_* would fail silently under gtest).
template <class Predicate>
bool Wait(Predicate predicate) {
  return corvyn::testing::WaitFor(predicate, 10000);
}

bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
         std::abs(a.blue() - b.blue()) < 24;
}

class PreviewPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corvyn::testing::TestApplication();
    ASSERT_EQ(ui::SkinArchive::LoadCurrent({}), kOk);
    store_ = corvyn::testing::InstallTestLanguages(temp_.Path());
    host_ = std::make_unique<QWidget>();
    host_->resize(330, 500);
    pane_ = std::make_unique<CPreviewVrtWnd>(nullptr, &launcher_);
    ASSERT_EQ(pane_->Create(), kOk);
    pane_->Embed(host_.get());
    host_->show();
  }
  void TearDown() override {
    pane_.reset();
    host_.reset();
    ui::SetTextSource(nullptr);
  }

  template <class T = QWidget>
  T* Control(const char* name) const {
    T* control = pane_->FindControl<T>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QString Page() const { return Control<QStackedWidget>("PreviewSwitch")->currentWidget()->objectName(); }
  QString Note() const { return Control<QLabel>("LblPreviewNote")->text(); }
  QAbstractItemModel* Conversation() const { return Control<QListView>("MessagesList")->model(); }

  fs::path WriteFile(const std::string& name, std::size_t size) {
    const fs::path path = temp_.Path() / name;
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    return path;
  }
  void Show(RecordCategory category, const void* record, IPhoneRecoveryParse* engine = nullptr) {
    pane_->ShowItem({category, record}, results_, engine);
  }

  corvyn::testing::TempFolder temp_{"preview-pane"};
  std::unique_ptr<LanguageStore> store_;
  RecordingLauncher launcher_;
  CopyingEngine engine_{temp_.Path() / "scratch"};
  ScanResults results_;
  std::unique_ptr<QWidget> host_;
  std::unique_ptr<CPreviewVrtWnd> pane_;
};

MessageRecord Message(int sent, int deleted, const char* date, const char* text, const char* name = "") {
  MessageRecord message;
  message.sent = sent;
  message.deleted = deleted;
  message.handleId = 7;
  message.date = date;
  message.address = "+49 170 1234567";
  message.name = name;
  message.text = text;
  return message;
}

TEST_F(PreviewPaneTest, AConversationIsAHeaderRowThenOneBubblePerMessage) {
  results_.conversations[7] = {Message(0, 0, "2024-01-02 10:00:00", "Hello")};
  results_.conversationRows = {results_.conversations[7].back()};
  Show(RecordCategory::kMessages, &results_.conversationRows[0]);
  EXPECT_EQ(Page(), "MessagesList");
  QAbstractItemModel* model = Conversation();
  ASSERT_EQ(model->rowCount(), 2);
  EXPECT_EQ(model->index(0, 0).data().toString(), "-------------------- Messages --------------------");
  EXPECT_EQ(model->index(0, 0).data(Qt::ForegroundRole).value<QColor>(), kHeaderTextColour);
  EXPECT_EQ(model->index(1, 0).data().toString(), "Hello");

  // The whole conversation of the row's handle, in its order.
  results_.conversations[7] = {
      Message(0, 0, "2024-01-02 10:00:00", "Hi there", "Anna Berg"),
      Message(1, 0, "2024-01-02 10:01:00", "Hi Anna"),
      Message(0, 1, "2024-01-02 10:02:00", "Gone but found", ""),
  };
  Show(RecordCategory::kMessages, &results_.conversationRows[0]);
  ASSERT_EQ(model->rowCount(), 4);
  const struct {
    const char* title;
    Qt::Alignment side;
    QColor colour;
  } rows[] = {
      {"2024-01-02 10:00:00 Anna Berg:", Qt::AlignLeft, kLiveTextColour},
      {"2024-01-02 10:01:00 Me:", Qt::AlignRight, kLiveTextColour},
      {"2024-01-02 10:02:00 +49 170 1234567:", Qt::AlignLeft, kDeletedTextColour},
  };
  auto* view = Control<QListView>("MessagesList");
  ASSERT_TRUE(Wait([&] { return view->visualRect(model->index(3, 0)).height() > 0; }));
  const int width = view->viewport()->width();
  auto* delegate = static_cast<BubbleDelegate*>(view->itemDelegate());
  for (int row = 1; row <= 3; ++row) {
    SCOPED_TRACE(row);
    const QModelIndex index = model->index(row, 0);
    const auto& expected = rows[row - 1];
    EXPECT_EQ(index.data(ConversationModel::kTitleRole).toString(), expected.title);
    EXPECT_EQ(index.data(Qt::ForegroundRole).value<QColor>(), expected.colour);
    EXPECT_TRUE(index.data(Qt::TextAlignmentRole).value<Qt::Alignment>() & expected.side);
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.widget = view;
    option.rect = view->visualRect(index);
    const QRect bubble = delegate->BubbleRect(option, index);
    EXPECT_LT(bubble.width(), width - 2 * BubbleDelegate::kMargin);
    if (expected.side == Qt::AlignRight) {
      EXPECT_EQ(bubble.right() + 1, width - BubbleDelegate::kMargin);
    } else {
      EXPECT_EQ(bubble.left(), BubbleDelegate::kMargin);
    }
    EXPECT_TRUE(option.rect.contains(bubble));
  }
}

TEST_F(PreviewPaneTest, WhatsAppBubblesNameTheMemberOrThePartner) {
  auto chat = [](int sent, const char* senderName, const char* memberName, const char* senderId) {
    WhatsAppRecord message;
    message.sessionId = 3;
    message.sent = sent;
    message.date = "2024-03-04 05:06:07";
    message.senderName = senderName;
    message.memberName = memberName;
    message.senderId = senderId;
    message.text = "text";
    return message;
  };
  results_.whatsAppChats[3] = {chat(0, "Partner", "", "49170@s.whatsapp.net"), chat(0, "Group", "Member", ""),
                               chat(1, "Me", "", ""), chat(0, "", "", "49171@s.whatsapp.net")};
  results_.whatsAppChatRows = {results_.whatsAppChats[3].back()};
  Show(RecordCategory::kWhatsApp, &results_.whatsAppChatRows[0]);
  QAbstractItemModel* model = Conversation();
  ASSERT_EQ(model->rowCount(), 5);
  const char* titles[] = {"2024-03-04 05:06:07 Partner:", "2024-03-04 05:06:07 Member:",
                          "2024-03-04 05:06:07 Me:", "2024-03-04 05:06:07 49171@s.whatsapp.net:"};
  for (int row = 1; row <= 4; ++row) {
    EXPECT_EQ(model->index(row, 0).data(ConversationModel::kTitleRole).toString(), titles[row - 1]) << row;
  }
}

TEST_F(PreviewPaneTest, ABubbleIsAsTallAsItsWrappedText) {
  ConversationModel model;
  BubbleDelegate delegate;
  QListView view;
  view.resize(330, 500);
  PrepareConversationView(&view, &model, &delegate);
  view.show();
  const std::string word = "word ";
  std::vector<MessageRecord> messages;
  for (int words : {1, 20, 80}) {
    std::string text;
    for (int i = 0; i < words; ++i) text += word;
    messages.push_back(Message(1, 0, "2024-01-01 00:00:00", text.c_str()));
  }
  messages.push_back(Message(1, 0, "2024-01-01 00:00:00", "line\nline\nline"));
  messages.push_back(Message(1, 0, "2024-01-01 00:00:00", std::string(400, 'x').c_str()));
  model.SetMessages(messages);
  QStyleOptionViewItem option;
  option.initFrom(&view);
  option.widget = &view;
  auto height = [&](int row) { return delegate.sizeHint(option, model.index(row, 0)).height(); };
  EXPECT_EQ(height(0), BubbleDelegate::kHeaderHeight);
  EXPECT_LT(height(1), height(2));
  EXPECT_LT(height(2), height(3));
  EXPECT_LT(height(1), height(4)) << "line breaks count";
  EXPECT_LT(height(1), height(5)) << "a word longer than the bubble wraps too";

  // A narrower view wraps the same text into more lines.
  const int wide = height(3);
  view.resize(200, 500);
  EXPECT_GT(height(3), wide);
}

TEST_F(PreviewPaneTest, TheContactCardHidesEmptyRowsAndColoursADeletedContact) {
  ContactRecord live;
  live.name = "Anna Berg";
  live.phones = "+49 170 1\n+49 170 2";
  live.email = "anna@example.org";
  ContactRecord deleted;
  deleted.deleted = 1;
  deleted.name = "Old Friend";
  deleted.company = "Firm";
  deleted.address = "Street 1\nTown";
  deleted.url = "https://example.org";
  deleted.social = "@old";
  const struct {
    const ContactRecord* contact;
    std::vector<const char*> shown;
    QColor colour;
  } cases[] = {
      {&live, {"TxtPhone", "TxtEmail"}, kLiveTextColour},
      {&deleted, {"TxtAddress", "TxtUrl", "TxtSocial", "TxtCompany"}, kDeletedTextColour},
  };
  const char* values[] = {"TxtPhone", "TxtEmail", "TxtAddress", "TxtUrl", "TxtSocial", "TxtCompany"};
  const char* labels[] = {"LblPhoneDesc", "LblEmailDesc",  "LblAddressDesc",
                          "LblUrlDesc",   "LblSocialDesc", "LblCompanyDesc"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contact->name);
    Show(RecordCategory::kContacts, c.contact);
    EXPECT_EQ(Page(), "ContactPage");
    auto* name = Control<QLabel>("TxtUserName");
    EXPECT_EQ(name->text().toStdString(), c.contact->name);
    name->ensurePolished();
    EXPECT_EQ(name->palette().color(QPalette::WindowText), c.colour);
    for (std::size_t i = 0; i < std::size(values); ++i) {
      const bool shown = std::find_if(c.shown.begin(), c.shown.end(), [&](const char* n) {
                           return std::string(n) == values[i];
                         }) != c.shown.end();
      auto* value = Control<QLabel>(values[i]);
      EXPECT_EQ(value->isVisible(), shown) << values[i];
      EXPECT_EQ(Control<QLabel>(labels[i])->isVisible(), shown) << labels[i];
      if (!shown) continue;
      value->ensurePolished();
      EXPECT_EQ(value->palette().color(QPalette::WindowText), c.colour) << values[i];
    }
  }
  EXPECT_EQ(Control<QLabel>("TxtAddress")->text(), "Street 1\nTown");
  EXPECT_EQ(Control<QLabel>("LblCompanyDesc")->text(), "Company:");
  // Rows take the height of their text.
  EXPECT_GT(Control<QLabel>("TxtAddress")->height(), Control<QLabel>("TxtCompany")->height());
}

TEST_F(PreviewPaneTest, ANoteShowsItsTitleAndBodyOrangeWhenDeleted) {
  for (int deleted : {0, 1}) {
    SCOPED_TRACE(deleted);
    NoteRecord note;
    note.deleted = deleted;
    note.title = "Shopping";
    note.content = "Milk\nBread";
    Show(RecordCategory::kNotes, &note);
    EXPECT_EQ(Page(), "PreviewEdit");
    auto* edit = Control<QTextEdit>("PreviewEdit");
    const QString text = edit->toPlainText();
    EXPECT_EQ(text,
              "  ---------------------------------------------------  \nTitle:\n    Shopping\nNote:\n     "
              "Milk\nBread");
    auto colourAt = [&](const QString& piece) {
      QTextCursor cursor(edit->document());
      cursor.setPosition(text.indexOf(piece) + 1);
      return cursor.charFormat().foreground().color();
    };
    const QColor body = deleted ? kDeletedTextColour : kLiveTextColour;
    EXPECT_EQ(colourAt("Shopping"), body);
    EXPECT_EQ(colourAt("Bread"), body);
    EXPECT_EQ(colourAt("Title:"), kLiveTextColour);
    EXPECT_NE(colourAt("-----"), body);
  }
}

TEST_F(PreviewPaneTest, ANoteNamesItsFolderAndALockedNoteSaysSoInsteadOfItsText) {
  NoteRecord note;
  note.title = "Diary";
  note.folder = "Private";
  note.locked = 1;
  note.content = "never shown";
  Show(RecordCategory::kNotes, &note);
  EXPECT_EQ(
      Control<QTextEdit>("PreviewEdit")->toPlainText(),
      "  ---------------------------------------------------  \nTitle:\n    Diary\nFolder:\n    Private\n"
      "Note:\n     Locked: the note is protected by a password, its text cannot be shown.");
}

TEST_F(PreviewPaneTest, PicturesAreLoadedFittedToThePaneOrReportedMissing) {
  const QColor red(220, 30, 30);
  QImage jpeg(800, 400, QImage::Format_RGB32);
  jpeg.fill(red);
  ASSERT_TRUE(jpeg.save(QString::fromStdString((temp_.Path() / "photo.jpg").string()), "JPG"));
  const bool heic = WriteHeic(temp_.Path() / "IMG_0001.heic", 128, 64, red) &&
                    WriteHeic(temp_.Path() / "IMG_0002.heic", 128, 64, red, heif_orientation_rotate_90_cw);
  if (!heic) std::cerr << "[ SKIPPED ] HEIC case: this libheif has no HEVC encoder to make the fixture\n";

  const struct {
    const char* file;
    bool present;
    QSize picture;  // size of the source picture
  } cases[] = {
      {"photo.jpg", true, {800, 400}},
      {"IMG_0001.heic", heic, {128, 64}},
      {"IMG_0002.heic", heic, {64, 128}},  // turned upright
  };
  for (const auto& c : cases) {
    if (!c.present) continue;
    SCOPED_TRACE(c.file);
    MediaFileRecord photo{fs::file_size(temp_.Path() / c.file), c.file, (temp_.Path() / c.file).string()};
    Show(RecordCategory::kCameraRoll, &photo, &engine_);
    EXPECT_EQ(Page(), "PreviewLayout");
    auto* view = Control<QLabel>("ImageView");
    ASSERT_TRUE(Wait([&] { return !view->pixmap().isNull(); })) << Note().toStdString();
    EXPECT_EQ(pane_->CurrentMediaKind(), CPreviewVrtWnd::kMediaImage);
    EXPECT_EQ(pane_->PreviewPath().filename(), "tmp.jpg") << "the HEIC is known by its content";
    const QImage shown = view->pixmap().toImage();
    EXPECT_LE(shown.width(), view->contentsRect().width());
    EXPECT_LE(shown.height(), view->contentsRect().height());
    // Proportions kept.
    EXPECT_NEAR(double(shown.width()) / shown.height(), double(c.picture.width()) / c.picture.height(), 0.05);
    EXPECT_TRUE(Near(shown.pixelColor(shown.width() / 2, shown.height() / 2), red));
    EXPECT_TRUE(Note().isEmpty());
  }

  // A copy that is not there: five more tries, then the note.
  MediaFileRecord missing{10, "gone.jpg", (temp_.Path() / "gone.jpg").string()};
  Show(RecordCategory::kCameraRoll, &missing, &engine_);
  ASSERT_TRUE(Wait([&] { return Note() == "Cannot find the file!"; })) << Note().toStdString();
  EXPECT_TRUE(Control<QLabel>("ImageView")->pixmap().isNull());
}

TEST_F(PreviewPaneTest, OnlyFilesLargerThan65536BytesShowTheProgressWindow) {
  const struct {
    std::size_t size;
    bool window;
  } cases[] = {{65536, false}, {65537, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const fs::path file = WriteFile("clip" + std::to_string(c.size) + ".jpg", c.size);
    MediaFileRecord record{c.size, file.filename().string(), file.string()};
    engine_.gateClosed = true;
    QString shownName, shownPercent;
    QSize shownSize;
    ModalWatcher watcher("PreviewProcessWnd", [&](QWidget* window) {
      shownSize = window->size();
      shownName = window->findChild<QLabel*>("LblFileName")->text();
      // The window starts at 0%; the engine's report of 50% follows.
      EXPECT_TRUE(Wait([&] { return window->findChild<QLabel*>("LblPercent")->text().endsWith("50%"); }));
      shownPercent = window->findChild<QLabel*>("LblPercent")->text();
      engine_.gateClosed = false;
    });
    // The progress window is modal: it has come and gone when ShowItem returns.
    Show(RecordCategory::kPhotoStream, &record, &engine_);
    EXPECT_EQ(watcher.Seen(), c.window ? QStringList{"PreviewProcessWnd"} : QStringList{});
    if (c.window) {
      EXPECT_EQ(shownSize, QSize(500, 200));
      EXPECT_EQ(shownName.toStdString(), record.name);
      EXPECT_EQ(shownPercent, "Progress: 50%");
    }
    engine_.gateClosed = false;
    ASSERT_TRUE(Wait([&] { return pane_->CurrentMediaKind() == CPreviewVrtWnd::kMediaImage; }));
    EXPECT_EQ(engine_.lastResult, kOk);
  }
}

TEST_F(PreviewPaneTest, CancellingTheProgressWindowEndsThePreview) {
  const fs::path file = WriteFile("big.jpg", 200000);
  MediaFileRecord record{200000, "big.jpg", file.string()};
  engine_.gateClosed = true;
  ModalWatcher watcher("PreviewProcessWnd",
                       [](QWidget* window) { corvyn::testing::ClickButton(window, "BtnCancel"); });
  Show(RecordCategory::kCameraRoll, &record, &engine_);
  EXPECT_EQ(watcher.Seen(), QStringList{"PreviewProcessWnd"});
  EXPECT_EQ(engine_.lastResult, kStopped);
  EXPECT_EQ(pane_->CurrentMediaKind(), CPreviewVrtWnd::kMediaNone);
  EXPECT_EQ(Page(), "PreviewLayout");
  // Nothing is shown: only the hint that a row can be selected.
  EXPECT_EQ(Note(), "Select a row of the list to see it here.");
  QTest::qWait(50);
  EXPECT_TRUE(Control<QLabel>("ImageView")->pixmap().isNull());
}

TEST_F(PreviewPaneTest, MediaWaitForTheEndOfTheScan) {
  MediaFileRecord record{10, "a.jpg", WriteFile("a.jpg", 10).string()};
  Show(RecordCategory::kCameraRoll, &record, nullptr);
  EXPECT_EQ(Note(), "Media files can be previewed when the scan has ended.");
  EXPECT_EQ(engine_.copies, 0);
}

TEST_F(PreviewPaneTest, AudioAndVideoStartThePlayersAndASecondVideoEndsTheFirst) {
  launcher_.fake.Script("Player1", {kOk, "", {true, 0, false, 0}, true});
  launcher_.fake.Script("Player",
                        {kOk, "A:   0.1 (00.1) of 10.0 (10.0)  1.0% \r", {true, 0, false, 0}, true});
  // Through a main window that answers 1027.
  MainStub main;
  auto pane = std::make_unique<CPreviewVrtWnd>(&main, &launcher_);
  main.pane = pane.get();
  ASSERT_EQ(pane->Create(), kOk);
  const fs::path program = platform::ProgramDir();

  AttachmentRecord song{100, "song.wav", WriteFile("song.wav", 100).string()};
  pane->ShowItem({RecordCategory::kMessageAttachments, &song}, results_, &engine_);
  ASSERT_TRUE(Wait([&] { return launcher_.fake.Started().size() == 1u; }));
  EXPECT_EQ(main.opens, 1);
  const fs::path scratch = temp_.Path() / "scratch";
  EXPECT_EQ(launcher_.fake.Started()[0].executable, program / "Player1");
  EXPECT_EQ(launcher_.fake.Started()[0].arguments, std::vector<std::string>{(scratch / "tmp.wav").string()});

  AppFileRecord clip{100, "app", "clip.avi", WriteFile("clip.avi", 100).string()};
  const std::vector<std::string> videoArguments = {"-aspect",
                                                   "16:9",
                                                   "-vo",
                                                   "direct3d",
                                                   "-lavdopts",
                                                   "threads=4",
                                                   "-geometry",
                                                   "845:260",
                                                   "-x",
                                                   "326",
                                                   "-y",
                                                   "189",
                                                   (scratch / "tmp.avi").string()};
  for (int video = 1; video <= 2; ++video) {
    SCOPED_TRACE(video);
    pane->ShowItem({RecordCategory::kAppVideos, &clip}, results_, &engine_);
    ASSERT_TRUE(Wait([&] { return launcher_.fake.Started().size() == 1u + video; }));
    EXPECT_EQ(launcher_.fake.Started().back().executable, program / "Player");
    EXPECT_EQ(launcher_.fake.Started().back().arguments, videoArguments);
  }
  EXPECT_EQ(launcher_.Events(), (std::vector<std::string>{"start Player1", "end Player1", "start Player",
                                                          "end Player", "start Player"}));
  pane.reset();
  EXPECT_EQ(launcher_.Events().back(), "end Player");
}

TEST_F(PreviewPaneTest, AVideoPlayerThatEndsWithoutProgressIsReported) {
  launcher_.fake.Script("Player", {kOk, "Cannot open file.\n", {true, 1, false, 0}, false});
  AppFileRecord clip{100, "app", "clip.avi", WriteFile("clip.avi", 100).string()};
  QString shown;
  bool asked = false;
  ModalWatcher watcher("MessageBox_Information", [&](QWidget* box) {
    asked = true;
    shown = box->findChild<QLabel*>("message")->text();
    corvyn::testing::ClickButton(box, "okbtn");
  });
  Show(RecordCategory::kAppVideos, &clip, &engine_);
  ASSERT_TRUE(Wait([&] { return asked; }));
  EXPECT_EQ(shown, "The media file cannot be played.");
}

TEST_F(PreviewPaneTest, ALanguageChangeRewritesTheShownTexts) {
  results_.conversations[7] = {Message(1, 0, "2024-01-02 10:00:00", "Hallo")};
  results_.conversationRows = {results_.conversations[7].back()};
  Show(RecordCategory::kMessages, &results_.conversationRows[0]);
  ASSERT_EQ(store_->SetLanguage("German"), kOk);
  pane_->OnLanguageChanged();
  EXPECT_EQ(Conversation()->index(0, 0).data().toString(),
            "-------------------- Nachrichten --------------------");
  EXPECT_EQ(Conversation()->index(1, 0).data(ConversationModel::kTitleRole).toString(),
            "2024-01-02 10:00:00 Ich:");
  EXPECT_EQ(Control<QLabel>("LblPhoneDesc")->text(), "Telefon:");
}

// A message that is only a picture shows the picture's name, in the words of
// the chosen language; words beside a picture stay as they are.
TEST_F(PreviewPaneTest, AnAttachmentOnlyMessageShowsItsAttachmentsName) {
  MessageRecord picture = Message(0, 0, "2024-01-02 10:00:00", "\xEF\xBF\xBC");
  picture.attachment = "IMG_0066.HEIC";
  MessageRecord captioned = Message(1, 0, "2024-01-02 10:01:00", "\xEF\xBF\xBC Look");
  captioned.attachment = "IMG_0067.PNG";
  results_.conversations[7] = {picture, captioned};
  results_.conversationRows = {results_.conversations[7].back()};
  Show(RecordCategory::kMessages, &results_.conversationRows[0]);
  EXPECT_EQ(Conversation()->index(1, 0).data().toString(), "[Attachment: IMG_0066.HEIC]");
  EXPECT_EQ(Conversation()->index(2, 0).data().toString(), QString::fromUtf8("\xEF\xBF\xBC Look"));
  ASSERT_EQ(store_->SetLanguage("German"), kOk);
  pane_->OnLanguageChanged();
  EXPECT_EQ(Conversation()->index(1, 0).data().toString(), "[Anhang: IMG_0066.HEIC]");
}

// Saves the pane's pages, skinned, as $CORVYN_SCREENSHOT_DIR/preview-*.png
// (for the documentation).
TEST_F(PreviewPaneTest, Screenshot) {
  const QString folder = qEnvironmentVariable("CORVYN_SCREENSHOT_DIR");
  if (folder.isEmpty()) GTEST_SKIP() << "CORVYN_SCREENSHOT_DIR is not set";
  const auto styleSheet = ui::SkinArchive::Current().Read("skin.qss");
  ASSERT_TRUE(styleSheet.has_value());
  qApp->setStyleSheet(QString::fromUtf8(*styleSheet));
  auto save = [&](const char* name) {
    QCoreApplication::processEvents();
    EXPECT_TRUE(host_->grab().save(folder + "/preview-" + name + ".png")) << name;
  };
  results_.conversations[7] = {
      Message(0, 0, "2024-01-02 10:00:00",
              "Are we still on for lunch tomorrow? I found a new place near the station.", "Anna Berg"),
      Message(1, 0, "2024-01-02 10:01:00", "Yes! 12:30?"),
      Message(0, 1, "2024-01-02 10:02:00", "This one was deleted but found again.", ""),
      Message(1, 0, "2024-01-02 10:03:00", "See you there."),
      Message(0, 0, "2024-01-02 10:04:00", "", "Anna Berg"),
  };
  results_.conversations[7].back().attachment = "IMG_0066.HEIC";
  results_.conversationRows = {results_.conversations[7].back()};
  Show(RecordCategory::kMessages, &results_.conversationRows[0]);
  save("conversation");

  ContactRecord contact;
  contact.name = "Anna Berg";
  contact.phones = "+49 170 1234567\n+49 30 7654321";
  contact.email = "anna@example.org";
  contact.address = "Hauptstraße 1\n10115 Berlin";
  contact.company = "Example GmbH";
  Show(RecordCategory::kContacts, &contact);
  save("contact");

  NoteRecord note;
  note.deleted = 1;
  note.title = "Shopping";
  note.content = "Milk\nBread\nApples";
  Show(RecordCategory::kNotes, &note);
  save("note");
  NoteRecord locked;
  locked.title = "Diary";
  locked.folder = "Private";
  locked.locked = 1;
  Show(RecordCategory::kNotes, &locked);
  save("note-locked");

  QImage picture(600, 400, QImage::Format_RGB32);
  picture.fill(QColor(90, 160, 210));
  ASSERT_TRUE(picture.save(QString::fromStdString((temp_.Path() / "sky.jpg").string()), "JPG"));
  MediaFileRecord photo{fs::file_size(temp_.Path() / "sky.jpg"), "sky.jpg",
                        (temp_.Path() / "sky.jpg").string()};
  Show(RecordCategory::kCameraRoll, &photo, &engine_);
  ASSERT_TRUE(Wait([&] { return !Control<QLabel>("ImageView")->pixmap().isNull(); }));
  save("picture");

  const fs::path big = WriteFile("IMG_0042.MOV", 300000);
  MediaFileRecord movie{300000, "IMG_0042.MOV", big.string()};
  engine_.gateClosed = true;
  ModalWatcher watcher("PreviewProcessWnd", [&](QWidget* window) {
    Wait([&] { return !window->findChild<QLabel*>("LblPercent")->text().isEmpty(); });
    EXPECT_TRUE(window->grab().save(folder + "/preview-progress.png"));
    corvyn::testing::ClickButton(window, "BtnCancel");
  });
  Show(RecordCategory::kCameraRoll, &movie, &engine_);
  qApp->setStyleSheet(QString());
}
}  // namespace
}  // namespace corvyn::app
