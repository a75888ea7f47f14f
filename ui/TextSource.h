// Where windows take their visible texts from: one section of key-to-text
// pairs per window, plus section "Messages". The application installs its
// language store here at start-up; without one every lookup is empty.
// Used on the user-interface thread only.
#pragma once

#include <map>
#include <string>

namespace corvyn::ui {

using TextSection = std::map<std::string, std::string>;

class ITextSource {
 public:
  virtual ~ITextSource() = default;
  // The key-to-text map of a section; a missing section is created empty.
  virtual TextSection& Section(const std::string& name) = 0;
  // The text for `key` within `section`; empty (and remembered) when missing.
  std::string Text(const std::string& section, const std::string& key) { return Section(section)[key]; }
};

// Installs the process-wide text source (not owned; nullptr removes it).
void SetTextSource(ITextSource* source);
// The installed source, or an always-empty one.
ITextSource& Texts();

}  // namespace corvyn::ui
