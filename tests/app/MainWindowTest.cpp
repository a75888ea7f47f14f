#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStackedWidget>
#include <fstream>

#include "AppTestSupport.h"
#include "UiTestSupport.h"
#include "app/AppLinks.h"
#include "app/CMainWnd.h"
#include "app/LanguageStore.h"
#include "ui/SkinArchive.h"

namespace corvyn::app {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    ASSERT_EQ(ui::SkinArchive::LoadCurrent({}), kOk);
    store_ = corvyn::testing::InstallTestLanguages(folder_.Path());
    ASSERT_EQ(store_->CurrentLanguage(), "English");
    window_ = std::make_unique<CMainWnd>(*store_, desktop_);
    ASSERT_EQ(window_->Create(), kOk);
    window_->show();
  }
  void TearDown() override {
    window_.reset();
    ui::SetTextSource(nullptr);
  }

  QString LabelText(const char* name) const { return window_->FindControl<QLabel>(name)->text(); }

  testing::TempFolder folder_;
  std::unique_ptr<LanguageStore> store_;
  platform::RecordingDesktop desktop_;
  std::unique_ptr<CMainWnd> window_;
};

TEST_F(MainWindowTest, OpensTitledCorvynAtItsSizeCentredWithShadowAndProductName) {
  EXPECT_EQ(window_->windowTitle(), "Corvyn");
  EXPECT_EQ(window_->size(), QSize(1000, 640));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((window_->geometry().center() - screen.center()).manhattanLength(), 2);
  EXPECT_EQ(window_->Shadow().Owner(), window_.get());
  EXPECT_EQ(LabelText("LblProductName").toStdString(), store_->Text("Messages", "MSG1209"));
  EXPECT_FALSE(LabelText("LblProductName").isEmpty());
  EXPECT_EQ(window_->FindControl<QStackedWidget>("MainTabPage")->currentIndex(), 0);
}

TEST_F(MainWindowTest, OptionButtonsSwitchTheSourcePageAndTextColours) {
  auto* pages = window_->FindControl<QStackedWidget>("TabPage");
  auto colourOf = [&](const char* name) { return window_->FindControl<QLabel>(name)->styleSheet(); };
  EXPECT_EQ(pages->currentIndex(), 0);
  EXPECT_EQ(window_->CurrentSource(), 0);
  EXPECT_TRUE(colourOf("TxtIosDevice1").contains("#000000"));
  EXPECT_TRUE(colourOf("TxtBackupFile1").contains("#FFFFFF"));

  QTest::mouseClick(window_->FindControl<QAbstractButton>("OptBackupFile"), Qt::LeftButton);
  EXPECT_EQ(pages->currentIndex(), 1);
  EXPECT_EQ(window_->CurrentSource(), 1);
  EXPECT_FALSE(window_->FindControl<QAbstractButton>("OptIosDevice")->isChecked());
  for (const char* name : {"TxtBackupFile1", "TxtBackupFile2"})
    EXPECT_TRUE(colourOf(name).contains("#000000")) << name;
  for (const char* name : {"TxtIosDevice1", "TxtIosDevice2"})
    EXPECT_TRUE(colourOf(name).contains("#FFFFFF")) << name;

  // The texts laid over the option let its clicks through.
  auto* deviceTitle = window_->FindControl<QLabel>("TxtIosDevice1");
  QWidget* underMouse = window_->childAt(deviceTitle->mapTo(window_.get(), deviceTitle->rect().center()));
  ASSERT_EQ(underMouse, window_->FindControl<QWidget>("OptIosDevice"))
      << underMouse->objectName().toStdString();
  QTest::mouseClick(underMouse, Qt::LeftButton);
  EXPECT_TRUE(window_->FindControl<QAbstractButton>("OptIosDevice")->isChecked());
  EXPECT_FALSE(window_->FindControl<QAbstractButton>("OptBackupFile")->isChecked());
  EXPECT_EQ(pages->currentIndex(), 0);
}

TEST_F(MainWindowTest, ChoosingALanguageInTheAssistantMenuReappliesEveryText) {
  const QString englishTitle = LabelText("TxtIosDevice1");
  QMenu* menu = window_->BuildAssistMenu();
  auto* german = menu->findChild<QAction*>("German");
  ASSERT_NE(german, nullptr);
  EXPECT_TRUE(german->icon().isNull()) << "only the current language is marked";
  EXPECT_FALSE(menu->findChild<QAction*>("English")->icon().isNull());
  german->trigger();

  ASSERT_TRUE(testing::WaitFor([&] { return LabelText("TxtIosDevice1") != englishTitle; }));
  EXPECT_EQ(LabelText("TxtIosDevice1").toStdString(), store_->Text("MainWnd", "TxtIosDevice1"));
  EXPECT_EQ(LabelText("LblProductName").toStdString(), store_->Text("Messages", "MSG1209"));
  EXPECT_EQ(LanguageStore(folder_.Path() / "config.ini", folder_.Path() / "Languages").CurrentLanguage(),
            "German");
  QMenu* rebuilt = window_->BuildAssistMenu();
  EXPECT_FALSE(rebuilt->findChild<QAction*>("German")->icon().isNull());
  EXPECT_EQ(rebuilt->findChild<QAction*>("item_exit")->text().toStdString(),
            store_->Text("MenuWnd", "item_exit"));
}

TEST_F(MainWindowTest, AssistantItemsOpenPagesAndExitClosesTheWindow) {
  QMenu* menu = window_->BuildAssistMenu();
  for (const char* item : {"item_help", "item_faq", "item_support", "item_about"}) {
    ASSERT_NE(menu->findChild<QAction*>(item), nullptr) << item;
    menu->findChild<QAction*>(item)->trigger();
  }
  EXPECT_EQ(desktop_.opened,
            (std::vector<std::string>{kSupportPageUrl, kQuestionsPageUrl, kSupportPageUrl, kProductPageUrl}));

  QTest::keyClick(window_.get(), Qt::Key_Escape);
  QTest::keyClick(window_.get(), Qt::Key_Return);
  EXPECT_TRUE(window_->isVisible()) << "keys do not close the main window";
  menu->findChild<QAction*>("item_exit")->trigger();
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(MainWindowTest, CloseButtonClosesTheWindowAndItsShadow) {
  ASSERT_TRUE(testing::WaitFor([&] { return window_->Shadow().isVisible(); }));
  QTest::mouseClick(window_->FindControl<QAbstractButton>("closebtn"), Qt::LeftButton);
  EXPECT_FALSE(window_->isVisible());
  EXPECT_FALSE(window_->Shadow().isVisible());
}

}  // namespace
}  // namespace corvyn::app
