// The scan page over real scans of a built backup: the tree's labels and
// check boxes, the list's rows, colours, filter, folders and sorting, the
// statistics line, pause and stop with their question, export, preview
// hand-over and live language changes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <fstream>
#include <set>

#include "AppTestSupport.h"
#include "UiTestSupport.h"
#include "app/AppMessages.h"
#include "app/CScanVrtWnd.h"
#include "app/LanguageStore.h"
#include "backup/BackupDiscovery.h"
#include "core/CategoryCatalog.h"
#include "core/Statistics.h"
#include "device/IPhone.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tests/support/simphone/SimPhoneProcess.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"
#include "ui/SkinArchive.h"

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace corvyn::app {
namespace {
namespace fs = std::filesystem;
using corvyn::testing::WaitFor;
using corvyn::testing::WhenModalShows;

// The main window as far as the scan page needs it: it forwards the scan
// messages the way the real one routes them and remembers what it kept.
class ForwardingMainWnd final : public ui::CLayoutWnd {
 public:
  CScanVrtWnd* page = nullptr;
  std::vector<std::pair<int, qintptr>> kept;

 protected:
  bool HandleMessage(int message, qintptr wParam, qintptr) override {
    if (message == kMsgScanState && (wParam == kScanStateBegun || wParam == kScanStateWrongPassword)) {
      kept.emplace_back(message, wParam);
    } else if (message >= kMsgCategoryDone && message <= kMsgScanState && page != nullptr) {
      page->HandleScanMessage(message, wParam);
    }
    return true;
  }
};

// Remembers what the page handed to the preview pane.
class RecordingPane final : public IPreviewPane {
 public:
  void ShowItem(const PreviewItem& item, const ScanResults&, IPhoneRecoveryParse* engine) override {
    shown.push_back(item);
    lastEngine = engine;
  }
  void Clear() override { ++cleared; }
  std::vector<PreviewItem> shown;
  IPhoneRecoveryParse* lastEngine = nullptr;
  int cleared = 0;
};

// One backup for the whole suite: the standard one, whose Notes database is
// replaced by one with deleted notes left in its free space.
struct BuiltBackup {
  corvyn::testing::TempFolder temp{"scan-page"};
  testsupport::StandardBackup backup;
  backup::BackupDescriptor descriptor;
  bool ok = false;
  BuiltBackup() {
    if (testsupport::MakeStandardBackup(temp.Path() / "scratch", backup) != kOk) return;
    const fs::path notes = temp.Path() / "notes-with-deleted.sqlite";
    if (!corvyn::testing::BuildNotesDatabase(notes, 40)) return;
    if (backup.builder.AddFileFrom("HomeDomain", "Library/Notes/notes.sqlite", notes) != kOk) return;
    if (backup.builder.Write(temp.Path() / "backup") != kOk) return;
    ok = backup::ReadBackupFolder(temp.Path() / "backup", descriptor) == kOk;
  }
};

class ScanPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { built_ = new BuiltBackup; }
  static void TearDownTestSuite() {
    delete built_;
    built_ = nullptr;
  }

  void SetUp() override {
    corvyn::testing::TestApplication();
    ASSERT_TRUE(built_->ok);
    ASSERT_EQ(ui::SkinArchive::LoadCurrent({}), kOk);
    const fs::path bin = CORVYN_BIN_DIR;
    store_ = corvyn::testing::InstallTestLanguages(temp_.Path());
    ASSERT_EQ(store_->CurrentLanguage(), "English");
    main_ = std::make_unique<ForwardingMainWnd>();
    main_->resize(1000, 590);
    page_ = std::make_unique<CScanVrtWnd>(*main_, desktop_);
    main_->page = page_.get();
    ASSERT_EQ(page_->Create(), kOk);
    page_->Embed(main_.get());
    page_->SetPreviewPane(&pane_);
    page_->templateFolder = bin / "template";
    main_->show();
  }
  void TearDown() override {
    page_.reset();
    main_.reset();
    ui::SetTextSource(nullptr);
  }

  ScanRequest Request() const {
    ScanRequest request;
    request.backup = built_->descriptor;
    return request;
  }
  void ScanToEnd() {
    page_->StartScan(Request());
    ASSERT_TRUE(WaitFor([&] { return Control("ReocveryToolBar")->isVisible(); }, 60000));
    ASSERT_EQ(page_->Driver().FinalStatus(), kOk);
  }

  template <class T = QWidget>
  T* Control(const char* name) const {
    T* control = page_->FindControl<T>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QTreeView* Tree() const { return Control<QTreeView>("NodeTree"); }
  QTreeView* List() const { return Control<QTreeView>("DataList"); }
  QString Text(const char* name) const { return Control<QLabel>(name)->text(); }
  QString Message(const char* id) const { return QString::fromStdString(store_->Text("Messages", id)); }

  QModelIndex NodeOf(RecordCategory category) const {
    QAbstractItemModel* model = Tree()->model();
    for (int group = 0; group < model->rowCount(); ++group) {
      const QModelIndex parent = model->index(group, 0);
      for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex node = model->index(row, 0, parent);
        if (node.data().toString().startsWith(QString::fromUtf8(CategoryLabel(category).data()) + " (")) {
          return node;
        }
      }
    }
    return {};
  }
  // Clicks the node's label, as the user selects a category.
  void Select(RecordCategory category) {
    const QModelIndex node = NodeOf(category);
    ASSERT_TRUE(node.isValid()) << CategoryLabel(category);
    Tree()->scrollTo(node);
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualRect(node).center());
    ASSERT_EQ(page_->SelectedCategory(), category);
  }
  QString Cell(int row, int column) const { return List()->model()->index(row, column).data().toString(); }
  int Rows() const { return List()->model()->rowCount(); }
  QString ExpectedStatistics() {
    auto access = page_->Driver().LockResults();
    return QString::fromStdString(StatisticsLabelText(kStatisticsLabelFormat, access.statistics));
  }

  static BuiltBackup* built_;
  corvyn::testing::TempFolder temp_{"scan-page-run"};
  std::unique_ptr<LanguageStore> store_;
  platform::RecordingDesktop desktop_;
  RecordingPane pane_;
  std::unique_ptr<ForwardingMainWnd> main_;
  std::unique_ptr<CScanVrtWnd> page_;
};
BuiltBackup* ScanPageTest::built_ = nullptr;

