// ASCII case rules for names, keys and extensions. Only A-Z and a-z change
// case; every other byte (UTF-8 sequences included) compares as it is, so the
// result never depends on the process locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvyn::platform {

char AsciiLower(char c);
char AsciiUpper(char c);
std::string AsciiLowerCopy(std::string_view text);
std::string AsciiUpperCopy(std::string_view text);

bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// Lexicographic order of the lower-case forms (a strict weak order).
bool LessIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);
// How many leading bytes a and b share, compared eight at a time: dates and
// paths share long prefixes, and case folding needs to start only where
// they first differ.
std::size_t CommonPrefixLength(std::string_view a, std::string_view b);
bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix);

}  // namespace corvyn::platform
