// Web pages the program opens in the default browser. The addresses come
// from section "[Links]" of the config.ini beside the program:
//   [Links]
//   Support=https://...          help and support page (assistant menu)
//   Questions=https://...        frequently asked questions
//   Product=https://...          the product page ("About")
//   DeviceSoftware=https://...   how to get the phone-connection service
// A missing file, section or key (or an empty value) keeps the built-in
// address below.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvyn::app {

inline constexpr const char* kDefaultSupportPageUrl = "https://corvyn.example.org/support";
inline constexpr const char* kDefaultQuestionsPageUrl = "https://corvyn.example.org/faq";
inline constexpr const char* kDefaultProductPageUrl = "https://corvyn.example.org/";
inline constexpr const char* kDefaultDeviceSoftwareUrl = "https://github.com/libimobiledevice/usbmuxd";

inline constexpr const char* kLinksSection = "Links";

struct AppLinks {
  std::string support = kDefaultSupportPageUrl;
  std::string questions = kDefaultQuestionsPageUrl;
  std::string product = kDefaultProductPageUrl;
  std::string deviceSoftware = kDefaultDeviceSoftwareUrl;
};

// The addresses of `configIni`, each key falling back to its default.
AppLinks ReadAppLinks(const std::filesystem::path& configIni);

// The addresses of ProgramDir()/config.ini, read on first use and kept for
// the rest of the run. UI thread only.
const AppLinks& ConfiguredAppLinks();

// One configured address by name; converts to the text wherever a string
// or string view is expected, reading config.ini on first use.
class ConfiguredLink {
 public:
  constexpr explicit ConfiguredLink(std::string AppLinks::*member) : member_(member) {}
  const std::string& Address() const { return ConfiguredAppLinks().*member_; }
  operator std::string_view() const { return Address(); }  // NOLINT: used as the address itself
  operator std::string() const { return Address(); }       // NOLINT

 private:
  std::string AppLinks::*member_;
};

inline constexpr ConfiguredLink kSupportPageUrl{&AppLinks::support};
inline constexpr ConfiguredLink kQuestionsPageUrl{&AppLinks::questions};
inline constexpr ConfiguredLink kProductPageUrl{&AppLinks::product};
inline constexpr ConfiguredLink kDeviceSoftwareUrl{&AppLinks::deviceSoftware};

}  // namespace corvyn::app