TEST_F(ScanPageTest, AFinishedScanLabelsTheTreeWithTheBackupsContents) {
  ScanToEnd();
  const testsupport::MediaTruth& media = built_->backup.media;
  const testsupport::DatabaseTruth& databases = built_->backup.databases;
  std::set<int32_t> conversations;
  for (const auto& message : databases.messages) conversations.insert(message.handleId);
  std::set<int32_t> chats;
  for (const auto& message : databases.whatsApp) chats.insert(message.sessionId);
  const struct {
    RecordCategory category;
    std::size_t count;
  } cases[] = {
      {RecordCategory::kCameraRoll, media.cameraRoll.size()},
      {RecordCategory::kPhotoStream, media.photoStream.size()},
      {RecordCategory::kMessages, conversations.size()},
      {RecordCategory::kMessageAttachments, media.messageAttachments.size()},
      {RecordCategory::kContacts, databases.contacts.size()},
      {RecordCategory::kCallHistory, databases.calls.size()},
      {RecordCategory::kWhatsApp, chats.size()},
      {RecordCategory::kWhatsAppAttachments, media.whatsAppAttachments.size()},
  };
  // The first published category was selected for the user before any click.
  EXPECT_EQ(page_->SelectedCategory(), RecordCategory::kCameraRoll);
  for (const auto& c : cases) {
    SCOPED_TRACE(CategoryLabel(c.category));
    const QModelIndex node = NodeOf(c.category);
    EXPECT_EQ(
        node.data().toString(),
        QStringLiteral("%1 (%2)").arg(QString::fromUtf8(CategoryLabel(c.category).data())).arg(c.count));
    EXPECT_EQ(node.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_TRUE(node.flags() & Qt::ItemIsEnabled);
    Select(c.category);
    EXPECT_EQ(Rows(), static_cast<int>(c.count));
  }
  EXPECT_EQ(main_->kept.front(), std::make_pair(kMsgScanState, qintptr(kScanStateBegun)));
  EXPECT_TRUE(Control<QPushButton>("BtnHome")->isEnabled());
  EXPECT_TRUE(Control<QPushButton>("BtnRecovery")->isEnabled());
  EXPECT_FALSE(Control("ScanToolBar")->isVisible());
  EXPECT_TRUE(Control("DataListToolBar")->isVisible());
  EXPECT_EQ(Text("LblStatistics"), ExpectedStatistics());
  EXPECT_TRUE(Text("LblStatistics").startsWith("You select "));
}

TEST_F(ScanPageTest, RowsShowTheirColumnsAndDeletedOnesAreOrange) {
  ScanToEnd();
  Select(RecordCategory::kContacts);
  QAbstractItemModel* model = List()->model();
  EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), "Name");
  EXPECT_EQ(model->headerData(5, Qt::Horizontal).toString(), "Home Page");
  EXPECT_TRUE(List()->isColumnHidden(6));
  EXPECT_EQ(model->index(0, 1).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));  // Name is centred
  std::set<QString> names;
  for (int row = 0; row < Rows(); ++row) names.insert(Cell(row, 1));
  for (const auto& contact : built_->backup.databases.contacts) {
    EXPECT_EQ(names.count(QString::fromStdString(contact.first + contact.last)), 1u) << contact.first;
  }
  EXPECT_EQ(model->index(0, 1).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(0x40, 0x40, 0x40));

  Select(RecordCategory::kNotes);
  ASSERT_GT(Rows(), 0);
  // Deleted notes come first, in orange with the deleted mark; live ones follow in dark grey.
  const QModelIndex first = model->index(0, 1);
  const QModelIndex last = model->index(Rows() - 1, 1);
  EXPECT_EQ(first.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(0xF3, 0x73, 0x02));
  EXPECT_FALSE(first.data(Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_EQ(last.data(Qt::ForegroundRole).value<QBrush>().color(), QColor(0x40, 0x40, 0x40));
  EXPECT_TRUE(last.data(Qt::DecorationRole).value<QIcon>().isNull());
  EXPECT_EQ(model->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
}

TEST_F(ScanPageTest, OnlyDeletedFilterHidesLiveRowsPerCategory) {
  ScanToEnd();
  Select(RecordCategory::kNotes);
  const int all = Rows();
  int deleted = 0;
  {
    auto access = page_->Driver().LockResults();
    for (const auto& note : access.results.notes) deleted += note.deleted;
  }
  ASSERT_GT(deleted, 0);
  ASSERT_LT(deleted, all);
  const QString before = Text("LblStatistics");
  auto* filter = Control<QCheckBox>("OptOnOffFilter");
  ASSERT_TRUE(filter->isEnabled());
  EXPECT_EQ(filter->text(), "Only display the deleted items");

  filter->click();
  EXPECT_TRUE(page_->OnlyDeleted(RecordCategory::kNotes));
  EXPECT_EQ(Rows(), deleted);
  EXPECT_TRUE(Control("LblFilterCount")->isVisible());
  EXPECT_EQ(Text("LblFilterCount"), QStringLiteral("Files Filtered: %1 item(s)").arg(all - deleted));
  EXPECT_NE(Text("LblStatistics"), before);
  EXPECT_EQ(Text("LblStatistics"), ExpectedStatistics());
  EXPECT_TRUE(NodeOf(RecordCategory::kNotes).data().toString().endsWith(QStringLiteral("(%1)").arg(all)));

  // The filter belongs to the category: Contacts shows everything, Notes keeps it.
  Select(RecordCategory::kContacts);
  EXPECT_FALSE(filter->isChecked());
  EXPECT_FALSE(Control("LblFilterCount")->isVisible());
  Select(RecordCategory::kCameraRoll);
  EXPECT_FALSE(filter->isEnabled());
  Select(RecordCategory::kNotes);
  EXPECT_TRUE(filter->isChecked());
  EXPECT_EQ(Rows(), deleted);

  filter->click();
  EXPECT_FALSE(page_->OnlyDeleted(RecordCategory::kNotes));
  EXPECT_EQ(Rows(), all);
  EXPECT_FALSE(Control("LblFilterCount")->isVisible());
  EXPECT_EQ(Text("LblStatistics"), before);
}

TEST_F(ScanPageTest, CheckBoxesOfTreeListAndHeaderChangeTheSelection) {
  ScanToEnd();
  const QString all = Text("LblStatistics");
  const QModelIndex contacts = NodeOf(RecordCategory::kContacts);
  ASSERT_TRUE(Tree()->model()->setData(contacts, Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_NE(Text("LblStatistics"), all);
  EXPECT_EQ(Text("LblStatistics"), ExpectedStatistics());
  EXPECT_EQ(contacts.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  Select(RecordCategory::kContacts);
  EXPECT_EQ(List()->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  auto* checkAll = Control<QCheckBox>("CheckAll");
  EXPECT_EQ(checkAll->checkState(), Qt::Unchecked);

  // One row back on: the category is partly checked.
  ASSERT_TRUE(List()->model()->setData(List()->model()->index(0, 0), Qt::Checked, Qt::CheckStateRole));
  EXPECT_EQ(NodeOf(RecordCategory::kContacts).data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
  EXPECT_EQ(checkAll->checkState(), Qt::PartiallyChecked);
  EXPECT_EQ(Text("LblStatistics"), ExpectedStatistics());

  checkAll->click();
  EXPECT_EQ(NodeOf(RecordCategory::kContacts).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(Text("LblStatistics"), all);

  // Nothing checked anywhere: nothing to recover.
  QAbstractItemModel* tree = Tree()->model();
  for (int group = 0; group < tree->rowCount(); ++group) {
    tree->setData(tree->index(group, 0), Qt::Unchecked, Qt::CheckStateRole);
  }
  EXPECT_FALSE(Control<QPushButton>("BtnRecovery")->isEnabled());
}

TEST_F(ScanPageTest, AppFoldersOpenAndLeadBack) {
  ScanToEnd();
  Select(RecordCategory::kAppPhotos);
  ASSERT_GT(Rows(), 0);
  EXPECT_EQ(List()->model()->headerData(1, Qt::Horizontal).toString(), "App Name");
  EXPECT_EQ(Cell(0, 2), "Folder");
  const QString folder = Cell(0, 1);
  EXPECT_FALSE(Control("BtnBackAppDir")->isVisible());
  const int folders = Rows();

  List()->setCurrentIndex(List()->model()->index(0, 1));
  EXPECT_GT(pane_.cleared, 0);  // a folder row previews nothing
  const QRect rect = List()->visualRect(List()->model()->index(0, 1));
  QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, rect.center());
  QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, rect.center());
  ASSERT_TRUE(Control("BtnBackAppDir")->isVisible());
  EXPECT_EQ(List()->model()->headerData(2, Qt::Horizontal).toString(), "App Name");
  std::size_t files = 0;
  for (const auto& file : built_->backup.media.appFiles)
    files += QString::fromStdString(file.appName) == folder;
  EXPECT_GE(static_cast<std::size_t>(Rows()), 1u);
  EXPECT_LE(static_cast<std::size_t>(Rows()), files);
  for (int row = 0; row < Rows(); ++row) EXPECT_EQ(Cell(row, 2), folder);

  corvyn::testing::ClickButton(page_.get(), "BtnBackAppDir");
  EXPECT_FALSE(Control("BtnBackAppDir")->isVisible());
  EXPECT_EQ(Rows(), folders);
  EXPECT_EQ(Cell(0, 2), "Folder");
}

TEST_F(ScanPageTest, ClickingAHeaderSortsAndClickingAgainReverses) {
  ScanToEnd();
  Select(RecordCategory::kCallHistory);
  ASSERT_GE(Rows(), 2);
  QHeaderView* header = List()->header();
  const int numberColumn = 2;  // "Phone Number"
  const auto column = [&] {
    std::vector<QString> cells;
    for (int row = 0; row < Rows(); ++row) cells.push_back(Cell(row, numberColumn));
    return cells;
  };
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(numberColumn) + 10, header->height() / 2));
  std::vector<QString> ascending = column();
  EXPECT_TRUE(std::is_sorted(ascending.begin(), ascending.end()));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(numberColumn) + 10, header->height() / 2));
  std::vector<QString> descending = column();
  EXPECT_TRUE(std::is_sorted(descending.rbegin(), descending.rend()));
  EXPECT_NE(ascending, descending);
  // The check column does not sort: the rows and the arrow stay.
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(0) + 4, header->height() / 2));
  EXPECT_EQ(column(), descending);
  EXPECT_EQ(header->sortIndicatorSection(), numberColumn);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(ScanPageTest, StopAsksAndADeclinedStopKeepsThePause) {
  page_->StartScan(Request());
  ASSERT_TRUE(page_->Scanning());
  EXPECT_FALSE(Control<QPushButton>("BtnHome")->isEnabled());
  EXPECT_TRUE(Control("ScanToolBar")->isVisible());
  corvyn::testing::ClickButton(page_.get(), "BtnScanPause");
  ASSERT_TRUE(page_->Driver().IsPaused());
  EXPECT_EQ(Control<QPushButton>("BtnScanPause")->text(), Message("MSG0506"));
  // The worker is held: the bar and the percentage settle on the driver's value.
  const int percent = page_->Driver().Progress();
  EXPECT_TRUE(WaitFor([&] { return Text("LblPercent") == QStringLiteral("%1%").arg(percent); }));
  EXPECT_EQ(Control<QProgressBar>("ProgressScan")->value(), percent);

  QString asked;
  WhenModalShows({}, [&](QWidget* box) {
    asked = box->findChild<QWidget*>("message")->property("text").toString();
    corvyn::testing::ClickButton(box, "cancelbtn");
  });
  corvyn::testing::ClickButton(page_.get(), "BtnScanStop");
  EXPECT_EQ(asked, Message("MSG0508"));
  EXPECT_TRUE(page_->Scanning());
  EXPECT_TRUE(page_->Driver().IsPaused());
  EXPECT_TRUE(Control("ScanToolBar")->isVisible());

  WhenModalShows({}, [](QWidget* box) { corvyn::testing::ClickButton(box, "okbtn"); });
  corvyn::testing::ClickButton(page_.get(), "BtnScanStop");
  ASSERT_TRUE(WaitFor([&] { return Control("ReocveryToolBar")->isVisible(); }));
  EXPECT_FALSE(page_->Scanning());
  EXPECT_EQ(page_->Driver().FinalStatus(), kStopped);
  EXPECT_EQ(Control<QPushButton>("BtnScanPause")->text(), Message("MSG0507"));
  EXPECT_TRUE(Control<QPushButton>("BtnHome")->isEnabled());
}

TEST_F(ScanPageTest, RecoverWritesTheCheckedFilesToTheChosenFolder) {
  ScanToEnd();
  const fs::path out = temp_.Path() / "recovered";
  QString askedTitle;
  page_->chooseFolder = [&](QWidget*, const QString& title) {
    askedTitle = title;
    return QString::fromStdString(out.string());
  };
  WhenModalShows("RecoverProcessWnd", [](QWidget* window) {
    auto* finish = window->findChild<QPushButton*>("FinishBtn");
    ASSERT_TRUE(WaitFor([&] { return finish->isVisible(); }, 60000));
    corvyn::testing::ClickButton(window, "FinishBtn");
  });
  corvyn::testing::ClickButton(page_.get(), "BtnRecovery");
  EXPECT_EQ(askedTitle, Message("MSG0509"));
  std::set<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(out))
    written.insert(entry.path().filename().string());
  for (const auto& photo : built_->backup.media.cameraRoll)
    EXPECT_EQ(written.count(photo.name), 1u) << photo.name;
}

