// The main path through the real windows, offscreen: the backup page lists
// a built backup, a scan runs to its end, the tree counts what the backup
// holds, the filter and the check boxes change what is selected, the
// preview pane shows a conversation, a contact and a photo, and export
// writes files. An encrypted backup is opened after a wrong password.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QStackedWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "AppTestSupport.h"
#include "UiTestSupport.h"
#include "app/CItunesBackupVrtWnd.h"
#include "app/CMainWnd.h"
#include "app/CPreviewVrtWnd.h"
#include "app/CPrintWnd.h"
#include "app/CScanVrtWnd.h"
#include "app/LanguageStore.h"
#include "backup/CLocalBuckupRecovery.h"
#include "platform/Desktop.h"
#include "tests/support/backup_builder/DemoMedia.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/temp_folder/TempFolder.h"
#include "ui/SkinArchive.h"

namespace corvyn::app {
namespace {

namespace fs = std::filesystem;
using corvyn::testing::ClickButton;
using corvyn::testing::WaitFor;
using corvyn::testing::WhenModalShows;

constexpr int kScanTimeoutMs = 60000;
constexpr const char* kPassword = "open sesame";

class MainPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corvyn::testing::TestApplication();
    ASSERT_EQ(ui::SkinArchive::LoadCurrent({}), kOk);
    // Backups and working folders live in the tests' own data folder, one
    // for the whole program: the working folder is chosen once per process.
    static testing::TempFolder dataHome;
    setenv("XDG_DATA_HOME", dataHome.Path().c_str(), 1);
    dataHome_ = dataHome.Path();
    std::error_code error;
    fs::remove_all(BackupRoot(), error);
    store_ = corvyn::testing::InstallTestLanguages(folder_.Path());
    backup::RegisterBackupEngine();
  }
  void TearDown() override {
    window_.reset();
    ui::SetTextSource(nullptr);
  }

  fs::path BackupRoot() const { return dataHome_ / "Apple Computer" / "MobileSync" / "Backup"; }

  // The standard backup with real photos and sounds.
  testsupport::StandardBackup& Backup() {
    if (!backup_) {
      backup_ = std::make_unique<testsupport::StandardBackup>();
      testsupport::StandardBackupOptions options;
      options.realMedia = testsupport::MakeDemoMedia;
      EXPECT_EQ(testsupport::MakeStandardBackup(folder_.Path() / "scratch", *backup_, options), kOk);
      backup_->builder.info.displayName = "Test iPhone";
    }
    return *backup_;
  }

  void OpenWindow() {
    window_ = std::make_unique<CMainWnd>(*store_, desktop_);
    ASSERT_EQ(window_->Create(), kOk);
    window_->show();
  }

  QStackedWidget* MainPages() const { return window_->FindControl<QStackedWidget>("MainTabPage"); }
  CScanVrtWnd& Scan() const { return *window_->ScanPage(); }
  QTreeView* Tree() const { return Scan().FindControl<QTreeView>("NodeTree"); }
  QTreeView* List() const { return Scan().FindControl<QTreeView>("DataList"); }

  // Clicks "BtnScan" on the backup page and waits until the page shows the
  // end of the scan (its recovery toolbar, once the scan-ended message is
  // handled).
  void ScanSelectedBackup() {
    ClickButton(window_->BackupPage(), "BtnScan");
    ASSERT_TRUE(WaitFor(
        [&] {
          return MainPages()->currentIndex() == 1 && !Scan().Scanning() &&
                 Scan().FindControl(QStringLiteral("ReocveryToolBar"))->isVisible();
        },
        kScanTimeoutMs));
  }

