// Web pages the program opens in the default browser.
#pragma once

namespace corvyn::app {

inline constexpr const char* kSupportPageUrl = "https://corvyn.example.org/support";
inline constexpr const char* kQuestionsPageUrl = "https://corvyn.example.org/faq";
inline constexpr const char* kProductPageUrl = "https://corvyn.example.org/";
inline constexpr const char* kITunesDownloadUrl = "https://www.apple.com/itunes/";

}  // namespace corvyn::app