TEST_F(ScanPageTest, TheCurrentRowGoesToThePreviewPane) {
  ScanToEnd();
  Select(RecordCategory::kContacts);
  List()->setCurrentIndex(List()->model()->index(1, 1));
  ASSERT_FALSE(pane_.shown.empty());
  EXPECT_EQ(pane_.shown.back().category, RecordCategory::kContacts);
  {
    auto access = page_->Driver().LockResults();
    EXPECT_EQ(pane_.shown.back().record, static_cast<const void*>(&access.results.contacts[1]));
  }
  EXPECT_EQ(pane_.lastEngine, page_->Driver().Engine());

  auto* preview = Control<QCheckBox>("OptOnOffPreview");
  EXPECT_TRUE(page_->PreviewHost()->isVisible());
  preview->click();
  EXPECT_FALSE(page_->PreviewHost()->isVisible());
}

TEST_F(ScanPageTest, TextsFollowTheLanguageLive) {
  ScanToEnd();
  ASSERT_EQ(store_->SetLanguage("German"), kOk);
  ui::ReapplyLanguageEverywhere();
  EXPECT_EQ(Control<QCheckBox>("OptOnOffFilter")->text(), "Nur gelöschte Elemente anzeigen");
  EXPECT_EQ(Control<QPushButton>("BtnScanPause")->text(), Message("MSG0507"));
  EXPECT_TRUE(Text("LblStatistics").startsWith("Ausgewählt: "));
  EXPECT_EQ(NodeOf(RecordCategory::kContacts).data().toString(), "Contacts (2)");
}

