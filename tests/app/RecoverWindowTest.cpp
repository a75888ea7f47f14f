// The export progress window over a real export of a built backup: what it
// shows while and after the job runs, its buttons, and the cancel question.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>

#include "AppTestSupport.h"
#include "UiTestSupport.h"
#include "app/AppMessages.h"
#include "app/CRecoverProcessWnd.h"
#include "app/LanguageStore.h"
#include "tests/export/ExportTestSupport.h"
#include "ui/SkinArchive.h"

namespace corvyn::app {
namespace {
namespace fs = std::filesystem;
using exporting::testing::FixedDiskSpace;

// Free space that answers only when the test lets it: the job waits there,
// before its first report, until Release().
class GateDiskSpace final : public platform::IDiskSpace {
 public:
  Status FreeBytes(const fs::path&, uint64_t* freeBytes) override {
    std::unique_lock lock(mutex_);
    reached_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
    *freeBytes = uint64_t{1} << 40;
    return kOk;
  }
  std::vector<platform::MountedFileSystem> MountedFileSystems() override { return {}; }
  void WaitReached() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return reached_; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false, released_ = false;
};

// Clicks a button the user can see.
void Click(QWidget* window, const char* name) {
  auto* button = window->findChild<QPushButton*>(name);
  ASSERT_NE(button, nullptr) << name;
  ASSERT_TRUE(button->isVisible()) << name;
  testing::ClickButton(window, name);
}

class RecoverWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corvyn::testing::TestApplication();
    ASSERT_EQ(ui::SkinArchive::LoadCurrent({}), kOk);
    const fs::path bin = CORVYN_BIN_DIR;
    fs::copy(bin / "template", templates_);
    store_ = corvyn::testing::InstallTestLanguages(temp_.Path());
    ASSERT_EQ(store_->CurrentLanguage(), "English");
    scan_ = std::make_unique<exporting::testing::ScannedBackup>(temp_.Path());
    ASSERT_TRUE(scan_->ok());
    owner_ = std::make_unique<QWidget>();
    owner_->setGeometry(100, 100, 800, 500);
    owner_->show();
  }
  void TearDown() override {
    gate_->Release();
    window_.reset();
    owner_.reset();
    ui::SetTextSource(nullptr);
  }

  CRecoverProcessWnd& MakeWindow(platform::IDiskSpace* disk = nullptr) {
    auto access = scan_->Driver().LockResults();
    window_ = std::make_unique<CRecoverProcessWnd>(
        owner_.get(), access.results, access.statistics, *scan_->Driver().Engine(),
        exporting::ExportRequest{root_, scan_->DeviceName(), templates_, -1}, desktop_, disk);
    EXPECT_EQ(window_->Create(), kOk);
    return *window_;
  }
  // Shows the window (which starts the job) and waits until the job ended.
  void RunToEnd(CRecoverProcessWnd& window) {
    window.show();
    ASSERT_TRUE(corvyn::testing::WaitFor([&] { return window.Finished(); }, 60000));
  }

