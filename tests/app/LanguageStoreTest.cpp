#include <gtest/gtest.h>

#include <fstream>

#include "UiTestSupport.h"
#include "app/LanguageStore.h"
#include "platform/IniFile.h"

namespace corvyn::app {
namespace {

void Write(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class LanguageStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path Config() const { return folder_.Path() / "config.ini"; }
  std::filesystem::path Languages() const { return folder_.Path() / "Languages"; }
  testing::TempFolder folder_;
};

TEST_F(LanguageStoreTest, MissingFilesGiveEnglishNoLanguagesAndEmptyTexts) {
  LanguageStore store(Config(), Languages());
  EXPECT_EQ(store.CurrentLanguage(), "English");
  EXPECT_TRUE(store.AvailableLanguages().empty());
  EXPECT_TRUE(store.AllTexts().empty());
  EXPECT_EQ(store.Text("Messages", "MSG1209"), "");
  EXPECT_TRUE(store.Section("Messages").contains("MSG1209")) << "a missing key is inserted on first lookup";
  EXPECT_TRUE(store.Section("NoSuchWnd").size() == 0);
}

TEST_F(LanguageStoreTest, ReadsTheLanguageListInFileOrder) {
  Write(Config(),
        "\xEF\xBB\xBF[DefaultLanguage]\r\nDefault=German\r\n[Languages]\r\n"
        "English=English\r\nGerman=Deutsch\r\nPlain\r\nOdd=a=b\r\n=NoKey\r\n");
  LanguageStore store(Config(), Languages());
  EXPECT_EQ(store.CurrentLanguage(), "German");
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"English", "English"}, {"German", "Deutsch"}, {"Plain", ""}, {"Odd", "a=b"}, {"", "NoKey"}};
  EXPECT_EQ(store.AvailableLanguages(), expected);
}

TEST_F(LanguageStoreTest, LoadsSectionsSplittingAtTheFirstEquals) {
  Write(Config(), "[DefaultLanguage]\nDefault=English\n");
  Write(Languages() / "English.ini",
        "[Messages]\nMSG0514=You select %s in %d item(s)\nMSG1102=a=b=c\nMSG0401=Old\nMSG0401=Error\n"
        "[MainWnd]\nLblProductName=Corvyn\nBare line\n[messages]\nMSG0402=Confirm\n");
  LanguageStore store(Config(), Languages());
  struct Case {
    const char* section;
    const char* key;
    const char* text;
  } cases[] = {
      {"Messages", "MSG0514", "You select %s in %d item(s)"},
      {"Messages", "MSG1102", "a=b=c"},
      {"Messages", "MSG0401", "Error"},  // a later line for the same key wins
      {"Messages", "MSG0402", "Confirm"},
      {"MainWnd", "LblProductName", "Corvyn"},
      {"MainWnd", "Bare line", ""},
      {"MainWnd", "Missing", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(store.Text(c.section, c.key), c.text) << c.section << "/" << c.key;
}

TEST_F(LanguageStoreTest, SetLanguageRewritesConfigAndReloads) {
  Write(Config(),
        "; kept\n[DefaultLanguage]\nDefault=English\n[Languages]\nEnglish=English\nGerman=Deutsch\n");
  Write(Languages() / "English.ini", "[Messages]\nMSG0401=Error\n[MainWnd]\nOnlyEnglish=x\n");
  Write(Languages() / "German.ini", "[Messages]\nMSG0401=Fehler\n");
  LanguageStore store(Config(), Languages());
  ASSERT_EQ(store.Text("Messages", "MSG0401"), "Error");

  ASSERT_EQ(store.SetLanguage("German"), kOk);
  EXPECT_EQ(store.CurrentLanguage(), "German");
  EXPECT_EQ(store.Text("Messages", "MSG0401"), "Fehler");
  EXPECT_FALSE(store.AllTexts().contains("MainWnd")) << "texts of the previous language are gone";
  platform::IniFile config;
  ASSERT_EQ(config.Load(Config()), kOk);
  EXPECT_EQ(config.Value("DefaultLanguage", "Default"), "German");
  EXPECT_EQ(config.SectionLines("Languages").size(), 2u);
  EXPECT_EQ(LanguageStore(Config(), Languages()).CurrentLanguage(), "German") << "kept for the next start";

  // Choosing the current language again reloads the same texts.
  ASSERT_EQ(store.SetLanguage("German"), kOk);
  EXPECT_EQ(store.Text("Messages", "MSG0401"), "Fehler");

  // A language without a file leaves every text empty.
  ASSERT_EQ(store.SetLanguage("Klingon"), kOk);
  EXPECT_EQ(store.Text("Messages", "MSG0401"), "");
}

TEST_F(LanguageStoreTest, LanguageNamesThatLeaveTheFolderAreRefused) {
  Write(folder_.Path() / "secret.ini", "[Messages]\nMSG0401=leaked\n");
  Write(Config(), "[DefaultLanguage]\nDefault=../secret\n");
  LanguageStore store(Config(), Languages());
  EXPECT_EQ(store.Text("Messages", "MSG0401"), "");
  EXPECT_EQ(store.SetLanguage("../secret"), kInvalidData);
  EXPECT_EQ(store.SetLanguage(""), kInvalidData);
}

TEST_F(LanguageStoreTest, UnwritableConfigStillSwitchesForThisRun) {
  Write(folder_.Path() / "file", "not a folder");
  const auto config = folder_.Path() / "file" / "config.ini";  // its folder is a file
  Write(Languages() / "German.ini", "[Messages]\nMSG0401=Fehler\n");
  LanguageStore store(config, Languages());
  EXPECT_NE(store.SetLanguage("German"), kOk);
  EXPECT_EQ(store.CurrentLanguage(), "German");
  EXPECT_EQ(store.Text("Messages", "MSG0401"), "Fehler");
}

}  // namespace
}  // namespace corvyn::app
