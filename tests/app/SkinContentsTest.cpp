// The skin archive carried by the program: every layout loads and has the
// controls the windows look up; the sprite sheet has an icon at every source
// rectangle the windows cut out of it.
#include <gtest/gtest.h>

#include <QImage>
#include <QStackedWidget>

#include "UiTestSupport.h"
#include "app/LanguageStore.h"
#include "app/skin/ControlsSheet.h"
#include "ui/CLayoutWnd.h"
#include "ui/SkinArchive.h"
#include "ui/SkinImage.h"

namespace corvyn::app {
namespace {

class SkinContentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    ASSERT_EQ(ui::SkinArchive::LoadCurrent({}), kOk);
  }
};

TEST_F(SkinContentsTest, EveryLayoutLoads) {
  int layouts = 0;
  for (const QString& name : ui::SkinArchive::Current().FileNames()) {
    if (!name.endsWith(".ui")) continue;
    ++layouts;
    ui::CLayoutWnd window;
    EXPECT_EQ(window.LoadLayout(name, "Probe"), kOk) << name.toStdString();
  }
  EXPECT_GE(layouts, 6);
  const auto styleSheet = ui::SkinArchive::Current().Read("skin.qss");
  ASSERT_TRUE(styleSheet.has_value());
  EXPECT_FALSE(styleSheet->trimmed().isEmpty());
}

TEST_F(SkinContentsTest, LayoutsHaveTheControlsTheirWindowsUse) {
  const std::vector<const char*> messageBox = {"title",     "message",  "okbtn",
                                               "cancelbtn", "closebtn", "caption"};
  const struct {
    const char* layout;
    std::vector<const char*> controls;
  } cases[] = {
      {"MainWnd",
       {"caption", "LblProductName", "BtnAssist", "minbtn", "closebtn", "MainTabPage", "OptIosDevice",
        "OptBackupFile", "TxtIosDevice1", "TxtIosDevice2", "TxtBackupFile1", "TxtBackupFile2", "TabPage"}},
      {"RecoverProcessWnd",
       {"caption", "closebtn", "Progress", "current", "recovered", "percent", "OpenBtn", "FinishBtn",
        "CancelBtn", "DetailBtn", "DetailList"}},
      {"xml\\MessageBox_Error.xml", messageBox},
      {"xml\\MessageBox_Confirm.xml", messageBox},
      {"xml\\MessageBox_Information.xml", messageBox},
      {"xml\\MessageBox_Question.xml", messageBox},
      {"xml\\MessageBox_Warning.xml", messageBox},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    ui::CLayoutWnd window;
    ASSERT_EQ(window.LoadLayout(c.layout, "Probe"), kOk);
    for (const char* control : c.controls) EXPECT_NE(window.FindControl(control), nullptr) << control;
  }
  ui::CLayoutWnd main;
  ASSERT_EQ(main.LoadLayout("MainWnd", "Probe"), kOk);
  EXPECT_EQ(main.FindControl<QStackedWidget>("MainTabPage")->count(), 2);
  EXPECT_EQ(main.FindControl<QStackedWidget>("TabPage")->count(), 2);
}

TEST_F(SkinContentsTest, LanguageSectionsNameOnlyControlsOfTheirLayout) {
  // No config: the default language, read from the files beside the program.
  LanguageStore store("/nonexistent/config.ini", std::filesystem::path(CORVYN_BIN_DIR) / "Languages");
  ASSERT_EQ(store.CurrentLanguage(), kDefaultLanguage);
  int checked = 0;
  for (const auto& [section, texts] : store.AllTexts()) {
    const QString layout = ui::SkinArchive::Current().ResolveLayout(QString::fromStdString(section));
    if (layout.isEmpty()) continue;  // a window whose layout comes later
    ++checked;
    ui::CLayoutWnd window;
    ASSERT_EQ(window.LoadLayout(layout, "Probe"), kOk);
    for (const auto& [control, text] : texts) {
      EXPECT_NE(window.FindControl(QString::fromStdString(control)), nullptr) << section << "/" << control;
    }
  }
  EXPECT_GE(checked, 6);
}

TEST_F(SkinContentsTest, SpriteSheetHasAnIconAtEverySourceRectangle) {
  const auto bytes = ui::SkinArchive::Current().Read("Controls.png");
  ASSERT_TRUE(bytes.has_value());
  QImage sheet;
  ASSERT_TRUE(sheet.loadFromData(*bytes));
  EXPECT_EQ(sheet.size(), QSize(skin::kSheetWidth, skin::kSheetHeight));
  for (const auto& icon : skin::kSheetIcons) {
    SCOPED_TRACE(std::string(icon.name));
    const QRect area(QPoint(icon.left, icon.top), QSize(icon.right - icon.left, icon.bottom - icon.top));
    ASSERT_TRUE(sheet.rect().contains(area));
    int drawn = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) drawn += qAlpha(sheet.pixel(x, y)) > 128 ? 1 : 0;
    }
    EXPECT_GE(drawn, area.width() * area.height() / 8) << "too little drawn to be seen";
  }
  // The descriptions the pages use, as they write them.
  for (const char* description : {"file='Controls.png' source='53,436,101,462' dest='0,0,48,26'",
                                  "file='Controls.png' source='2,436,50,462' dest='0,0,48,26'"}) {
    EXPECT_EQ(ui::LoadSkinImage(description).size(), QSize(48, 26)) << description;
  }
}

}  // namespace
}  // namespace corvyn::app