  template <class T = QWidget>
  T* Control(const char* name) const {
    T* control = window_->FindControl<T>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QString Text(const char* name) const { return Control<QLabel>(name)->text(); }
  static QString CountsText(const exporting::ExportCounts& counts) {
    return QStringLiteral("Processed %1 of %2 file(s): %3 recovered, %4 failed.")
        .arg(counts.done)
        .arg(counts.total)
        .arg(counts.done - counts.failed)
        .arg(counts.failed);
  }
  QString Message(const char* id) const { return QString::fromStdString(store_->Text("Messages", id)); }

  corvyn::testing::TempFolder temp_{"recover-window"};
  fs::path root_ = temp_.Path() / "out";
  fs::path templates_ = temp_.Path() / "template";
  std::unique_ptr<LanguageStore> store_;
  std::unique_ptr<exporting::testing::ScannedBackup> scan_;
  std::unique_ptr<QWidget> owner_;
  platform::RecordingDesktop desktop_;
  std::unique_ptr<GateDiskSpace> gate_ = std::make_unique<GateDiskSpace>();
  std::unique_ptr<CRecoverProcessWnd> window_;
};

TEST_F(RecoverWindowTest, EndsShowingTheCountsWithFailuresOnTopInRed) {
  fs::create_directories(root_);
  std::ofstream(root_ / "Notes") << "a file where the notes folder goes";
  CRecoverProcessWnd& window = MakeWindow();
  EXPECT_EQ(window.size(), QSize(550, 250));
  EXPECT_LE((window.geometry().center() - owner_->frameGeometry().center()).manhattanLength(), 2);
  RunToEnd(window);

  const exporting::ExportSummary& summary = *window.Summary();
  ASSERT_TRUE(summary.status.ok()) << summary.status;
  EXPECT_EQ(summary.counts.done, summary.counts.total);
  EXPECT_EQ(summary.counts.failed, scan_->Built().databases.notes.size());
  ASSERT_GT(summary.counts.failed, 0u);
  // The last reports may still be on their way when the end is known.
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return Text("recovered") == CountsText(summary.counts); }))
      << Text("recovered").toStdString();
  EXPECT_EQ(Control<QProgressBar>("Progress")->value(), 100);
  EXPECT_EQ(Text("percent"), Message("MSG1101") + " 100%");
  EXPECT_EQ(Text("percent"), "Progress: 100%");
  EXPECT_TRUE(Control<QLabel>("current")->toolTip().startsWith(QString::fromStdString(root_.string())));
  EXPECT_TRUE(Control("FinishBtn")->isVisible());
  EXPECT_FALSE(Control("CancelBtn")->isVisible());
  EXPECT_TRUE(Control("OpenBtn")->isVisible());

  auto* list = Control<QTreeWidget>("DetailList");
  EXPECT_FALSE(list->isVisible());
  ASSERT_EQ(list->columnCount(), 2);
  EXPECT_EQ(list->headerItem()->text(0), "File");
  EXPECT_EQ(list->headerItem()->text(1), "Status");
  EXPECT_EQ(list->textElideMode(), Qt::ElideRight);
  EXPECT_FALSE(list->wordWrap());
  // Each failure went on top of the earlier ones: the newest first.
  const std::size_t failures = summary.failures.size();
  ASSERT_GE(static_cast<std::size_t>(list->topLevelItemCount()), failures + 1);
  for (int row = 0; row < list->topLevelItemCount(); ++row) {
    SCOPED_TRACE(row);
    const QTreeWidgetItem* item = list->topLevelItem(row);
    const bool failed = static_cast<std::size_t>(row) < failures;
    EXPECT_EQ(item->textAlignment(0), int(Qt::AlignLeft | Qt::AlignVCenter));
    EXPECT_EQ(item->textAlignment(1), int(Qt::AlignCenter));
    if (failed) {
      const exporting::ExportDetail& expected = summary.failures[failures - 1 - row];
      EXPECT_EQ(item->text(0).toStdString(), expected.path);
      EXPECT_EQ(item->text(1).toStdString(), expected.StatusText());
      EXPECT_NE(item->text(1), "Success");
      EXPECT_EQ(item->foreground(0).color(), QColor(255, 0, 0));
      EXPECT_EQ(item->foreground(1).color(), QColor(255, 0, 0));
    } else {
      EXPECT_EQ(item->text(1), "Success");
      EXPECT_NE(item->foreground(0).color(), QColor(255, 0, 0));
      EXPECT_TRUE(fs::exists(item->text(0).toStdString())) << item->text(0).toStdString();
    }
  }
  EXPECT_NE(list->topLevelItem(0)->text(0).indexOf("Notes_"), -1);

  // Finished: every way to cancel just closes as finished.
  QTest::keyClick(&window, Qt::Key_Return);
  QTest::keyClick(&window, Qt::Key_Enter);
  EXPECT_TRUE(window.isVisible()) << "Enter is swallowed";
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), 1);
}

