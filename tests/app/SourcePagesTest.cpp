// The two source pages of the home page and the password dialog, inside a
// main window built from the real layout: the backup list over built
// backups, the other-folder loop, the password prompting and the scan
// request; the device page's pages; the web addresses of config.ini.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTreeWidget>
#include <deque>
#include <fstream>

#include "AppTestSupport.h"
#include "UiTestSupport.h"
#include "app/AppLinks.h"
#include "app/AppMessages.h"
#include "app/CDecryptionWnd.h"
#include "app/CIosDeviceVrtWnd.h"
#include "app/CItunesBackupVrtWnd.h"
#include "app/LanguageStore.h"
#include "core/EngineFactory.h"
#include "core/ScanDriver.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/simphone/SimPhoneProcess.h"
#include "ui/SkinArchive.h"
#include "ui/SkinImage.h"

namespace corvyn::app {
namespace {
namespace fs = std::filesystem;

// The main window as far as the pages see it: the real layout, and the
// private messages it receives, in order.
class RecordingMainWnd final : public ui::CLayoutWnd {
 public:
  std::vector<std::pair<int, qintptr>> messages;

 protected:
  bool HandleMessage(int message, qintptr wParam, qintptr) override {
    messages.emplace_back(message, wParam);
    return true;
  }
};

// One answer to a modal window: which window, and what the user does in it.
struct ModalStep {
  QString window;
  QString typed;                   // typed into "EditPassword" first (dialog only)
  QString button;                  // the button to click; empty: press Enter in the edit
  QString* seenMessage = nullptr;  // receives a message box's text
};

// Answers the modal windows in turn; each step waits for its window.
void Answer(std::deque<ModalStep> steps) {
  if (steps.empty()) return;
  ModalStep step = steps.front();
  steps.pop_front();
  corvyn::testing::WhenModalShows(step.window, [step, steps](QWidget* modal) {
    Answer(steps);
    if (step.seenMessage != nullptr) {
      if (auto* message = modal->findChild<QLabel*>("message")) *step.seenMessage = message->text();
    }
    if (auto* edit = modal->findChild<QLineEdit*>("EditPassword")) {
      edit->setText(step.typed);
      if (step.button.isEmpty()) QTest::keyClick(edit, Qt::Key_Return);
    }
    if (!step.button.isEmpty()) corvyn::testing::ClickButton(modal, step.button.toUtf8().constData());
  });
}

ModalStep Password(const QString& typed, const QString& button = QStringLiteral("BtnOK")) {
  return {QStringLiteral("DecryptionWnd"), typed, button};
}
ModalStep Box(const char* window, const char* button, QString* seen = nullptr) {
  return {QString::fromLatin1(window), {}, QString::fromLatin1(button), seen};
}

class SourcePagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    corvyn::testing::TestApplication();
    ASSERT_EQ(ui::SkinArchive::LoadCurrent({}), kOk);
    store_ = corvyn::testing::InstallTestLanguages(temp_.Path());
    main_ = std::make_unique<RecordingMainWnd>();
    ASSERT_EQ(main_->LoadLayout("MainWnd", "MainWnd"), kOk);
    main_->resize(1000, 640);
    main_->show();
  }
  void TearDown() override {
    backupPage_.reset();
    devicePage_.reset();
    main_.reset();
    ui::SetTextSource(nullptr);
  }

  // Writes a backup into the root; `encrypted` ones with password "secret".
  fs::path WriteBackup(const std::string& name, const std::string& date, bool encrypted) {
    testsupport::BackupBuilder builder;
    builder.info.displayName = name;
    builder.info.serialNumber = "SERIAL-" + name;
    builder.info.lastBackupDate = date;
    builder.AddFile("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb",
                    std::string("SQLite format 3\0", 16) + std::string(496, '\0'));
    const fs::path folder = root_ / name;
    const Status written = encrypted
                               ? builder.WriteEncrypted(temp_.Path() / ("plain-" + name), folder, "secret")
                               : builder.Write(folder);
    EXPECT_EQ(written, kOk);
    return folder;
  }

