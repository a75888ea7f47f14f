#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <thread>

#include "UiTestSupport.h"
#include "ui/CLayoutWnd.h"
#include "ui/SkinArchive.h"

namespace corvyn::ui {
namespace {

constexpr char kTestLayout[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>TestWnd</class>
 <widget class="QWidget" name="TestWnd">
  <property name="geometry"><rect><x>0</x><y>0</y><width>320</width><height>240</height></rect></property>
  <layout class="QVBoxLayout" name="rootLayout">
   <item><widget class="QWidget" name="caption"/></item>
   <item><widget class="QLabel" name="LblTitle"><property name="text"><string>Layout title</string></property></widget></item>
   <item><widget class="QLabel" name="LblHidden"><property name="visible"><bool>false</bool></property></widget></item>
   <item><widget class="QLineEdit" name="EditName"/></item>
   <item><widget class="QPushButton" name="BtnGo"><property name="text"><string>Go</string></property></widget></item>
   <item><widget class="QRadioButton" name="OptA"><property name="checked"><bool>true</bool></property></widget></item>
   <item><widget class="QRadioButton" name="OptB"/></item>
   <item><widget class="QCheckBox" name="ChkKeep"/></item>
   <item><widget class="QListWidget" name="ListItems">
     <item><property name="text"><string>zero</string></property></item>
     <item><property name="text"><string>one</string></property></item>
   </widget></item>
   <item><widget class="QComboBox" name="ComboPick">
     <item><property name="text"><string>a</string></property></item>
     <item><property name="text"><string>b</string></property></item>
   </widget></item>
  </layout>
 </widget>
</ui>
)";

class MapTextSource final : public ITextSource {
 public:
  TextSection& Section(const std::string& name) override { return sections[name]; }
  std::map<std::string, TextSection> sections;
};

struct Seen {
  QString type;
  QString sender;
  qintptr wParam;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  return out << seen.type.toStdString() << "/" << seen.sender.toStdString() << "/" << seen.wParam;
}

class RecordingWnd final : public CLayoutWnd {
 public:
  std::vector<Seen> notifications;
  std::vector<std::tuple<int, qintptr, qintptr, bool>> messages;  // number, w, l, on the window's thread

 protected:
  void Notify(const Notification& notification) override {
    notifications.push_back({notification.type, notification.senderName, notification.wParam});
    CLayoutWnd::Notify(notification);
  }
  bool HandleMessage(int message, qintptr wParam, qintptr lParam) override {
    messages.emplace_back(message, wParam, lParam, QThread::currentThread() == thread());
    return true;
  }
};

class LayoutWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::TestApplication();
    ASSERT_EQ(SkinArchive::Current().LoadFromBytes(
                  testing::MakeZip({{"xml/TestWnd.ui", kTestLayout}, {"Broken.ui", "<ui><widget"}})),
              kOk);
    texts_.sections["TestWnd"] = {{"LblTitle", "Translated title"},
                                  {"LblHidden", "Hidden text"},
                                  {"EditName", "Default name"},
                                  {"BtnGo", "Start"},
                                  {"NoSuchControl", "ignored"}};
    SetTextSource(&texts_);
  }
  void TearDown() override {
    SetTextSource(nullptr);
    ASSERT_EQ(SkinArchive::LoadCurrent({}), kOk);
  }
  MapTextSource texts_;
};

TEST_F(LayoutWindowTest, MissingOrBrokenLayoutsAreReported) {
  CLayoutWnd missing;
  EXPECT_EQ(missing.LoadLayout("NoSuchWnd.xml", "NoSuchWnd"), kInvalidData);
  EXPECT_EQ(missing.Form(), nullptr);
  CLayoutWnd broken;
  EXPECT_EQ(broken.LoadLayout("Broken", "Broken"), kInvalidData);
  EXPECT_EQ(broken.FindControl("LblTitle"), nullptr);
}

TEST_F(LayoutWindowTest, AppliesItsLanguageSectionByControlName) {
  RecordingWnd window;
  ASSERT_EQ(window.LoadLayout("xml\\TestWnd.xml", "TestWnd"), kOk);
  window.show();
  EXPECT_EQ(window.FindControl<QLabel>("LblTitle")->text(), "Translated title");
  EXPECT_EQ(window.FindControl<QLineEdit>("EditName")->text(), "Default name");
  EXPECT_EQ(window.FindControl<QPushButton>("BtnGo")->text(), "Start");
  auto* hidden = window.FindControl<QLabel>("LblHidden");
  EXPECT_EQ(hidden->text(), "Hidden text");
  EXPECT_FALSE(hidden->isVisible()) << "a hidden control gets its text and stays hidden";

  // A language change re-applies; keys the new language lacks keep their text.
  texts_.sections["TestWnd"] = {{"LblTitle", "Neuer Titel"}};
  window.ApplyLanguage();
  EXPECT_EQ(window.FindControl<QLabel>("LblTitle")->text(), "Neuer Titel");
  EXPECT_EQ(window.FindControl<QPushButton>("BtnGo")->text(), "Start");

  texts_.sections["Messages"] = {{"MSG0401", "Error"}};
  EXPECT_EQ(CLayoutWnd::Message("MSG0401"), "Error");
  EXPECT_EQ(CLayoutWnd::Message("MSG9999"), "");
}

