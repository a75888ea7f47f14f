#include <gtest/gtest.h>

#include "core/Utf8.h"

namespace corvyn {
namespace {

TEST(Utf8Test, LengthValidityAndRepair) {
  struct Case {
    std::string bytes;
    std::size_t units;
    bool valid;
    std::string repaired;
  };
  const std::string fffd = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"", 0, true, ""},
      {"abc", 3, true, "abc"},
      {"\xC3\xA9", 1, true, "\xC3\xA9"},                          // U+00E9
      {"\xE2\x82\xAC", 1, true, "\xE2\x82\xAC"},                  // U+20AC
      {"\xF0\x9F\x98\x80", 2, true, "\xF0\x9F\x98\x80"},          // U+1F600: a surrogate pair
      {"\xC0\xAF", 2, false, fffd + fffd},                        // overlong: two bad bytes
      {"\xE0\x80\xAF", 3, false, fffd + fffd + fffd},             // overlong three-byte form
      {"\xED\xA0\x80", 3, false, fffd + fffd + fffd},             // a UTF-16 surrogate
      {"\xF4\x90\x80\x80", 4, false, fffd + fffd + fffd + fffd},  // above U+10FFFF
      {"\xE2\x82"
       "A",
       2, false, fffd + "A"},            // cut sequence: one replacement
      {"\xF0\x9F\x98", 1, false, fffd},  // cut at the end
      {"\xFF"
       "a",
       2, false, fffd + "a"},
      {"\x80\x80", 2, false, fffd + fffd},  // lone continuation bytes
      // Past the eight-byte ASCII stride: the bad byte and what follows it.
      {"abcdefgh\xFFijklmnopq", 18, false, "abcdefgh" + fffd + "ijklmnopq"},
      {"0123456789abcde\xC3", 16, false, "0123456789abcde" + fffd},
      {"abcdefg\xC3\xA9hijklmnop\xE2\x82\xAC", 18, true, "abcdefg\xC3\xA9hijklmnop\xE2\x82\xAC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(Utf16Length(c.bytes), c.units);
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
    bool replaced = false;
    EXPECT_EQ(ToValidUtf8(c.bytes, &replaced), c.repaired);
    EXPECT_EQ(replaced, !c.valid);
    EXPECT_EQ(Utf16Length(c.repaired), c.units);  // one unit per replacement
    EXPECT_EQ(ContainsReplacementCharacter(c.repaired), !c.valid);
  }
}

TEST(Utf8Test, PrefixNeverSplitsACharacter) {
  const std::string text =
      "a\xF0\x9F\x98\x80"
      "b";  // a, U+1F600 (2 units), b
  EXPECT_EQ(Utf16Prefix(text, 0), "");
  EXPECT_EQ(Utf16Prefix(text, 1), "a");
  EXPECT_EQ(Utf16Prefix(text, 2), "a");  // the pair does not fit
  EXPECT_EQ(Utf16Prefix(text, 3), "a\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16Prefix(text, 10), text);
}

}  // namespace
}  // namespace corvyn
