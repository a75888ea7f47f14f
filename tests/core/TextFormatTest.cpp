#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/TextFormat.h"

namespace corvyn {
namespace {

TEST(TextFormatTest, DurationText) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 Sec"},           {59, "59 Sec"},         {60, "1 Min 0 Sec"},      {3599, "59 Min 59 Sec"},
      {3600, "1 Hour 0 Min"}, {3661, "1 Hour 1 Min"}, {90061, "25 Hour 1 Min"}, {-5, "-5 Sec"},
      {-3600, "-3600 Sec"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(DurationText(seconds), text) << seconds;
}

TEST(TextFormatTest, SizeText) {
  const int64_t kib = 1024, mib = kib * kib, gib = mib * kib, tib = gib * kib;
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 Bytes"},          {1023, "1023 Bytes"}, {1024, "1.00 KB"}, {1536, "1.50 KB"},
      {mib - 1, "1024.00 KB"}, {mib, "1.00 MB"},     {gib, "1.00 GB"},  {5 * gib / 2, "2.50 GB"},
      {tib, "1.00 TB"},        {3 * tib, "3.00 TB"}, {-1, "-1 Bytes"},  {-4096, "-4096 Bytes"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(SizeText(bytes), text) << bytes;
}

// A message that is only a picture shows the picture's name; text, even
// beside a placeholder, stays as it is.
TEST(TextFormatTest, MessageBodyTextNamesTheAttachmentOfAMessageWithoutText) {
  const std::string placeholder = "\xEF\xBF\xBC";
  const struct {
    std::string text, attachment, shown;
  } cases[] = {
      {"", "IMG_1.HEIC", "[Attachment: IMG_1.HEIC]"},
      {placeholder, "IMG_1.HEIC", "[Attachment: IMG_1.HEIC]"},
      {placeholder + " " + placeholder + "\n", "IMG_1.HEIC", "[Attachment: IMG_1.HEIC]"},
      {placeholder + "Look", "IMG_1.HEIC", placeholder + "Look"},
      {"Hello", "IMG_1.HEIC", "Hello"},
      {placeholder, "", placeholder},
      {"", "", ""},
      {"\xEF\xBF", "IMG_1.HEIC", "\xEF\xBF"},  // a cut placeholder is text
  };
  for (const auto& c : cases) EXPECT_EQ(MessageBodyText(c.text, c.attachment), c.shown) << c.text;
}

TEST(TextFormatTest, DateTextIsZeroPaddedLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(DateText(0), "1970-01-01 00:00:00");
  EXPECT_EQ(DateText(1583020805), "2020-03-01 00:00:05");
  EXPECT_EQ(DateTextFromCocoa(0), "2001-01-01 00:00:00");
  EXPECT_EQ(DateTextFromCocoa(INT64_MAX), "");
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  EXPECT_EQ(DateText(1583020805), "2020-03-01 01:00:05");
  EXPECT_EQ(DateText(1593561600), "2020-07-01 02:00:00");  // summer time
  // Text order is time order.
  EXPECT_LT(DateText(1583020805), DateText(1593561600));
  unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace corvyn
