#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

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

TEST(TextFormatTest, DateTextAgreesWithTheCLibraryAcrossClockChanges) {
  // Zones with summer time (northern and southern), a half-hour change, an
  // offset of quarter hours and none; moments spread over 1970 to 2100 and
  // every minute around the clock changes of 2014 in each zone.
  const struct {
    const char* name;
    bool changesClocks;
  } zones[] = {{"UTC0", false},
               {"CET-1CEST,M3.5.0,M10.5.0/3", true},
               {"EST5EDT,M3.2.0,M11.1.0", true},
               {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", true},
               {"<+0545>-5:45", false},
               {"<-03>3<-02>,M3.5.0/-2,M10.5.0/-1", true}};
  const char* saved = std::getenv("TZ");
  const std::string previous = saved ? saved : "";
  std::vector<int64_t> moments;
  for (int64_t t = 0; t < 4102444800; t += 86400 * 37 + 3607) moments.push_back(t);
  for (int64_t t = 1388534400; t < 1420070400; t += 86400 * 3 + 1) moments.push_back(t);
  for (const auto& zone : zones) {
    SCOPED_TRACE(zone.name);
    setenv("TZ", zone.name, 1);
    tzset();
    std::vector<int64_t> around = moments;
    for (int64_t t = 1388534400; t < 1420070400; t += 1800) {
      const std::time_t now = static_cast<std::time_t>(t), later = static_cast<std::time_t>(t + 1800);
      std::tm a{}, b{};
      localtime_r(&now, &a);
      localtime_r(&later, &b);
      if (a.tm_gmtoff == b.tm_gmtoff) continue;
      for (int64_t m = t - 3600; m < t + 5400; m += 59) around.push_back(m);
    }
    if (zone.changesClocks) {
      ASSERT_GT(around.size(), moments.size() + 100) << "no clock change found";
    }
    for (const int64_t t : around) {
      const std::time_t time = static_cast<std::time_t>(t);
      std::tm local{};
      ASSERT_NE(localtime_r(&time, &local), nullptr);
      char expected[64];
      std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                    local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
      ASSERT_EQ(DateText(t), expected) << t;
    }
  }
  if (saved)
    setenv("TZ", previous.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace corvyn
