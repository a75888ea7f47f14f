#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/IniFile.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::platform {
namespace {

TEST(IniFile, ParsesSectionsLinesAndValues) {
  IniFile file;
  file.Parse(
      "\xEF\xBB\xBF"
      "orphan=1\r\n"
      "[Languages]\r\n"
      "English=English\r\n"
      "; a comment\r\n"
      "\r\n"
      "  Deutsch = Deutsch (German)  \r\n"
      "[Messages]\n"
      "MSG0001=a=b=c\n"
      "NoEquals\n"
      "[languages]\n"
      "Extra=x\n"
      "[Empty]\n");
  EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"Languages", "Messages", "Empty"}));
  EXPECT_EQ(file.SectionLines("LANGUAGES"),
            (std::vector<std::string>{"English=English", "Deutsch = Deutsch (German)", "Extra=x"}));
  EXPECT_EQ(file.SectionLines("Messages"), (std::vector<std::string>{"MSG0001=a=b=c", "NoEquals"}));
  EXPECT_TRUE(file.SectionLines("Empty").empty());
  EXPECT_TRUE(file.SectionLines("Missing").empty());

  struct Case {
    const char* section;
    const char* key;
    std::optional<std::string> value;
  } cases[] = {
      {"Languages", "deutsch", "Deutsch (German)"},
      {"Messages", "MSG0001", "a=b=c"},
      {"Messages", "NoEquals", ""},
      {"Languages", "Extra", "x"},
      {"Languages", "orphan", std::nullopt},
      {"Missing", "English", std::nullopt},
      {"Languages", "; a comment", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(file.Value(c.section, c.key), c.value) << c.section << "/" << c.key;
  }
}

TEST(IniFile, SplitAtFirstEquals) {
  struct Case {
    const char* line;
    const char* key;
    const char* value;
  } cases[] = {
      {"a=b", "a", "b"},       {"a=b=c", "a", "b=c"}, {"whole line", "whole line", ""},
      {"=value", "", "value"}, {"key=", "key", ""},   {" k = v ", "k", "v"},
  };
  for (const auto& c : cases) {
    const auto [key, value] = SplitAtFirstEquals(c.line);
    EXPECT_EQ(key, c.key) << c.line;
    EXPECT_EQ(value, c.value) << c.line;
  }
}

TEST(IniFile, SetValueReplacesInPlaceAndKeepsEverythingElse) {
  IniFile file;
  file.Parse("; header\n[DefaultLanguage]\nDefault=English\nOther=1\n\n[Languages]\nEnglish=English\n");
  file.SetValue("defaultlanguage", "DEFAULT", "German");
  file.SetValue("Languages", "German", "Deutsch");
  file.SetValue("New", "Key", "v=w");
  EXPECT_EQ(file.Serialize(),
            "\xEF\xBB\xBF; header\r\n[DefaultLanguage]\r\nDEFAULT=German\r\nOther=1\r\n\r\n[Languages]\r\n"
            "English=English\r\nGerman=Deutsch\r\n[New]\r\nKey=v=w\r\n");
  EXPECT_TRUE(file.RemoveValue("DefaultLanguage", "Other"));
  EXPECT_FALSE(file.RemoveValue("DefaultLanguage", "Other"));
  EXPECT_EQ(file.Value("DefaultLanguage", "Other"), std::nullopt);
}

TEST(IniFile, SaveAndLoadRoundTripThroughAFile) {
  testing::TempFolder folder;
  const auto path = folder.Path() / "sub" / "config.ini";
  IniFile missing;
  EXPECT_EQ((missing.Load(path)).systemError(), ENOENT);
  EXPECT_TRUE(missing.SectionNames().empty());

  IniFile file;
  file.SetValue("Section", "Key", "Wert \xC3\xA4");
  ASSERT_EQ(file.Save(path), kOk);
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
  IniFile reread;
  ASSERT_EQ(reread.Load(path), kOk);
  EXPECT_EQ(reread.Value("Section", "Key"), "Wert \xC3\xA4");

  // Saving over a folder fails with a status, not silently.
  std::filesystem::create_directories(folder.Path() / "taken");
  EXPECT_NE(file.Save(folder.Path() / "taken"), kOk);
}

}  // namespace
}  // namespace corvyn::platform