TEST_F(RecoverWindowTest, ButtonsOpenTheFolderToggleTheDetailsAndFinish) {
  CRecoverProcessWnd& window = MakeWindow(gate_.get());
  window.show();
  gate_->WaitReached();
  // Running: finish hidden, cancel shown, no details yet.
  EXPECT_FALSE(Control("FinishBtn")->isVisible());
  EXPECT_TRUE(Control("CancelBtn")->isVisible());
  EXPECT_FALSE(Control("DetailList")->isVisible());
  gate_->Release();
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return window.Finished(); }, 60000));
  ASSERT_TRUE(window.Summary()->ok()) << window.Summary()->status;

  Click(&window, "OpenBtn");
  EXPECT_EQ(desktop_.opened, std::vector<std::string>{root_.string()});

  const QPoint centre = window.geometry().center();
  const struct {
    QSize size;
    bool listShown;
  } steps[] = {{{700, 550}, true}, {{550, 250}, false}, {{700, 550}, true}};
  for (const auto& step : steps) {
    Click(&window, "DetailBtn");
    EXPECT_EQ(window.size(), step.size);
    EXPECT_EQ(Control("DetailList")->isVisible(), step.listShown);
    EXPECT_LE((window.geometry().center() - centre).manhattanLength(), 2);
  }
  Click(&window, "FinishBtn");
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), 1);
}

TEST_F(RecoverWindowTest, CancelQuestionHoldsTheJobAndEndsItOnlyWhenConfirmed) {
  const struct {
    const char* name;
    std::function<void(QWidget*)> ask;
    const char* answer;  // button of the question box, or "Escape"
    bool cancelled;
  } cases[] = {
      {"CancelBtn, box cancelled", [](QWidget* w) { Click(w, "CancelBtn"); }, "cancelbtn", false},
      {"closebtn, box closed", [](QWidget* w) { Click(w, "closebtn"); }, "closebtn", false},
      {"Escape, box escaped", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }, "Escape", false},
      {"CancelBtn, OK", [](QWidget* w) { Click(w, "CancelBtn"); }, "okbtn", true},
      {"closebtn, OK", [](QWidget* w) { Click(w, "closebtn"); }, "okbtn", true},
      {"Escape, OK", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); }, "okbtn", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_);
    gate_ = std::make_unique<GateDiskSpace>();
    CRecoverProcessWnd& window = MakeWindow(gate_.get());
    window.show();
    gate_->WaitReached();

    bool asked = false;
    testing::WhenModalShows("MessageBox_Warning", [&](QWidget* box) {
      asked = true;
      EXPECT_EQ(box->size(), QSize(550, 200));
      EXPECT_EQ(box->findChild<QLabel*>("message")->text(), Message("MSG1103"));
      // The job goes on to its first report and halts there; nothing is shown meanwhile.
      gate_->Release();
      EXPECT_TRUE(window.Control().WaitParked());
      QCoreApplication::processEvents();
      EXPECT_EQ(Control<QProgressBar>("Progress")->value(), 0);
      EXPECT_EQ(Control<QTreeWidget>("DetailList")->topLevelItemCount(), 0);
      if (std::string(c.answer) == "Escape") {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        Click(box, c.answer);
      }
    });
    c.ask(&window);
    EXPECT_TRUE(asked);

    if (c.cancelled) {
      EXPECT_FALSE(window.isVisible());
      EXPECT_EQ(window.result(), 2);
      ASSERT_TRUE(window.Finished());
      EXPECT_EQ(window.Summary()->status, kStopped);
      EXPECT_LT(window.Summary()->counts.done, window.Summary()->counts.total);
    } else {
      EXPECT_TRUE(window.isVisible());
      ASSERT_TRUE(corvyn::testing::WaitFor([&] { return window.Finished(); }, 60000));
      EXPECT_TRUE(window.Summary()->ok()) << window.Summary()->status;
      EXPECT_EQ(window.Summary()->counts.done, window.Summary()->counts.total);
      EXPECT_TRUE(Control("FinishBtn")->isVisible());
      EXPECT_FALSE(Control("CancelBtn")->isVisible());
      EXPECT_FALSE(exporting::testing::FilesUnder(root_).empty());
    }
    window_.reset();
  }
}

