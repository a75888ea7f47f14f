// The print window over scan results built in memory: the page it shows and
// prints, the PDF it saves, the cancel question, Escape, and its failures.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "AppTestSupport.h"
#include "UiTestSupport.h"
#include "app/AppMessages.h"
#include "app/CPrintWnd.h"
#include "app/LanguageStore.h"
#include "ui/SkinArchive.h"

namespace corvyn::app {
namespace {
namespace fs = std::filesystem;

// Two records of each of two categories, the second deleted; all checked.
struct Scan {
  ScanResults results;
  CStatisticsObj statistics;

  Scan() {
    results.contacts = {Contact(0, "Bob Live", "+4911"), Contact(1, "Carl Gone", "+4922")};
    NoteRecord note;
    note.title = "Shopping";
    note.content = "Milk";
    NoteRecord deletedNote;
    deletedNote.deleted = 1;
    deletedNote.title = "Secret";
    deletedNote.content = "Old text";
    results.notes = {note, deletedNote};
    WhatsAppRecord chat;
    chat.sessionId = 3;
    chat.chatTitle = "Family";
    chat.senderName = "Fay";
    chat.senderId = "31600@s.whatsapp.net";
    results.whatsAppChatRows = {chat};
    results.whatsAppChats[3] = {Chat(1, "Me", "2022-03-03 08:00:00", "Morning!\nAre you up?"),
                                Chat(0, "Fay", "2022-03-03 08:05:00", "Yes <b>just</b> now")};
    Register(RecordCategory::kContacts, results.contacts);
    Register(RecordCategory::kNotes, results.notes);
    Register(RecordCategory::kWhatsApp, results.whatsAppChatRows);
  }
  static ContactRecord Contact(int deleted, std::string name, std::string phones) {
    ContactRecord contact;
    contact.deleted = deleted;
    contact.name = std::move(name);
    contact.phones = std::move(phones);
    contact.company = "Acme & Sons";
    return contact;
  }
  static WhatsAppRecord Chat(int sent, std::string senderName, std::string date, std::string text) {
    WhatsAppRecord message;
    message.sent = sent;
    message.senderName = std::move(senderName);
    message.date = std::move(date);
    message.text = std::move(text);
    return message;
  }
  template <class Record>
  void Register(RecordCategory category, const std::vector<Record>& records) {
    std::vector<CStatisticsObj::Item> items;
    for (const Record& record : records) items.push_back({&record, kMinimumRecordWeight, record.deleted});
    statistics.RegisterCategory(category, results.ContainerOf(category), items);
  }
};

class PrintWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corvyn::testing::TestApplication();
    ASSERT_EQ(ui::SkinArchive::LoadCurrent({}), kOk);
    const fs::path bin = CORVYN_BIN_DIR;
    store_ = corvyn::testing::InstallTestLanguages(temp_.Path());
    paths_.templatePath = bin / "template" / "Print.html";
    paths_.folder = temp_.Path() / "Print";
    owner_ = std::make_unique<QWidget>();
    owner_->setGeometry(100, 100, 1000, 700);
    owner_->show();
  }
  void TearDown() override {
    release_ = true;
    window_.reset();
    owner_.reset();
    ui::SetTextSource(nullptr);
  }

  // A window whose print dialog is answered "cancel" and counted.
  CPrintWnd& MakeWindow(RecordCategory category, bool onlyDeleted = false) {
    window_ = std::make_unique<CPrintWnd>(owner_.get(), scan_.results, scan_.statistics, category,
                                          onlyDeleted, paths_);
    window_->askPrinter = [this](QPrinter&) {
      ++printDialogs_;
      return false;
    };
    EXPECT_EQ(window_->Create(), kOk);
    return *window_;
  }
  // The worker stops before its first record until released (or cancelled).
  void HoldWorker(CPrintWnd& window) {
    window.onEachRecord = [this, &window] {
      reached_ = true;
      while (!release_ && !window.Cancelling()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
  }
  bool PageShown() const { return window_->FindControl<QStackedWidget>("PrintTabPage")->currentIndex() == 1; }
  QString PageText() const { return window_->FindControl<QTextBrowser>("WebPagePrint")->toPlainText(); }
  QString Message(const char* id) const { return QString::fromStdString(store_->Text("Messages", id)); }

  corvyn::testing::TempFolder temp_{"print-window"};
  std::unique_ptr<LanguageStore> store_;
  exporting::PrintPaths paths_;
  Scan scan_;
  std::unique_ptr<QWidget> owner_;
  std::unique_ptr<CPrintWnd> window_;
  int printDialogs_ = 0;
  std::atomic<bool> reached_{false}, release_{false};
};

TEST_F(PrintWindowTest, ShowsThePageAndOpensThePrintDialogOnceByItself) {
  CPrintWnd& window = MakeWindow(RecordCategory::kContacts);
  EXPECT_EQ(window.size(), QSize(800, 600));
  EXPECT_LE((window.geometry().center() - owner_->frameGeometry().center()).manhattanLength(), 2);
  window.show();
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return PageShown(); }));
  for (const char* text : {"Name:", "Bob Live", "Carl Gone", "Phone Number:", "+4922", "Acme & Sons"}) {
    EXPECT_TRUE(PageText().contains(text)) << text << "\n" << PageText().toStdString();
  }
  EXPECT_FALSE(window.FindControl("LblNotice")->isVisible());
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return printDialogs_ == 1; }));

  // Printing again is the user's choice; the page goes to the chosen printer.
  const QString printed = QString::fromStdString((temp_.Path() / "printed.pdf").string());
  window.askPrinter = [&](QPrinter& printer) {
    ++printDialogs_;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(printed);
    return true;
  };
  testing::ClickButton(&window, "BtnPrint");
  EXPECT_EQ(printDialogs_, 2);
  EXPECT_GT(QFileInfo(printed).size(), 1000);

  testing::ClickButton(&window, "closebtn");
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), 1);
  EXPECT_EQ(printDialogs_, 2);
}

