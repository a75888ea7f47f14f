#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "UiTestSupport.h"
#include "ui/CMessageBox.h"
#include "ui/CPopUpWnd.h"
#include "ui/CWndShadow.h"
#include "ui/SkinArchive.h"

namespace corvyn::ui {
namespace {

class MapTextSource final : public ITextSource {
 public:
  TextSection& Section(const std::string& name) override { return sections[name]; }
  std::map<std::string, TextSection> sections;
};

// Runs `show` (which enters a modal loop) and, once a modal window is up,
// `act` on it. Returns what `show` returned.
int RunModal(const std::function<int()>& show, const std::function<void(QWidget*)>& act) {
  testing::WhenModalShows({}, act);
  return show();
}

using testing::ClickButton;

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    ASSERT_EQ(SkinArchive::LoadCurrent({}), kOk);
    texts_.sections["Messages"] = {{"MSG0401", "Error title"},
                                   {"MSG0402", "Confirm title"},
                                   {"MSG0403", "Information title"},
                                   {"MSG0404", "Question title"},
                                   {"MSG0405", "Warning title"}};
    SetTextSource(&texts_);
    ownerWindow_ = std::make_unique<QWidget>();  // widgets only after the application exists
    ownerWindow_->setGeometry(100, 100, 800, 500);
    ownerWindow_->show();
  }
  void TearDown() override {
    ownerWindow_.reset();
    SetTextSource(nullptr);
  }
  MapTextSource texts_;
  std::unique_ptr<QWidget> ownerWindow_;
};

TEST_F(DialogTest, MessageBoxKindsUseTheirLayoutsAndDefaultTitles) {
  const char* titles[] = {"Error title", "Confirm title", "Information title", "Question title",
                          "Warning title"};
  for (int kind = 0; kind <= 4; ++kind) {
    SCOPED_TRACE(kind);
    CMessageBox box(ownerWindow_.get());
    ASSERT_EQ(box.Prepare(kind, ownerWindow_.get(), std::nullopt, "Body text", 550, 200), kOk);
    EXPECT_EQ(box.FindControl<QLabel>("title")->text(), titles[kind]);
    EXPECT_EQ(box.FindControl<QLabel>("message")->text(), "Body text");
    for (const char* name : {"okbtn", "cancelbtn", "closebtn"})
      EXPECT_NE(box.FindControl(name), nullptr) << name;
  }
  CMessageBox explicitTitle(ownerWindow_.get());
  ASSERT_EQ(explicitTitle.Prepare(kMessageBoxWarning, ownerWindow_.get(), QString("Question"), "Try again?",
                                  350, 150),
            kOk);
  EXPECT_EQ(explicitTitle.FindControl<QLabel>("title")->text(), "Question");
  CMessageBox emptyTitle(ownerWindow_.get());
  ASSERT_EQ(emptyTitle.Prepare(kMessageBoxError, ownerWindow_.get(), QString(), "x", 350, 150), kOk);
  EXPECT_EQ(emptyTitle.FindControl<QLabel>("title")->text(), "") << "a given empty title is not replaced";
  CMessageBox unknownKind(ownerWindow_.get());
  ASSERT_EQ(unknownKind.Prepare(9, ownerWindow_.get(), std::nullopt, "x", 350, 150), kOk);
  EXPECT_EQ(unknownKind.FindControl<QLabel>("title")->text(), "Information title");
}

TEST_F(DialogTest, MessageBoxReturnCodesAndKeys) {
  struct Case {
    const char* name;
    std::function<void(QWidget*)> act;
    int expected;
  } cases[] = {
      {"okbtn", [](QWidget* box) { ClickButton(box, "okbtn"); }, 1},
      {"cancelbtn", [](QWidget* box) { ClickButton(box, "cancelbtn"); }, 2},
      {"closebtn", [](QWidget* box) { ClickButton(box, "closebtn"); }, 2},
      {"Escape", [](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); }, 2},
      {"window closed by the system", [](QWidget* box) { box->close(); }, 2},
      {"Enter does not close",
       [](QWidget* box) {
         auto* ok = box->findChild<QPushButton*>("okbtn");
         ok->setFocus();
         QTest::keyClick(ok, Qt::Key_Return);
         QTest::keyClick(box, Qt::Key_Enter);
         QTest::keyClick(box, Qt::Key_Return);
         if (box->isVisible()) ClickButton(box, "cancelbtn");  // still open: only then can cancel decide
       },
       2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int result = RunModal(
        [&] {
          return CMessageBox::Show(kMessageBoxQuestion, ownerWindow_.get(), std::nullopt, "Stop the scan?",
                                   550, 200);
        },
        c.act);
    EXPECT_EQ(result, c.expected);
  }
}