  CItunesBackupVrtWnd& MakeBackupPage() {
    backupPage_ = std::make_unique<CItunesBackupVrtWnd>(*main_, request_);
    backupPage_->backupRoots = [this] { return std::vector<fs::path>{root_}; };
    backupPage_->chooseFolder = [this](QWidget*, const QString& title) {
      chooserTitles_.push_back(title);
      if (chosenFolders_.empty()) return QString();
      const QString next = chosenFolders_.front();
      chosenFolders_.pop_front();
      return next;
    };
    EXPECT_EQ(backupPage_->Create(), kOk);
    backupPage_->Embed(main_->FindControl("PageItunesBackupHost"));
    main_->FindControl<QStackedWidget>("TabPage")->setCurrentIndex(1);
    return *backupPage_;
  }

  template <class T = QWidget>
  T* Page(const char* name) const {
    T* control = backupPage_->FindControl<T>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  bool ScanEnabled() const { return Page<QAbstractButton>("BtnScan")->isEnabled(); }
  bool HomeEnabled() const { return main_->FindControl("MainTabPage")->isEnabled(); }
  void Click(const char* name) { corvyn::testing::ClickButton(backupPage_.get(), name); }
  // Selects the list row showing `name`.
  void Select(const std::string& name) {
    auto* list = Page<QTreeWidget>("BackupFileList");
    const auto rows = list->findItems(QString::fromStdString(name), Qt::MatchExactly, 0);
    ASSERT_EQ(rows.size(), 1);
    list->setCurrentItem(rows.front());
  }
  // Waits for the start-scan messages posted so far.
  bool WaitForStarts(size_t count) {
    return corvyn::testing::WaitFor([&] { return Starts() >= count; });
  }
  size_t Starts() const {
    return std::count(main_->messages.begin(), main_->messages.end(),
                      std::pair<int, qintptr>(kMsgStartScan, kSourceKindBackup));
  }
  QString Message(const char* id) const { return QString::fromStdString(store_->Text("Messages", id)); }

  corvyn::testing::TempFolder temp_{"source-pages"};
  fs::path root_ = temp_.Path() / "Backup";
  std::unique_ptr<LanguageStore> store_;
  std::unique_ptr<RecordingMainWnd> main_;
  ScanRequest request_;
  std::unique_ptr<CItunesBackupVrtWnd> backupPage_;
  std::unique_ptr<CIosDeviceVrtWnd> devicePage_;
  std::deque<QString> chosenFolders_;
  std::vector<QString> chooserTitles_;
};

QImage Pixels(const QIcon& icon) {
  return icon.pixmap(QSize(48, 26)).toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST_F(SourcePagesTest, ListsTheBackupsNewestFirstWithALockOnTheEncryptedOne) {
  // Folder order (by name) is the reverse of the date order.
  WriteBackup("Anna older iPhone", "2014-05-01T23:30:00Z", false);
  WriteBackup("Newer iPad", "2016-02-03T10:00:00Z", true);
  fs::create_directories(root_ / ".hidden");
  MakeBackupPage();

  auto* list = Page<QTreeWidget>("BackupFileList");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->headerItem()->text(0), "Name");
  EXPECT_EQ(list->headerItem()->text(1), "Last Backup Date");
  EXPECT_EQ(list->headerItem()->text(2), "Serial Number");
  const struct {
    const char* name;
    const char* isoDate;
    const char* icon;
  } rows[] = {
      {"Newer iPad", "2016-02-03T10:00:00Z", "file='Controls.png' source='53,436,101,462' dest='0,0,48,26'"},
      {"Anna older iPhone", "2014-05-01T23:30:00Z",
       "file='Controls.png' source='2,436,50,462' dest='0,0,48,26'"},
  };
  for (int index = 0; index < 2; ++index) {
    SCOPED_TRACE(rows[index].name);
    QTreeWidgetItem* row = list->topLevelItem(index);
    EXPECT_EQ(row->text(0), rows[index].name);
    EXPECT_EQ(row->text(1), QString::fromStdString(backup::LocalBackupDate(rows[index].isoDate)));
    EXPECT_EQ(row->text(2), QStringLiteral("SERIAL-") + rows[index].name);
    EXPECT_EQ(Pixels(row->icon(0)), ui::LoadSkinImage(QString::fromLatin1(rows[index].icon))
                                        .toImage()
                                        .convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(list->visualItemRect(row).height(), 40);
  }
  EXPECT_EQ(list->currentItem(), list->topLevelItem(0)) << "the newest is selected";
  EXPECT_TRUE(ScanEnabled());
  EXPECT_FALSE(Page("LblEmptyHint")->isVisible());

  list->setCurrentItem(nullptr);
  EXPECT_FALSE(ScanEnabled()) << "nothing selected";
}

TEST_F(SourcePagesTest, AnUnfinishedBackupIsListedAndSaidToBeUnfinished) {
  testsupport::BackupBuilder builder;
  builder.info.displayName = "Half iPhone";
  builder.info.snapshotState = "uploading";
  ASSERT_EQ(builder.Write(root_ / "half"), kOk);
  MakeBackupPage();
  auto* list = Page<QTreeWidget>("BackupFileList");
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "Half iPhone (unfinished: some files may be missing)");
  EXPECT_TRUE(list->topLevelItem(0)->toolTip(0).endsWith("iOS 7.1.2"));
}

TEST_F(SourcePagesTest, WithoutBackupsScanStaysOffAndAnotherFolderCanBeChosen) {
  MakeBackupPage();
  EXPECT_FALSE(ScanEnabled());
  EXPECT_TRUE(Page("LblEmptyHint")->isVisible());
  EXPECT_TRUE(Page<QLabel>("LblEmptyHint")->text().contains(QString::fromStdString(root_.string())));
  EXPECT_FALSE(Page("BackupFileList")->isVisible());

  // An empty folder: asked to try again; OK shows the chooser once more,
  // which then gives a backup, and its scan starts.
  const fs::path elsewhere = temp_.Path() / "usb" / "Backup";
  fs::create_directories(temp_.Path() / "empty");
  {
    testsupport::BackupBuilder builder;
    builder.info.displayName = "Kept Elsewhere";
    ASSERT_EQ(builder.Write(elsewhere), kOk);
  }
  chosenFolders_ = {QString::fromStdString((temp_.Path() / "empty").string()),
                    QString::fromStdString(elsewhere.string())};
  QString question;
  Answer({Box("MessageBox_Warning", "okbtn", &question)});
  Click("BtnSelDir");
  ASSERT_TRUE(WaitForStarts(1));
  EXPECT_EQ(chooserTitles_.size(), 2u);
  EXPECT_EQ(chooserTitles_.front(), Message("MSG0310"));
  EXPECT_EQ(question, Message("MSG0311"));
  EXPECT_EQ(request_.backup.displayName, "Kept Elsewhere");
  EXPECT_EQ(request_.backup.folder, elsewhere);

  // Cancel ends the loop: nothing starts and the page stays usable.
  backupPage_->EnableControls(true);
  chooserTitles_.clear();
  chosenFolders_ = {QString::fromStdString((temp_.Path() / "empty").string())};
  Answer({Box("MessageBox_Warning", "cancelbtn")});
  Click("BtnSelDir");
  QTest::qWait(50);
  EXPECT_EQ(chooserTitles_.size(), 1u);
  EXPECT_EQ(Starts(), 1u);
  EXPECT_TRUE(Page("BtnSelDir")->isEnabled());
}

TEST_F(SourcePagesTest, APlainBackupStartsItsScanWithoutAPassword) {
  const fs::path folder = WriteBackup("Plain", "2014-05-01T23:30:00Z", false);
  MakeBackupPage();
  request_.sourceText = "left over";
  Click("BtnScan");
  ASSERT_TRUE(WaitForStarts(1));
  EXPECT_EQ(request_.sourceKind, kSourceKindBackup);
  EXPECT_EQ(request_.backup.folder, folder);
  EXPECT_EQ(request_.backup.encrypted, 0);
  EXPECT_EQ(request_.sourceText, "");
  EXPECT_FALSE(ScanEnabled());
  EXPECT_FALSE(HomeEnabled()) << "the home page waits while the scan starts";
  backupPage_->EnableControls(true);
  EXPECT_TRUE(ScanEnabled());
  EXPECT_TRUE(HomeEnabled());
}

TEST_F(SourcePagesTest, AnEncryptedBackupAsksForItsPasswordUntilOneIsGiven) {
  WriteBackup("Plain", "2016-01-01T00:00:00Z", false);
  const fs::path folder = WriteBackup("Locked", "2014-05-01T23:30:00Z", true);
  MakeBackupPage();
  Select("Locked");

  // Cancelling gives the page back.
  Answer({Password("", "BtnCancel")});
  Click("BtnScan");
  QTest::qWait(50);
  EXPECT_EQ(Starts(), 0u);
  EXPECT_TRUE(ScanEnabled());
  EXPECT_TRUE(HomeEnabled());

  // An empty password is warned about; OK asks again, Enter confirms.
  QString warning;
  Answer({Password(""), Box("MessageBox_Warning", "okbtn", &warning), Password("secret", "")});
  Click("BtnScan");
  ASSERT_TRUE(WaitForStarts(1));
  EXPECT_EQ(warning, Message("MSG0301"));
  EXPECT_EQ(request_.backup.folder, folder);
  EXPECT_EQ(request_.backup.encrypted, 1);
  EXPECT_EQ(request_.sourceText, "secret");
  EXPECT_FALSE(HomeEnabled());

  // The scan says the password was wrong: told so, asked again, started again.
  QString told;
  Answer({Box("MessageBox_Information", "okbtn", &told), Password("secret again")});
  backupPage_->OnWrongPassword();
  ASSERT_TRUE(WaitForStarts(2));
  EXPECT_EQ(told, Message("MSG0302"));
  EXPECT_EQ(request_.backup.folder, folder);
  EXPECT_EQ(request_.sourceText, "secret again");

  // ... and after a wrong one the user may give up.
  Answer({Box("MessageBox_Information", "okbtn"), Password("", "BtnCancel")});
  backupPage_->OnWrongPassword();
  QTest::qWait(50);
  EXPECT_EQ(Starts(), 2u);
  EXPECT_TRUE(ScanEnabled());
  EXPECT_TRUE(HomeEnabled());
}

TEST_F(SourcePagesTest, PasswordPromptRules) {
  const struct {
    const char* what;
    std::deque<ModalStep> steps;
    bool confirmed;
    std::string password;
  } cases[] = {
      {"cancel", {Password("typed", "BtnCancel")}, false, "untouched"},
      {"close button", {Password("typed", "closebtn")}, false, "untouched"},
      {"OK", {Password("pa ss")}, true, "pa ss"},
      {"Enter", {Password("by enter", "")}, true, "by enter"},
      {"empty, then go on empty", {Password(""), Box("MessageBox_Warning", "cancelbtn")}, true, ""},
      {"empty, then ask again",
       {Password(""), Box("MessageBox_Warning", "okbtn"), Password("second")},
       true,
       "second"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string password = "untouched";
    Answer(c.steps);
    EXPECT_EQ(AskBackupPassword(main_.get(), &password), c.confirmed);
    EXPECT_EQ(password, c.password);
  }
}

TEST_F(SourcePagesTest, PasswordDialogNamesItsPurpose) {
  for (const auto& [purpose, id] : {std::pair{CDecryptionWnd::Purpose::kBackup, "MSG0602"},
                                    std::pair{CDecryptionWnd::Purpose::kDevice, "MSG0601"}}) {
    CDecryptionWnd dialog(main_.get(), purpose);
    ASSERT_EQ(dialog.Create(), kOk);
    EXPECT_EQ(dialog.size(), QSize(CDecryptionWnd::kWidth, CDecryptionWnd::kHeight));
    EXPECT_EQ(dialog.FindControl<QLabel>("Description")->text(), Message(id));
    auto* edit = dialog.FindControl<QLineEdit>("EditPassword");
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(edit->maxLength(), 256);
  }
}

TEST_F(SourcePagesTest, TextsFollowTheLanguage) {
  MakeBackupPage();
  ASSERT_EQ(store_->SetLanguage("German"), kOk);
  ui::ReapplyLanguageEverywhere();
  auto* list = Page<QTreeWidget>("BackupFileList");
  EXPECT_EQ(list->headerItem()->text(1), Message("MSG0315"));
  EXPECT_NE(list->headerItem()->text(1), "Last Backup Date");
  EXPECT_TRUE(Page<QLabel>("LblEmptyHint")->text().startsWith(Message("MSG0312")));
  EXPECT_EQ(Page<QAbstractButton>("BtnSelDir")->text(), "Ordner wählen");
}

TEST_F(SourcePagesTest, DevicePageFollowsTheSoftwareAndTheDevice) {
  platform::RecordingDesktop desktop;
  bool software = false;
  int tests = 0;
  devicePage_ = std::make_unique<CIosDeviceVrtWnd>(*main_, desktop, [&] {
    ++tests;
    return software;
  });
  ASSERT_EQ(devicePage_->Create(), kOk);
  devicePage_->Embed(main_->FindControl("PageIosDeviceHost"));
  auto* tabs = devicePage_->FindControl<QStackedWidget>("TabIosDevice");
  EXPECT_EQ(devicePage_->ShownPage(), 0);
  EXPECT_TRUE(devicePage_->HasTimer(tabs, 101));

  corvyn::testing::ClickButton(devicePage_.get(), "BtnAppleUrl");
  EXPECT_EQ(desktop.opened, std::vector<std::string>{ConfiguredAppLinks().deviceSoftware});

  software = true;
  const int before = tests;
  corvyn::testing::ClickButton(devicePage_.get(), "BtnItunesRetry");
  EXPECT_GT(tests, before);
  EXPECT_EQ(devicePage_->ShownPage(), 1);

  software = false;  // the service went away: the next tick notices
  EXPECT_TRUE(corvyn::testing::WaitFor([&] { return devicePage_->ShownPage() == 0; }, 3000));
  software = true;
  EXPECT_TRUE(corvyn::testing::WaitFor([&] { return devicePage_->ShownPage() == 1; }, 3000));

  corvyn::testing::ClickButton(devicePage_.get(), "BtnDeviceScan");
  QTest::qWait(20);
  EXPECT_TRUE(main_->messages.empty()) << "no device, no scan";

  devicePage_->detectDevice = [] { return DeviceFacts{"Anna", "iPhone", "17.2"}; };
  devicePage_->askEncryption = [](bool& encrypted) {
    encrypted = false;
    return Status();
  };
  EXPECT_TRUE(corvyn::testing::WaitFor([&] { return devicePage_->ShownPage() == 2; }, 3000));
  EXPECT_EQ(devicePage_->FindControl<QLabel>("IphoneInfo")->text(), "Anna (iPhone 17.2)");
  EXPECT_FALSE(devicePage_->HasTimer(tabs, 101)) << "a ready device stops the polling";
  corvyn::testing::ClickButton(devicePage_.get(), "BtnDeviceScan");
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return !main_->messages.empty(); }));
  EXPECT_EQ(main_->messages.front(), (std::pair<int, qintptr>(kMsgStartScan, kSourceKindDevice)));

  devicePage_->detectDevice = nullptr;
  devicePage_->OnDeviceRemoved();
  EXPECT_EQ(devicePage_->ShownPage(), 1);
  EXPECT_TRUE(devicePage_->HasTimer(tabs, 101));
}

