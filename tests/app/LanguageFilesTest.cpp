// The language files and config.ini that lie beside the program.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "app/LanguageStore.h"
#include "platform/IniFile.h"

namespace corvyn::app {
namespace {

const std::filesystem::path kBin = CORVYN_BIN_DIR;

// Every message identifier the program looks up.
const char* const kMessageIds[] = {
    "MSG0301", "MSG0302", "MSG0310", "MSG0311", "MSG0312", "MSG0313", "MSG0314", "MSG0315", "MSG0316",
    "MSG0317", "MSG0318", "MSG0401", "MSG0402", "MSG0403", "MSG0404", "MSG0405", "MSG0506", "MSG0507",
    "MSG0508", "MSG0509", "MSG0512", "MSG0514", "MSG0515", "MSG0516", "MSG0517", "MSG0518", "MSG0519",
    "MSG0520", "MSG0521", "MSG0601", "MSG0602", "MSG0903", "MSG0904", "MSG0905", "MSG0906", "MSG0907",
    "MSG0908", "MSG1101", "MSG1102", "MSG1103", "MSG1104", "MSG1207", "MSG1209",
};

// The printf conversions of a text, in order ("%%" excluded).
std::vector<std::string> Conversions(const std::string& text) {
  static const std::regex conversion("%[-+ #0]*[0-9]*(?:\\.[0-9]+)?(?:l|ll|h)?[a-zA-Z%]");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), conversion); it != std::sregex_iterator();
       ++it) {
    if (it->str() != "%%") found.push_back(it->str());
  }
  return found;
}

std::map<std::string, std::set<std::string>> KeysBySection(const platform::IniFile& file) {
  std::map<std::string, std::set<std::string>> keys;
  for (const auto& section : file.SectionNames()) {
    for (const auto& line : file.SectionLines(section))
      keys[section].insert(platform::SplitAtFirstEquals(line).first);
  }
  return keys;
}

TEST(LanguageFiles, ConfigListsLanguagesThatExist) {
  LanguageStore store(kBin / "config.ini", kBin / "Languages");
  ASSERT_GE(store.AvailableLanguages().size(), 2u);
  for (const auto& [key, shown] : store.AvailableLanguages()) {
    EXPECT_TRUE(std::filesystem::exists(store.LanguageFile(key))) << key;
    EXPECT_FALSE(shown.empty()) << key;
  }
}

TEST(LanguageFiles, EveryMessageIsThereInEveryLanguageWithTheSameFormat) {
  platform::IniFile english;
  ASSERT_EQ(english.Load(kBin / "Languages" / "English.ini"), kOk);
  LanguageStore store(kBin / "config.ini", kBin / "Languages");
  for (const auto& [language, shown] : store.AvailableLanguages()) {
    SCOPED_TRACE(language);
    platform::IniFile file;
    ASSERT_EQ(file.Load(store.LanguageFile(language)), kOk);
    EXPECT_EQ(KeysBySection(file), KeysBySection(english)) << "every language has the same sections and keys";
    for (const char* id : kMessageIds) {
      const auto text = file.Value("Messages", id);
      ASSERT_TRUE(text.has_value()) << id;
      EXPECT_FALSE(text->empty()) << id;
      EXPECT_EQ(Conversions(*text), Conversions(*english.Value("Messages", id))) << id;
    }
  }
}

TEST(LanguageFiles, FormatMessagesTakeTheirArgumentsInOrder) {
  platform::IniFile english;
  ASSERT_EQ(english.Load(kBin / "Languages" / "English.ini"), kOk);
  EXPECT_EQ(Conversions(*english.Value("Messages", "MSG1102")),
            (std::vector<std::string>{"%d", "%d", "%d", "%d"}));
  EXPECT_EQ(Conversions(*english.Value("Messages", "MSG0514")),
            (std::vector<std::string>{"%s", "%d", "%s", "%d"}));
  for (const char* plain : {"MSG1101", "MSG1209", "MSG0401", "MSG0512"}) {
    EXPECT_TRUE(Conversions(*english.Value("Messages", plain)).empty()) << plain << " is shown as it stands";
  }
}

}  // namespace
}  // namespace corvyn::app