TEST_F(DialogTest, MessageBoxIsSizedAndCentredOnItsOwner) {
  QRect shown;
  RunModal(
      [&] {
        return CMessageBox::Show(kMessageBoxInformation, ownerWindow_.get(), std::nullopt, "x", 550, 180);
      },
      [&](QWidget* box) {
        shown = box->geometry();
        ClickButton(box, "okbtn");
      });
  EXPECT_EQ(shown.size(), QSize(550, 180));
  EXPECT_LE((shown.center() - ownerWindow_->frameGeometry().center()).manhattanLength(), 2);
}

TEST_F(DialogTest, PopUpClosesWithOneForOkAndTwoForCloseOrCancel) {
  struct Case {
    const char* button;
    int expected;
  } cases[] = {{"okbtn", 1}, {"closebtn", 2}, {"cancelbtn", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    CPopUpWnd popup;
    ASSERT_EQ(popup.Create(ownerWindow_.get(), "xml\\MessageBox_Confirm.xml", "MessageBox_Confirm", 500, 200),
              kOk);
    EXPECT_EQ(popup.parentWidget(), ownerWindow_.get());
    EXPECT_TRUE(popup.isModal());
    EXPECT_LE((popup.geometry().center() - ownerWindow_->frameGeometry().center()).manhattanLength(), 2);
    EXPECT_EQ(RunModal([&] { return popup.DoModal(); }, [&](QWidget*) { ClickButton(&popup, c.button); }),
              c.expected);
  }
  CPopUpWnd missing;
  EXPECT_EQ(missing.Create(ownerWindow_.get(), "xml\\NoSuchWnd.xml", "NoSuchWnd", 500, 200), kInvalidData);
}

TEST(WndShadow, FollowsItsOwner) {
  testing::TestApplication();
  auto owner = std::make_unique<QWidget>();
  owner->setGeometry(200, 150, 800, 500);
  CWndShadow shadow;
  shadow.Create(owner.get());
  EXPECT_EQ(shadow.objectName(), "CLumenShadowWnd");
  EXPECT_EQ(shadow.ShadowSize(), 4);
  EXPECT_EQ(shadow.Darkness(), 120);
  EXPECT_EQ(shadow.Color(), QColor(0x2D, 0x2D, 0x2D));
  EXPECT_FALSE(shadow.isVisible()) << "hidden while the owner is";

  owner->show();
  ASSERT_TRUE(testing::WaitFor([&] { return shadow.isVisible(); }));
  EXPECT_EQ(shadow.geometry(), owner->frameGeometry().adjusted(-4, -4, 4, 4));
  owner->move(300, 250);
  ASSERT_TRUE(
      testing::WaitFor([&] { return shadow.geometry() == owner->frameGeometry().adjusted(-4, -4, 4, 4); }));
  EXPECT_TRUE(shadow.testAttribute(Qt::WA_TranslucentBackground));
  EXPECT_TRUE(shadow.windowFlags().testFlag(Qt::WindowTransparentForInput));

  owner->hide();
  EXPECT_FALSE(shadow.isVisible());
  owner.reset();
  EXPECT_EQ(shadow.Owner(), nullptr);

  CWndShadow clamped;
  clamped.Create(nullptr, 99, 0, 0, 999);
  EXPECT_EQ(clamped.ShadowSize(), 20);
  EXPECT_EQ(clamped.Darkness(), 255);
}

}  // namespace
}  // namespace corvyn::ui
