// Test support for the windows of the program.
#pragma once

#include <filesystem>
#include <memory>

#include "app/LanguageStore.h"
#include "ui/TextSource.h"

namespace corvyn::testing {

// Copies the files beside the program that hold the texts (config.ini and
// Languages/) into `folder` (switching languages rewrites config.ini) and
// installs a language store over the copy as the windows' text source.
inline std::unique_ptr<app::LanguageStore> InstallTestLanguages(const std::filesystem::path& folder) {
  const std::filesystem::path bin = CORVYN_BIN_DIR;
  std::filesystem::copy(bin / "config.ini", folder / "config.ini");
  std::filesystem::copy(bin / "Languages", folder / "Languages");
  auto store = std::make_unique<app::LanguageStore>(folder / "config.ini", folder / "Languages");
  ui::SetTextSource(store.get());
  return store;
}

}  // namespace corvyn::testing
