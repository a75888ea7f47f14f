#include "app/AppLinks.h"

#include "platform/IniFile.h"
#include "platform/SpecialFolders.h"

namespace corvyn::app {

AppLinks ReadAppLinks(const std::filesystem::path& configIni) {
  platform::IniFile file;
  (void)file.Load(configIni);  // a missing file keeps every default
  AppLinks links;
  const struct {
    const char* key;
    std::string* address;
  } keys[] = {
      {"Support", &links.support},
      {"Questions", &links.questions},
      {"Product", &links.product},
      {"DeviceSoftware", &links.deviceSoftware},
  };
  for (const auto& [key, address] : keys) {
    const auto value = file.Value(kLinksSection, key);
    if (value.has_value() && !value->empty()) *address = *value;
  }
  return links;
}

const AppLinks& ConfiguredAppLinks() {
  static const AppLinks links = ReadAppLinks(platform::ProgramDir() / "config.ini");
  return links;
}

}  // namespace corvyn::app