// The device page with the real mobile-device library against the
// simulated phone: arrival, the phone's description, removal and return,
// and a phone that does not trust this computer yet.
TEST_F(SourcePagesTest, DevicePageFollowsARealPhoneThroughTheLibrary) {
  if (!corvyn::testing::ToolOnPath("python3")) GTEST_SKIP() << "python3 is not installed: no simulated phone";
  if (!fs::exists(fs::path(CORVYN_BIN_DIR) / "libcorvyn-mobiledevice.so"))
    GTEST_SKIP() << "the mobile-device library is not built";
  const fs::path folder = temp_.Path() / "phone";
  fs::create_directories(folder);
  std::ofstream(folder / "profile.json") << R"({"devices": [
    {"UDID": "00008110-0000000000000A17", "DeviceName": "Anna's iPhone", "DeviceClass": "iPhone",
     "ProductVersion": "17.3"},
    {"UDID": "00008110-0000000000000B17", "DeviceName": "Ben's iPad", "attached": false,
     "refusesPairing": "PairingDialogResponsePending"}]})";
  corvyn::testing::SimPhoneProcess phone;
  ASSERT_TRUE(phone.Start(folder, folder / "profile.json"));

  platform::RecordingDesktop desktop;
  devicePage_ = std::make_unique<CIosDeviceVrtWnd>(*main_, desktop, [] { return true; });
  devicePage_->programFolder = CORVYN_BIN_DIR;
  ASSERT_EQ(devicePage_->Create(), kOk);
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return devicePage_->ShownPage() == 2; }, 10000));
  EXPECT_EQ(devicePage_->FindControl<QLabel>("IphoneInfo")->text(), "Anna's iPhone (iPhone 17.3)");

  // Unplugged: the main window hears of it (1035 with 2) and, as it does, tells the page.
  EXPECT_EQ(phone.Control("detach 00008110-0000000000000A17"), "ok");
  ASSERT_TRUE(corvyn::testing::WaitFor([&] {
    return std::count(main_->messages.begin(), main_->messages.end(),
                      std::pair<int, qintptr>(kMsgScanState, kScanStateDeviceUnreadable)) == 1;
  }));
  devicePage_->OnDeviceRemoved();
  EXPECT_EQ(devicePage_->ShownPage(), 1);

  // A phone still asking "Trust This Computer?" keeps the page waiting, with words on what to do.
  EXPECT_EQ(phone.Control("attach 00008110-0000000000000B17"), "ok");
  auto* problem = devicePage_->FindControl<QLabel>("LblConnectProblem");
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return problem->isVisibleTo(devicePage_.get()); }, 10000));
  EXPECT_TRUE(problem->text().contains("Trust")) << problem->text().toStdString();
  EXPECT_EQ(devicePage_->ShownPage(), 1);
}