TEST_F(PrintWindowTest, OnlyDeletedPrintsOnlyTheDeletedRecords) {
  const struct {
    bool onlyDeleted;
    bool showsLive;
  } cases[] = {{false, true}, {true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.onlyDeleted);
    CPrintWnd& window = MakeWindow(RecordCategory::kNotes, c.onlyDeleted);
    window.show();
    ASSERT_TRUE(corvyn::testing::WaitFor([&] { return PageShown(); }));
    EXPECT_TRUE(PageText().contains("Secret"));
    EXPECT_TRUE(PageText().contains("Old text"));
    EXPECT_EQ(PageText().contains("Shopping"), c.showsLive);
    EXPECT_TRUE(window.PagePath().string().starts_with(paths_.folder.string()));
  }
}

TEST_F(PrintWindowTest, SavesThePageAsPdfAndSaysWhenItCannot) {
  CPrintWnd& window = MakeWindow(RecordCategory::kContacts);
  window.show();
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return PageShown() && printDialogs_ == 1; }));

  const fs::path pdf = temp_.Path() / "contacts.pdf";
  window.askPdfPath = [&](QWidget*) { return QString::fromStdString(pdf.string()); };
  testing::ClickButton(&window, "BtnPdf");
  std::ifstream file(pdf, std::ios::binary);
  std::string start(4, '\0');
  file.read(start.data(), 4);
  EXPECT_EQ(start, "%PDF");
  EXPECT_GT(fs::file_size(pdf), 1000u);

  const fs::path nowhere = temp_.Path() / "no such folder" / "contacts.pdf";
  window.askPdfPath = [&](QWidget*) { return QString::fromStdString(nowhere.string()); };
  QString shown;
  testing::WhenModalShows("MessageBox_Error", [&](QWidget* box) {
    shown = box->findChild<QLabel*>("message")->text();
    testing::ClickButton(box, "okbtn");
  });
  testing::ClickButton(&window, "BtnPdf");
  EXPECT_TRUE(shown.contains(QString::fromStdString(nowhere.string()))) << shown.toStdString();
  EXPECT_TRUE(window.isVisible());

  // A cancelled save dialog writes nothing and says nothing.
  window.askPdfPath = [](QWidget*) { return QString(); };
  testing::ClickButton(&window, "BtnPdf");
  EXPECT_TRUE(window.isVisible());
}

