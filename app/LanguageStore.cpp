#include "app/LanguageStore.h"

#include "platform/IniFile.h"
#include "platform/SpecialFolders.h"

namespace corvyn::app {
namespace {

// A language names a file in the languages folder and nothing else.
bool IsPlainFileBaseName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

}  // namespace

LanguageStore::LanguageStore(std::filesystem::path configFile, std::filesystem::path languagesDir)
    : configFile_(std::move(configFile)), languagesDir_(std::move(languagesDir)) {
  Reload();
}

LanguageStore& LanguageStore::Instance() {
  static LanguageStore store(platform::ProgramDir() / "config.ini", platform::ProgramDir() / "Languages");
  return store;
}

void LanguageStore::Reload() {
  LoadConfig();
  LoadTexts();
}

void LanguageStore::LoadConfig() {
  platform::IniFile config;
  (void)config.Load(configFile_);  // a missing or unreadable file reads as empty
  current_ = config.Value("DefaultLanguage", "Default").value_or(kDefaultLanguage);
  if (current_.empty()) current_ = kDefaultLanguage;
  languages_.clear();
  for (const auto& line : config.SectionLines("Languages")) {
    languages_.push_back(platform::SplitAtFirstEquals(line));
  }
}

std::filesystem::path LanguageStore::LanguageFile(const std::string& language) const {
  return languagesDir_ / (language + ".ini");
}

void LanguageStore::LoadTexts() {
  texts_.clear();
  if (!IsPlainFileBaseName(current_)) return;
  platform::IniFile file;
  if (file.Load(LanguageFile(current_)) != kOk) return;
  for (const auto& section : file.SectionNames()) {
    auto& texts = texts_[section];
    for (const auto& line : file.SectionLines(section)) {
      auto [key, text] = platform::SplitAtFirstEquals(line);
      texts[key] = std::move(text);  // a later line for the same key wins
    }
  }
}

Status LanguageStore::SetLanguage(const std::string& language) {
  if (!IsPlainFileBaseName(language)) return kInvalidData;
  platform::IniFile config;
  (void)config.Load(configFile_);  // a missing file starts empty
  config.SetValue("DefaultLanguage", "Default", language);
  const Status saved = config.Save(configFile_);
  LoadConfig();
  if (saved != kOk) current_ = language;
  LoadTexts();
  return saved;
}

}  // namespace corvyn::app