TEST_F(SourcePagesTest, DeviceScanAsksForThePasswordThePhoneAccepts) {
  platform::RecordingDesktop desktop;
  devicePage_ = std::make_unique<CIosDeviceVrtWnd>(*main_, desktop, [] { return true; });
  devicePage_->request = &request_;
  devicePage_->detectDevice = [] { return DeviceFacts{"Anna", "iPhone", "17.2"}; };
  bool encrypted = true;
  Status encryptionAnswer;
  std::vector<std::string> offered;
  std::deque<std::string> typed;
  devicePage_->askEncryption = [&](bool& answer) {
    answer = encrypted;
    return encryptionAnswer;
  };
  devicePage_->askPassword = [&](QWidget*, std::string* password) {
    if (typed.empty()) return false;
    *password = typed.front();
    typed.pop_front();
    return true;
  };
  devicePage_->checkPassword = [&](const std::string& password) {
    offered.push_back(password);
    return password == "right" ? Status() : Status(kPasswordRefused);
  };
  ASSERT_EQ(devicePage_->Create(), kOk);
  ASSERT_EQ(devicePage_->ShownPage(), 2);
  const auto starts = [&] {
    return std::count(main_->messages.begin(), main_->messages.end(),
                      std::pair<int, qintptr>(kMsgStartScan, kSourceKindDevice));
  };

  // Cancelled: nothing starts, nothing is checked.
  corvyn::testing::ClickButton(devicePage_.get(), "BtnDeviceScan");
  QTest::qWait(20);
  EXPECT_EQ(starts(), 0);
  EXPECT_TRUE(offered.empty());

  // Refused by the phone: said, and nothing starts.
  QString said;
  corvyn::testing::WhenModalShows({}, [&](QWidget* box) {
    said = box->findChild<QWidget*>("message")->property("text").toString();
    corvyn::testing::ClickButton(box, "okbtn");
  });
  typed = {"wrong"};
  corvyn::testing::ClickButton(devicePage_.get(), "BtnDeviceScan");
  EXPECT_EQ(said, Message("MSG0302"));
  QTest::qWait(20);
  EXPECT_EQ(starts(), 0);

  // Accepted: the request carries it and the scan starts.
  typed = {"right"};
  corvyn::testing::ClickButton(devicePage_.get(), "BtnDeviceScan");
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return starts() == 1; }));
  EXPECT_EQ(request_.sourceKind, kSourceKindDevice);
  EXPECT_EQ(request_.sourceText, "right");
  EXPECT_EQ(request_.deviceName, "Anna");
  EXPECT_EQ(offered, (std::vector<std::string>{"wrong", "right"}));

  // No answer from the helper: said, then scanned as a phone that does not encrypt.
  said.clear();
  encryptionAnswer = Status(kInvalidData, "no answer");
  corvyn::testing::WhenModalShows({}, [&](QWidget* box) {
    said = box->findChild<QWidget*>("message")->property("text").toString();
    box->close();
  });
  corvyn::testing::ClickButton(devicePage_.get(), "BtnDeviceScan");
  ASSERT_TRUE(corvyn::testing::WaitFor([&] { return starts() == 2; }));
  EXPECT_EQ(said, Message("MSG0512"));
  EXPECT_EQ(request_.sourceText, "");
}

