// The language store: the program's "config.ini" (current language and the
// list of languages) and the texts of the current language file
// ("Languages/<language>.ini"), section by section. One process-wide
// instance, built on first use; used on the user-interface thread only.
//
// config.ini:
//   [DefaultLanguage]  Default=<language file base name>   ("English" when missing)
//   [Languages]        <file base name>=<name shown for it>, in menu order
// A language file holds one section per window (control name = text) and
// section "Messages" (MSGnnnn = text). Lines are split at their first '='.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/Status.h"
#include "ui/TextSource.h"

namespace corvyn::app {

inline constexpr const char* kDefaultLanguage = "English";

class LanguageStore final : public ui::ITextSource {
 public:
  // Reads `configFile` and the current language's file in `languagesDir`.
  // A missing config gives "English" and no languages; a missing or unusable
  // language file gives empty texts.
  LanguageStore(std::filesystem::path configFile, std::filesystem::path languagesDir);

  // The store of the program: config.ini and Languages/ beside the program.
  static LanguageStore& Instance();

  const std::string& CurrentLanguage() const { return current_; }
  // (file base name, shown name) pairs in file order.
  const std::vector<std::pair<std::string, std::string>>& AvailableLanguages() const { return languages_; }

  ui::TextSection& Section(const std::string& name) override { return texts_[name]; }
  const std::map<std::string, ui::TextSection>& AllTexts() const { return texts_; }

  // Makes `language` current: writes it to config.ini (section
  // "DefaultLanguage", key "Default"), re-reads the configuration and reloads
  // the texts. When config.ini cannot be written the language still changes
  // for this run and the write error is returned.
  Status SetLanguage(const std::string& language);

  // Re-reads config.ini and the current language file.
  void Reload();

  const std::filesystem::path& ConfigFile() const { return configFile_; }
  std::filesystem::path LanguageFile(const std::string& language) const;

 private:
  void LoadConfig();
  void LoadTexts();

  std::filesystem::path configFile_;
  std::filesystem::path languagesDir_;
  std::string current_;
  std::vector<std::pair<std::string, std::string>> languages_;
  std::map<std::string, ui::TextSection> texts_;
};

}  // namespace corvyn::app