// A copy of the built backup, damaged by `damage`, as a scan request.
ScanRequest DamagedCopy(const fs::path& from, const fs::path& to,
                        const std::function<void(const fs::path&)>& damage) {
  fs::copy(from, to, fs::copy_options::recursive);
  damage(to);
  ScanRequest request;
  EXPECT_EQ(backup::ReadBackupFolder(to, request.backup), kOk);
  return request;
}

TEST_F(ScanPageTest, FailuresAreShownInWords) {
  const fs::path source = built_->temp.Path() / "backup";
  const struct {
    const char* name;
    std::function<void(const fs::path&)> damage;
    QString box;    // the error box's text; empty: no box
    QString notes;  // the quiet line under the list
  } cases[] = {
      {"no file list", [](const fs::path& folder) { fs::remove(folder / "Manifest.mbdb"); },
       "The backup cannot be opened: the backup folder holds no list of its files (Manifest.mbdb or "
       "Manifest.db)",
       ""},
      {"damaged notes",
       [](const fs::path& folder) {
         std::ofstream(folder / testsupport::StoredNameFor("HomeDomain", "Library/Notes/notes.sqlite"),
                       std::ios::binary | std::ios::trunc)
             << std::string(100, '\x5a');
       },
       "", "Not everything could be read: Notes: the data is damaged or not in the expected format"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ScanRequest request = DamagedCopy(source, temp_.Path() / c.name, c.damage);
    QString said;
    if (!c.box.isEmpty()) {
      WhenModalShows({}, [&](QWidget* box) {
        said = box->findChild<QWidget*>("message")->property("text").toString();
        corvyn::testing::ClickButton(box, "okbtn");
      });
    }
    page_->StartScan(request);
    ASSERT_TRUE(
        WaitFor([&] { return !page_->Scanning() && Control("ReocveryToolBar")->isVisible(); }, 60000));
    if (!c.box.isEmpty()) {
      ASSERT_TRUE(WaitFor([&] { return !said.isEmpty(); }));
    }
    EXPECT_EQ(said, c.box);
    EXPECT_EQ(Text("LblScanNotes"), c.notes);
  }
}

// A row of Manifest.db that leads outside its domain is named under the
// list, and everything else is scanned.
TEST_F(ScanPageTest, RefusedFileListRowsAreNamedUnderTheList) {
  testsupport::BackupBuilder builder;
  builder.info.displayName = "Newer iPhone";
  builder.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", testsupport::MakeJpegExif(3000, 1));
  builder.AddFile("HomeDomain", "../../etc/passwd", "not for us");
  const fs::path folder = temp_.Path() / "newer";
  ASSERT_EQ(builder.WriteNewerLayout(folder), kOk);
  ScanRequest request;
  ASSERT_EQ(backup::ReadBackupFolder(folder, request.backup), kOk);
  page_->StartScan(request);
  ASSERT_TRUE(WaitFor([&] { return !page_->Scanning() && Control("ReocveryToolBar")->isVisible(); }, 60000));
  EXPECT_TRUE(
      Text("LblScanNotes")
          .contains("File list: a row of the file list (HomeDomain-../../etc/passwd) was skipped: its "
                    "domain or path is empty or leads outside its domain"))
      << Text("LblScanNotes").toStdString();
  EXPECT_TRUE(Control<QLabel>("LblScanNotes")->toolTip().contains("\nFile list: ") ||
              Control<QLabel>("LblScanNotes")->toolTip().startsWith("File list: "));
  EXPECT_EQ(page_->Driver().LockResults().results.cameraRoll.size(), 1u);
}

// An encrypted backup of the newer layout names its password check above
// the bar until the check is done, then scans like any other.
TEST_F(ScanPageTest, AnEncryptedNewerBackupNamesItsPasswordCheckThenScans) {
  testsupport::BackupBuilder builder;
  builder.info.displayName = "Encrypted newer iPhone";
  builder.AddFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", testsupport::MakeJpegExif(3000, 1));
  const fs::path plain = temp_.Path() / "plain newer";
  const fs::path encrypted = temp_.Path() / "encrypted newer";
  ASSERT_EQ(builder.WriteNewerLayout(plain), kOk);
  ASSERT_EQ(testsupport::EncryptNewerLayoutFolder(plain, encrypted, "open sesame"), kOk);
  ScanRequest request;
  ASSERT_EQ(backup::ReadBackupFolder(encrypted, request.backup), kOk);
  ASSERT_TRUE(request.backup.encrypted);
  request.sourceText = "open sesame";
  const QString scanning = Text("LblScanState");
  page_->StartScan(request);
  EXPECT_EQ(Text("LblScanState"), Message("MSG0520"));
  ASSERT_TRUE(WaitFor([&] { return !page_->Scanning() && Control("ReocveryToolBar")->isVisible(); }, 60000));
  EXPECT_EQ(page_->Driver().FinalStatus(), kOk);
  EXPECT_EQ(Text("LblScanState"), scanning);
  EXPECT_EQ(page_->Driver().LockResults().results.cameraRoll.size(), 1u);
  EXPECT_FALSE(Text("LblScanNotes").contains("File list")) << Text("LblScanNotes").toStdString();
}

TEST_F(ScanPageTest, ADeviceScanWithoutAPhoneIsRefusedInWords) {
  QString said;
  WhenModalShows({}, [&](QWidget* box) {
    said = box->findChild<QWidget*>("message")->property("text").toString();
    corvyn::testing::ClickButton(box, "okbtn");
  });
  ScanRequest request = Request();
  request.sourceKind = kSourceKindDevice;
  page_->StartScan(request);
  EXPECT_EQ(said, Message("MSG0512"));
  EXPECT_FALSE(page_->Scanning());
}

// A phone unplugged while it is being backed up: the scan ends as a
// confirmed Stop does, and the user is told once.
TEST_F(ScanPageTest, APhoneUnpluggedDuringItsScanEndsItAndIsToldOnce) {
  if (!corvyn::testing::ToolOnPath("python3") || !corvyn::testing::ToolOnPath("idevicebackup2"))
    GTEST_SKIP() << "python3 and idevicebackup2 are needed for the simulated phone";
  const fs::path bin = CORVYN_BIN_DIR;
  if (!fs::exists(bin / "libcorvyn-mobiledevice.so") || !fs::exists(bin / "tool2"))
    GTEST_SKIP() << "the mobile-device library and the device helper are not built";
  constexpr const char* kUdid = "00008110-0000000000000C17";
  const fs::path folder = temp_.Path() / "phone";
  fs::create_directories(folder);
  std::ofstream(folder / "profile.json")
      << R"({"devices": [{"UDID": ")" << kUdid << R"(", "ProductVersion": "17.3", "backup": ")"
      << (built_->temp.Path() / "backup").string() << R"("}]})";
  corvyn::testing::SimPhoneProcess phone;
  ASSERT_TRUE(phone.Start(folder, folder / "profile.json"));
  std::unique_ptr<device::iPhone> iphone;
  ASSERT_EQ(
      device::iPhone::Create(
          bin, [this] { main_->PostPrivateMessage(kMsgScanState, kScanStateDeviceUnreadable); }, iphone),
      kOk);
  ASSERT_TRUE(WaitFor([&] { return iphone->DeviceStored(); }, 10000));
  ASSERT_EQ(iphone->Connect(), kOk);
  ASSERT_EQ(phone.Control(std::string("stall-backup ") + kUdid), "ok");

  // Every box is answered and counted.
  std::vector<QString> boxes;
  QTimer answer;
  answer.setInterval(5);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    boxes.push_back(box->findChild<QWidget*>("message")->property("text").toString());
    box->close();
  });
  answer.start();

  page_->programFolder = bin;
  ScanRequest request;
  request.sourceKind = kSourceKindDevice;
  request.phone = iphone.get();
  request.deviceUdid = kUdid;
  request.deviceName = "Anna";
  page_->StartScan(request);
  ASSERT_TRUE(page_->Scanning());
  EXPECT_EQ(Control<QLabel>("LblScanState")->text(), Message("MSG0522"));
  QTest::qWait(1500);  // the helper is backing up, the phone has stalled
  ASSERT_TRUE(page_->Scanning());
  ASSERT_EQ(phone.Control(std::string("detach ") + kUdid), "ok");
  ASSERT_TRUE(WaitFor([&] { return !page_->Scanning(); }, 30000));
  QTest::qWait(300);
  EXPECT_EQ(boxes, std::vector<QString>{Message("MSG0512")});
}

}  // namespace
}  // namespace corvyn::app