TEST_F(PrintWindowTest, ClosingWhileCollectingAsksFirst) {
  const struct {
    const char* answer;
    bool cancelled;
  } cases[] = {{"okbtn", true}, {"cancelbtn", false}, {"closebtn", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    reached_ = false;
    release_ = false;
    CPrintWnd& window = MakeWindow(RecordCategory::kContacts);
    HoldWorker(window);
    window.show();
    ASSERT_TRUE(corvyn::testing::WaitFor([&] { return reached_.load(); }));

    bool asked = false;
    testing::WhenModalShows("MessageBox_Warning", [&](QWidget* box) {
      asked = true;
      EXPECT_EQ(box->size(), QSize(550, 200));
      EXPECT_EQ(box->findChild<QLabel*>("message")->text(), Message("MSG0903"));
      // Let the worker go on: it halts at its next record while the question is open.
      release_ = true;
      testing::ClickButton(box, c.answer);
    });
    testing::ClickButton(&window, "closebtn");
    EXPECT_TRUE(asked);
    if (c.cancelled) {
      EXPECT_FALSE(window.isVisible());
      EXPECT_EQ(window.result(), 2);
      EXPECT_TRUE(window.Result().IsStopped());
      EXPECT_TRUE(window.PagePath().empty());
      EXPECT_EQ(printDialogs_, 0);
    } else {
      EXPECT_TRUE(window.isVisible());
      ASSERT_TRUE(corvyn::testing::WaitFor([&] { return PageShown() && printDialogs_ == 1; }));
      EXPECT_TRUE(PageText().contains("Bob Live"));
      printDialogs_ = 0;
    }
  }
}

TEST_F(PrintWindowTest, EscapeClosesWithTwoAndEnterDoesNothing) {
  for (bool whileCollecting : {true, false}) {
    SCOPED_TRACE(whileCollecting);
    release_ = !whileCollecting;
    CPrintWnd& window = MakeWindow(RecordCategory::kContacts);
    HoldWorker(window);
    bool stillOpenAfterEnter = false;
    testing::WhenModalShows("PrintWnd", [&](QWidget* shown) {
      if (!whileCollecting) {
        EXPECT_TRUE(corvyn::testing::WaitFor([&] { return PageShown() && printDialogs_ == 1; }));
      } else {
        EXPECT_TRUE(corvyn::testing::WaitFor([&] { return reached_.load(); }));
      }
      QTest::keyClick(shown, Qt::Key_Return);
      QTest::keyClick(shown, Qt::Key_Enter);
      stillOpenAfterEnter = shown->isVisible();
      QTest::keyClick(shown, Qt::Key_Escape);
    });
    EXPECT_EQ(window.DoModal(), 2);
    EXPECT_TRUE(stillOpenAfterEnter);
    EXPECT_EQ(window.Result().IsStopped(), whileCollecting);
    printDialogs_ = 0;
  }
}

TEST_F(PrintWindowTest, FailuresAreShownInWords) {
  // A folder that cannot be made: a file holds its place.
  const fs::path blocked = temp_.Path() / "blocked";
  std::ofstream(blocked) << "a file, not a folder";
  const struct {
    const char* name;
    RecordCategory category;
    fs::path folder;
    std::function<bool(const QString&)> expected;
  } cases[] = {
      {"a category that does not print", RecordCategory::kCameraRoll, paths_.folder,
       [&](const QString& text) { return text == Message("MSG0906"); }},
      {"a page that cannot be written", RecordCategory::kContacts, blocked / "Print",
       [&](const QString& text) {
         return text.contains(QString::fromStdString((blocked / "Print").string()));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    paths_.folder = c.folder;
    CPrintWnd& window = MakeWindow(c.category);
    QString shown;
    testing::WhenModalShows("MessageBox_Error", [&](QWidget* box) {
      shown = box->findChild<QLabel*>("message")->text();
      testing::ClickButton(box, "okbtn");
    });
    EXPECT_EQ(window.DoModal(), 2);
    EXPECT_TRUE(c.expected(shown)) << shown.toStdString();
    EXPECT_EQ(printDialogs_, 0);
  }

  // A template that cannot be read: the records alone, with a note saying why.
  paths_.folder = temp_.Path() / "Print";
  paths_.templatePath = temp_.Path() / "missing" / "Print.html";
  CPrintWnd& window = MakeWindow(RecordCategory::kContacts);
  window.show();
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return PageShown(); }));
  EXPECT_TRUE(PageText().contains("Bob Live"));
  auto* notice = window.FindControl<QLabel>("LblNotice");
  EXPECT_TRUE(notice->isVisible());
  EXPECT_TRUE(notice->text().contains(QString::fromStdString(paths_.templatePath.string())))
      << notice->text().toStdString();
}

TEST_F(PrintWindowTest, ALanguageChangeRewritesTheTexts) {
  CPrintWnd& window = MakeWindow(RecordCategory::kContacts);
  window.show();
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return PageShown(); }));
  EXPECT_EQ(window.FindControl<QPushButton>("BtnPdf")->text(), "Save as PDF");
  ASSERT_EQ(store_->SetLanguage("German"), kOk);
  window.PostPrivateMessage(kMsgLanguageChanged);
  ASSERT_TRUE(corvyn::testing::WaitFor(
      [&] { return window.FindControl<QPushButton>("BtnPdf")->text() == "Als PDF speichern"; }));
  EXPECT_EQ(window.FindControl<QPushButton>("BtnPrint")->text(), "Drucken");
  EXPECT_EQ(window.FindControl<QLabel>("title")->text(), "Drucken");
}

// Saves the window, skinned, while collecting and with the page, as
// $CORVYN_SCREENSHOT_DIR/print-window-*.png (for the documentation).
TEST_F(PrintWindowTest, Screenshot) {
  const QString folder = qEnvironmentVariable("CORVYN_SCREENSHOT_DIR");
  if (folder.isEmpty()) GTEST_SKIP() << "CORVYN_SCREENSHOT_DIR is not set";
  const auto styleSheet = ui::SkinArchive::Current().Read("skin.qss");
  ASSERT_TRUE(styleSheet.has_value());
  qApp->setStyleSheet(QString::fromUtf8(*styleSheet));
  CPrintWnd& window = MakeWindow(RecordCategory::kContacts);
  HoldWorker(window);
  window.show();
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return reached_.load(); }));
  QTest::qWait(200);  // a few steps of the busy bar
  const bool collecting = window.grab().save(folder + "/print-window-collecting.png");
  release_ = true;
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return PageShown() && printDialogs_ == 1; }));
  const bool shown = window.grab().save(folder + "/print-window.png");
  CPrintWnd& chats = MakeWindow(RecordCategory::kWhatsApp);
  chats.show();
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return PageShown() && printDialogs_ == 2; }));
  const bool chatsShown = chats.grab().save(folder + "/print-window-whatsapp.png");
  qApp->setStyleSheet(QString());
  EXPECT_TRUE(collecting);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(chatsShown);
}

}  // namespace
}  // namespace corvyn::app