TEST_F(LayoutWindowTest, DispatchesNotificationsByEventName) {
  RecordingWnd window;
  ASSERT_EQ(window.LoadLayout("TestWnd", "TestWnd"), kOk);
  window.show();
  window.show();  // a second show is no second init
  ASSERT_EQ(window.notifications.size(), 1u);
  EXPECT_EQ(window.notifications[0], (Seen{"windowinit", "TestWnd", 0}));
  window.notifications.clear();

  struct Case {
    const char* name;
    std::function<void()> act;
    std::vector<Seen> expected;
  } cases[] = {
      {"button click",
       [&] { QTest::mouseClick(window.FindControl<QPushButton>("BtnGo"), Qt::LeftButton); },
       {{"click", "BtnGo", 0}}},
      {"option select",
       [&] { window.FindControl<QRadioButton>("OptB")->click(); },
       {{"selectchanged", "OptA", 0}, {"selectchanged", "OptB", 1}, {"click", "OptB", 0}}},
      {"check box",
       [&] { window.FindControl<QCheckBox>("ChkKeep")->setChecked(true); },
       {{"selectchanged", "ChkKeep", 1}}},
      {"list row",
       [&] { window.FindControl<QListWidget>("ListItems")->setCurrentRow(1); },
       {{"itemselect", "ListItems", 1}}},
      {"combo box",
       [&] { window.FindControl<QComboBox>("ComboPick")->setCurrentIndex(1); },
       {{"itemselect", "ComboPick", 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    window.notifications.clear();
    c.act();
    EXPECT_EQ(window.notifications, c.expected);
  }
}

TEST_F(LayoutWindowTest, ControlsAddedLaterAreConnectedOnce) {
  RecordingWnd window;
  ASSERT_EQ(window.LoadLayout("TestWnd", "TestWnd"), kOk);
  auto* later = new QPushButton(window.Form());
  later->setObjectName("BtnLater");
  window.ConnectControl(later);
  window.ConnectControl(later);
  later->click();
  EXPECT_EQ(window.notifications, (std::vector<Seen>{{"click", "BtnLater", 0}}));
}

TEST_F(LayoutWindowTest, TimersNotifyWithTheirIdUntilKilled) {
  RecordingWnd window;
  ASSERT_EQ(window.LoadLayout("TestWnd", "TestWnd"), kOk);
  QWidget* list = window.FindControl("ListItems");
  window.SetTimer(list, 101, 5);
  EXPECT_TRUE(window.HasTimer(list, 101));
  ASSERT_TRUE(testing::WaitFor([&] { return window.notifications.size() >= 2; }));
  for (const auto& seen : window.notifications) EXPECT_EQ(seen, (Seen{"timer", "ListItems", 101}));
  window.KillTimer(list, 101);
  EXPECT_FALSE(window.HasTimer(list, 101));
  window.notifications.clear();
  QTest::qWait(30);
  EXPECT_TRUE(window.notifications.empty());
}

TEST_F(LayoutWindowTest, PrivateMessagesKeepTheirNumbersAndArriveOnTheWindowThread) {
  RecordingWnd window;
  std::thread worker([&] {
    window.PostPrivateMessage(1032);
    window.PostPrivateMessage(1035, 2, 7);
  });
  worker.join();
  EXPECT_TRUE(window.messages.empty()) << "posted messages wait for the event loop";
  ASSERT_TRUE(testing::WaitFor([&] { return window.messages.size() == 2; }));
  EXPECT_EQ(window.messages[0], std::make_tuple(1032, qintptr{0}, qintptr{0}, true));
  EXPECT_EQ(window.messages[1], std::make_tuple(1035, qintptr{2}, qintptr{7}, true));
  EXPECT_TRUE(window.SendPrivateMessage(1030, 1, 0));
  EXPECT_EQ(window.messages.size(), 3u) << "sent messages are handled at once";
}

TEST_F(LayoutWindowTest, EnterNeverClosesEscapeClosesWithTwo) {
  RecordingWnd window;
  ASSERT_EQ(window.LoadLayout("TestWnd", "TestWnd"), kOk);
  window.show();
  auto* button = window.FindControl<QPushButton>("BtnGo");
  button->setFocus();
  QTest::keyClick(button, Qt::Key_Return);
  QTest::keyClick(window.FindControl<QLineEdit>("EditName"), Qt::Key_Enter);
  QTest::keyClick(&window, Qt::Key_Return);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(std::none_of(window.notifications.begin(), window.notifications.end(), [](const Seen& seen) {
    return seen.type == "click";
  })) << "Enter does not press the focused button";
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), 2);
}

}  // namespace
}  // namespace corvyn::ui
