#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/Ascii.h"

namespace corvyn::platform {
namespace {

TEST(Ascii, OnlyAsciiLettersChangeCase) {
  const struct {
    std::string_view a, b;
    bool equal;
  } cases[] = {
      {"Player.EXE", "player.exe", true},
      {"Z[", "z{", false},  // '[' and '{' are 0x20 apart but are not letters
      {"@", "`", false},
      {"caf\xC3\xA9", "CAF\xC3\xA9", true},
      {"caf\xC3\xA9", "CAF\xC3\x89", false},  // UTF-8 bytes compare as they are
      {"abc", "abcd", false},
      {"", "", true},
  };
  for (const auto& c : cases) EXPECT_EQ(EqualsIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
  EXPECT_EQ(AsciiLowerCopy("IMG_0001.JPG \xC3\x89"), "img_0001.jpg \xC3\x89");
  EXPECT_EQ(AsciiUpperCopy("heic"), "HEIC");
  EXPECT_TRUE(StartsWithIgnoringCase("SQLite format 3", "sqlite"));
  EXPECT_FALSE(StartsWithIgnoringCase("SQL", "sqlite"));
  EXPECT_TRUE(EndsWithIgnoringCase("tool.ExE", ".exe"));
  EXPECT_FALSE(EndsWithIgnoringCase("exe", ".exe"));
}

TEST(Ascii, OrderIgnoresCaseAndPutsBytesAboveAsciiLast) {
  std::vector<std::string> names = {"b.jpg", "A.jpg", "\xC3\xA9.jpg", "a.JPG", "_x", "B.jpg"};
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return LessIgnoringCase(a, b); });
  // '_' (0x5F) sorts before the letters, which compare as lower case (0x61...).
  EXPECT_EQ(names, (std::vector<std::string>{"_x", "A.jpg", "a.JPG", "b.jpg", "B.jpg", "\xC3\xA9.jpg"}));
}

TEST(Ascii, OrderIgnoringCaseIsTheOrderOfTheLowerCaseTexts) {
  // Random texts over letters of both cases, '_' (between them) and a byte
  // above ASCII, many sharing prefixes that differ only in case; half the
  // pairs are one text and a copy changed in one place or cut, so that long
  // shared prefixes (compared eight bytes at a time) end at every position.
  std::mt19937 random(5);
  const std::string alphabet = "aAbB_\xC3";
  const auto text = [&](int longest) {
    std::string t;
    for (int n = static_cast<int>(random() % (longest + 1)); n > 0; --n)
      t += alphabet[random() % alphabet.size()];
    return t;
  };
  for (int i = 0; i < 40000; ++i) {
    const std::string a = text(i % 2 == 0 ? 6 : 24);
    std::string b = text(6);
    if (i % 2 == 1 && !a.empty()) {
      b = a;
      const std::size_t at = random() % a.size();
      if (random() % 3 == 0) {
        b.resize(at);
      } else {
        b[at] = alphabet[random() % alphabet.size()];
      }
    }
    EXPECT_EQ(LessIgnoringCase(a, b), AsciiLowerCopy(a) < AsciiLowerCopy(b)) << a << " / " << b;
    EXPECT_EQ(
        CommonPrefixLength(a, b),
        static_cast<std::size_t>(
            std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin()));
  }
}

}  // namespace
}  // namespace corvyn::platform