TEST(DeviceInfoText, BracketsTheClassAndTheVersionWhenThereIsOne) {
  EXPECT_EQ(DeviceInfoText({"Anna", "iPhone", "17.2"}), "Anna (iPhone 17.2)");
  EXPECT_EQ(DeviceInfoText({"Anna", "iPad", ""}), "Anna (iPad)");
}

TEST(AppLinks, ReadFromConfigWithDefaultsForWhatIsMissing) {
  corvyn::testing::TempFolder temp("app-links");
  const fs::path config = temp.Path() / "config.ini";
  std::ofstream(config) << "[DefaultLanguage]\nDefault=English\n[links]\nSUPPORT = https://help.test/\n"
                           "Questions=\nDeviceSoftware=https://usbmuxd.test/\n";
  const AppLinks links = ReadAppLinks(config);
  EXPECT_EQ(links.support, "https://help.test/");
  EXPECT_EQ(links.questions, kDefaultQuestionsPageUrl) << "an empty value keeps the default";
  EXPECT_EQ(links.product, kDefaultProductPageUrl) << "a missing key keeps the default";
  EXPECT_EQ(links.deviceSoftware, "https://usbmuxd.test/");

  const AppLinks none = ReadAppLinks(temp.Path() / "missing.ini");
  EXPECT_EQ(none.support, kDefaultSupportPageUrl);
  EXPECT_EQ(none.deviceSoftware, kDefaultDeviceSoftwareUrl);

  // The named addresses are the configured ones.
  EXPECT_EQ(std::string(kSupportPageUrl), ConfiguredAppLinks().support);
  EXPECT_EQ(std::string_view(kProductPageUrl), ConfiguredAppLinks().product);
}

}  // namespace
}  // namespace corvyn::app