TEST_F(RecoverWindowTest, AJobThatCannotStartShowsAnErrorAndClosesWithTwo) {
  FixedDiskSpace little(1000);
  const struct {
    const char* name;
    bool removeTemplate;
    platform::IDiskSpace* disk;
    std::function<bool(const QString&)> expectedText;
  } cases[] = {
      {"missing template", true, nullptr, [&](const QString& text) { return text == Message("MSG1104"); }},
      {"too little space", false, &little,
       [](const QString& text) { return text.contains("1000 Bytes free"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.removeTemplate) fs::remove(templates_ / "Sms.html");
    CRecoverProcessWnd& window = MakeWindow(c.disk);
    QString shown;
    QSize size;
    testing::WhenModalShows("MessageBox_Error", [&](QWidget* box) {
      shown = box->findChild<QLabel*>("message")->text();
      size = box->size();
      Click(box, "okbtn");
    });
    EXPECT_EQ(window.DoModal(), 2);
    EXPECT_TRUE(c.expectedText(shown)) << shown.toStdString();
    EXPECT_EQ(size, QSize(500, 200));
    EXPECT_EQ(window.Summary()->templateUnreadable, c.removeTemplate);
    EXPECT_TRUE(exporting::testing::FilesUnder(root_).empty());
    window_.reset();
    fs::copy(CORVYN_BIN_DIR "/template", templates_,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
}

TEST_F(RecoverWindowTest, ALanguageChangeRewritesTextsAndCounts) {
  CRecoverProcessWnd& window = MakeWindow();
  RunToEnd(window);
  const exporting::ExportCounts counts = window.Summary()->counts;
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return Text("recovered") == CountsText(counts); }));
  EXPECT_EQ(Control<QPushButton>("FinishBtn")->text(), "Finish");

  ASSERT_EQ(store_->SetLanguage("German"), kOk);
  window.PostPrivateMessage(kMsgLanguageChanged);
  ASSERT_TRUE(
      corvyn::testing::WaitFor([&] { return Control<QPushButton>("FinishBtn")->text() == "Fertig"; }));
  EXPECT_EQ(Control<QPushButton>("OpenBtn")->text(), "Ordner öffnen");
  EXPECT_EQ(Text("percent"), "Fortschritt: 100%");
  EXPECT_EQ(Text("recovered"), QStringLiteral("%1 von %2 Datei(en) bearbeitet: %3 wiederhergestellt, %4 "
                                              "fehlgeschlagen.")
                                   .arg(counts.done)
                                   .arg(counts.total)
                                   .arg(counts.done - counts.failed)
                                   .arg(counts.failed));
}

// Saves the finished window with its details, skinned, as
// $CORVYN_SCREENSHOT_DIR/recover-window.png (for the documentation).
TEST_F(RecoverWindowTest, Screenshot) {
  const QString folder = qEnvironmentVariable("CORVYN_SCREENSHOT_DIR");
  if (folder.isEmpty()) GTEST_SKIP() << "CORVYN_SCREENSHOT_DIR is not set";
  const auto styleSheet = ui::SkinArchive::Current().Read("skin.qss");
  ASSERT_TRUE(styleSheet.has_value());
  qApp->setStyleSheet(QString::fromUtf8(*styleSheet));
  fs::create_directories(root_);
  std::ofstream(root_ / "Notes") << "a file where the notes folder goes";
  CRecoverProcessWnd& window = MakeWindow();
  RunToEnd(window);
  const exporting::ExportCounts counts = window.Summary()->counts;
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return Text("recovered") == CountsText(counts); }));
  Click(&window, "DetailBtn");
  QCoreApplication::processEvents();
  const bool saved = window.grab().save(folder + "/recover-window.png");
  qApp->setStyleSheet(QString());
  EXPECT_TRUE(saved);
}

}  // namespace
}  // namespace corvyn::app
