#include "platform/Ascii.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace corvyn::platform {

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AsciiLowerCopy(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), AsciiLower);
  return result;
}

std::string AsciiUpperCopy(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), AsciiUpper);
  return result;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
  // Equal bytes are equal ignoring case too: texts that share a long prefix
  // (dates, paths) are folded only from their first difference on.
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = CommonPrefixLength(a, b); i < common; ++i) {
    const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
    const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

std::size_t CommonPrefixLength(std::string_view a, std::string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= common; i += 8) {
      uint64_t x = 0, y = 0;
      std::memcpy(&x, a.data() + i, 8);
      std::memcpy(&y, b.data() + i, 8);
      // The lowest differing bit lies in the first differing byte.
      if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
    }
  }
  while (i < common && a[i] == b[i]) ++i;
  return i;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace corvyn::platform