  // Every tree label, by the text before its count.
  std::map<std::string, std::string> TreeLabels() const {
    std::map<std::string, std::string> labels;
    const QAbstractItemModel* model = Tree()->model();
    std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
      for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        const std::string text = index.data().toString().toStdString();
        labels[text.substr(0, text.find(" ("))] = text;
        walk(index);
      }
    };
    walk({});
    return labels;
  }

  QModelIndex TreeNode(const std::string& category) const {
    const QAbstractItemModel* model = Tree()->model();
    for (int group = 0; group < model->rowCount(); ++group) {
      const QModelIndex parent = model->index(group, 0);
      for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        if (index.data().toString().startsWith(QString::fromStdString(category + " ("))) return index;
      }
    }
    return {};
  }

  void SelectCategory(const std::string& category) {
    const QModelIndex node = TreeNode(category);
    ASSERT_TRUE(node.isValid()) << category;
    Tree()->setCurrentIndex(node);
    ASSERT_EQ(Scan().SelectedCategory(), CategoryOf(category));
  }

  static RecordCategory CategoryOf(const std::string& label) {
    for (RecordCategory category : kAllCategories) {
      if (CategoryLabel(category) == label) return category;
    }
    return RecordCategory::kNone;
  }

  // Makes row `row` of the list current (column 1, the first text column).
  void PreviewRow(int row) {
    const QModelIndex index = List()->model()->index(row, 1);
    ASSERT_TRUE(index.isValid());
    List()->setCurrentIndex(index);
  }

  QWidget* PreviewPage() const {
    return window_->PreviewPage()->FindControl<QStackedWidget>("PreviewSwitch")->currentWidget();
  }

  testing::TempFolder folder_;
  fs::path dataHome_;
  std::unique_ptr<LanguageStore> store_;
  platform::RecordingDesktop desktop_;
  std::unique_ptr<testsupport::StandardBackup> backup_;
  std::unique_ptr<CMainWnd> window_;
};

TEST_F(MainPathTest, ScansBrowsesPreviewsAndExportsABackup) {
  ASSERT_EQ(Backup().builder.Write(BackupRoot() / "plain"), kOk);
  OpenWindow();
  // With a backup present the window opens on the backup page, which lists it.
  EXPECT_EQ(window_->FindControl<QStackedWidget>("TabPage")->currentIndex(), 1);
  auto* backups = window_->BackupPage()->FindControl<QTreeWidget>("BackupFileList");
  ASSERT_EQ(backups->topLevelItemCount(), 1);
  EXPECT_EQ(backups->topLevelItem(0)->text(0), "Test iPhone");

  ScanSelectedBackup();
  const testsupport::MediaTruth& media = Backup().media;
  const std::map<std::string, std::string> labels = TreeLabels();
  const std::map<std::string, std::size_t> expected = {
      {"Camera Roll", media.cameraRoll.size()},
      {"Photo Stream", media.photoStream.size()},
      {"Messages Attachments", media.messageAttachments.size()},
      {"WhatsApp Attachments", media.whatsAppAttachments.size()},
      {"Messages", 2},
      {"Contacts", 2},
      {"Call History", 2},
      {"Notes", 2},
      {"WhatsApp", 1},
  };
  for (const auto& [category, count] : expected) {
    ASSERT_TRUE(labels.count(category)) << category;
    EXPECT_EQ(labels.at(category), category + " (" + std::to_string(count) + ")");
  }

  // The only-deleted filter hides the live conversations and counts them.
  SelectCategory("Messages");
  ASSERT_EQ(List()->model()->rowCount(), 2);
  auto* filter = Scan().FindControl<QAbstractButton>("OptOnOffFilter");
  auto* filterCount = Scan().FindControl<QLabel>("LblFilterCount");
  filter->click();
  EXPECT_TRUE(Scan().OnlyDeleted(RecordCategory::kMessages));
  EXPECT_TRUE(filterCount->isVisible());
  const int shownWithFilter = List()->model()->rowCount();
  EXPECT_LT(shownWithFilter, 2);
  EXPECT_TRUE(filterCount->text().contains(QString::number(2 - shownWithFilter)));
  filter->click();
  EXPECT_FALSE(filterCount->isVisible());
  EXPECT_EQ(List()->model()->rowCount(), 2);

  // Unchecking a category changes what the statistics label says.
  auto* statistics = Scan().FindControl<QLabel>("LblStatistics");
  const QString before = statistics->text();
  ASSERT_TRUE(Tree()->model()->setData(TreeNode("Contacts"), Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_NE(statistics->text(), before);
  ASSERT_TRUE(Tree()->model()->setData(TreeNode("Contacts"), Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(statistics->text(), before);

  // A conversation, a contact and a photo in the preview pane.
  PreviewRow(0);
  ASSERT_TRUE(WaitFor([&] { return PreviewPage()->objectName() == "MessagesList"; }));
  auto* bubbles = window_->PreviewPage()->FindControl<QListView>("MessagesList");
  EXPECT_GE(bubbles->model()->rowCount(), 2);  // the header row and at least one message

  SelectCategory("Contacts");
  PreviewRow(0);
  ASSERT_TRUE(WaitFor([&] { return PreviewPage()->objectName() == "ContactPage"; }));
  auto* name = window_->PreviewPage()->findChild<QLabel*>("TxtUserName");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->text(), List()->model()->index(0, 1).data().toString());

  SelectCategory("Camera Roll");
  int photo = -1;
  for (int row = 0; row < List()->model()->rowCount() && photo < 0; ++row) {
    if (List()->model()->index(row, 1).data().toString().endsWith(".JPG")) photo = row;
  }
  ASSERT_GE(photo, 0);
  PreviewRow(photo);
  auto* image = window_->PreviewPage()->FindControl<QLabel>("ImageView");
  ASSERT_TRUE(WaitFor([&] { return !image->pixmap().isNull(); }, 10000));
  EXPECT_GT(image->pixmap().width(), 50);

  // Export everything to a folder of the test's.
  const fs::path out = folder_.Path() / "out";
  fs::create_directories(out);
  Scan().chooseFolder = [&](QWidget*, const QString&) { return QString::fromStdString(out.string()); };
  bool finished = false;
  WhenModalShows("RecoverProcessWnd", [&](QWidget* exportWindow) {
    finished = WaitFor([&] { return exportWindow->findChild<QWidget*>("FinishBtn")->isVisible(); }, 30000);
    ClickButton(exportWindow, "FinishBtn");
  });
  ClickButton(&Scan(), "BtnRecovery");
  ASSERT_TRUE(WaitFor([&] { return finished; }, 30000));
  std::size_t files = 0;
  bool photoWritten = false;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    photoWritten = photoWritten || entry.path().filename() == "IMG_0001.JPG";
  }
  EXPECT_TRUE(photoWritten);
  EXPECT_GT(files, media.cameraRoll.size() + media.messageAttachments.size());
}

TEST_F(MainPathTest, AnEncryptedBackupOpensAfterAWrongPassword) {
  ASSERT_EQ(
      Backup().builder.WriteEncrypted(folder_.Path() / "plain-copy", BackupRoot() / "locked", kPassword),
      kOk);
  OpenWindow();
  int asked = 0;
  bool toldWrong = false;
  std::function<void()> answerNext;
  // Answers the password dialog: first a wrong password, then the right one.
  answerNext = [&] {
    WhenModalShows("DecryptionWnd", [&](QWidget* dialog) {
      ++asked;
      dialog->findChild<QLineEdit*>("EditPassword")->setText(asked == 1 ? "not the password" : kPassword);
      if (asked == 1) {
        WhenModalShows("MessageBox_Information", [&](QWidget* box) {
          toldWrong = true;
          answerNext();
          ClickButton(box, "okbtn");
        });
      }
      ClickButton(dialog, "BtnOK");
    });
  };
  answerNext();
  ScanSelectedBackup();
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(toldWrong);
  EXPECT_EQ(TreeLabels().at("Messages"), "Messages (2)")
      << Scan().FindControl<QLabel>("LblScanNotes")->toolTip().toStdString();
}

TEST_F(MainPathTest, PrintsTheSelectedCategoryToPdf) {
  ASSERT_EQ(Backup().builder.Write(BackupRoot() / "plain"), kOk);
  OpenWindow();
  ScanSelectedBackup();
  SelectCategory("Notes");
  const fs::path pdf = folder_.Path() / "notes.pdf";
  WhenModalShows("PrintWnd", [&](QWidget* shown) {
    auto* window = static_cast<CPrintWnd*>(shown);
    window->askPrinter = [](QPrinter&) { return false; };
    window->askPdfPath = [&](QWidget*) { return QString::fromStdString(pdf.string()); };
    ASSERT_TRUE(WaitFor([&] { return window->Collected(); }, 10000));
    ClickButton(window, "BtnPdf");
    ClickButton(window, "closebtn");
  });
  ClickButton(&Scan(), "BtnPrint");
  ASSERT_TRUE(fs::exists(pdf));
  EXPECT_GT(fs::file_size(pdf), 1000u);
}

TEST_F(MainPathTest, AFolderGivenOnTheCommandLineIsScannedOrRefusedInWords) {
  OpenWindow();
  QString said;
  WhenModalShows("MessageBox_Error", [&](QWidget* box) {
    for (auto* label : box->findChildren<QLabel*>()) said += label->text() + "\n";
    ClickButton(box, "okbtn");
  });
  window_->ScanBackupFolder(folder_.Path());
  EXPECT_TRUE(said.contains(QString::fromStdString(folder_.Path().string()) + " is not a backup folder"))
      << said.toStdString();
  EXPECT_EQ(MainPages()->currentIndex(), 0);

  ASSERT_EQ(Backup().builder.Write(folder_.Path() / "elsewhere"), kOk);
  window_->ScanBackupFolder(folder_.Path() / "elsewhere");
  ASSERT_TRUE(WaitFor(
      [&] {
        return MainPages()->currentIndex() == 1 &&
               Scan().FindControl(QStringLiteral("ReocveryToolBar"))->isVisible();
      },
      kScanTimeoutMs));
  EXPECT_EQ(TreeLabels().at("Notes"), "Notes (2)");
}

// The screenshots of the README (docs/screenshots), taken when
// CORVYN_SCREENSHOT_DIR names a folder: the home page, the backup page, a
// conversation, a photo and a contact in the preview, and the export window.
TEST_F(MainPathTest, Screenshots) {
  const QString folder = qEnvironmentVariable("CORVYN_SCREENSHOT_DIR");
  if (folder.isEmpty()) GTEST_SKIP() << "CORVYN_SCREENSHOT_DIR is not set";
  const auto styleSheet = ui::SkinArchive::Current().Read("skin.qss");
  ASSERT_TRUE(styleSheet.has_value());
  qApp->setStyleSheet(QString::fromUtf8(*styleSheet));
  Backup().builder.info.displayName = "Anna's iPhone";
  ASSERT_EQ(Backup().builder.Write(BackupRoot() / "plain"), kOk);
  Backup().builder.info.displayName = "Anna's iPhone (encrypted)";
  ASSERT_EQ(
      Backup().builder.WriteEncrypted(folder_.Path() / "plain-copy", BackupRoot() / "locked", kPassword),
      kOk);
  OpenWindow();
  const auto shoot = [&](const char* name) {
    QCoreApplication::processEvents();
    QTest::qWait(200);
    EXPECT_TRUE(window_->grab().save(folder + "/" + name)) << name;
  };
  QTest::mouseClick(window_->FindControl<QAbstractButton>("OptIosDevice"), Qt::LeftButton);
  shoot("home.png");
  QTest::mouseClick(window_->FindControl<QAbstractButton>("OptBackupFile"), Qt::LeftButton);
  shoot("backup-page.png");

  auto* backups = window_->BackupPage()->FindControl<QTreeWidget>("BackupFileList");
  for (int row = 0; row < backups->topLevelItemCount(); ++row) {
    if (backups->topLevelItem(row)->text(0) == "Anna's iPhone")
      backups->setCurrentItem(backups->topLevelItem(row));
  }
  ScanSelectedBackup();
  SelectCategory("Messages");
  PreviewRow(0);
  shoot("scan-conversation.png");
  SelectCategory("Contacts");
  PreviewRow(0);
  shoot("scan-contact.png");
  SelectCategory("Camera Roll");
  for (int row = 0; row < List()->model()->rowCount(); ++row) {
    if (List()->model()->index(row, 1).data().toString().endsWith(".HEIC")) PreviewRow(row);
  }
  auto* image = window_->PreviewPage()->FindControl<QLabel>("ImageView");
  ASSERT_TRUE(WaitFor([&] { return !image->pixmap().isNull(); }, 10000));
  shoot("scan-photo.png");

  const fs::path out = folder_.Path() / "out";
  fs::create_directories(out);
  Scan().chooseFolder = [&](QWidget*, const QString&) { return QString::fromStdString(out.string()); };
  bool shot = false;
  WhenModalShows("RecoverProcessWnd", [&](QWidget* exportWindow) {
    EXPECT_TRUE(WaitFor([&] { return exportWindow->findChild<QWidget*>("FinishBtn")->isVisible(); }, 30000));
    QTest::qWait(200);
    shot = exportWindow->grab().save(folder + "/export-window.png");
    ClickButton(exportWindow, "FinishBtn");
  });
  ClickButton(&Scan(), "BtnRecovery");
  EXPECT_TRUE(shot);
  qApp->setStyleSheet(QString());
}

}  // namespace
}  // namespace corvyn::app
