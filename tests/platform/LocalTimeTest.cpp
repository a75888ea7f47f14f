#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/LocalTime.h"

namespace corvyn::platform {
namespace {

TEST(LocalTime, ConvertsWithTheZoneAndItsDaylightSaving) {
  struct Case {
    const char* zone;
    std::int64_t unixSeconds;
    LocalTime expected;
  } cases[] = {
      {"UTC0", 0, {1970, 1, 1, 0, 0, 0, 0}},
      {"<+0530>-5:30", 0, {1970, 1, 1, 5, 30, 0, 19800}},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1404216000, {2014, 7, 1, 14, 0, 0, 7200}},  // summer
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1388577600, {2014, 1, 1, 13, 0, 0, 3600}},  // winter
      {"EST5EDT,M3.2.0,M11.1.0", 1388577600, {2014, 1, 1, 7, 0, 0, -18000}},
      {"UTC0", -86400, {1969, 12, 31, 0, 0, 0, 0}},
  };
  const char* saved = std::getenv("TZ");
  const std::string previous = saved ? saved : "";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    setenv("TZ", c.zone, 1);
    tzset();
    LocalTime local;
    ASSERT_TRUE(ToLocalTime(c.unixSeconds, &local));
    EXPECT_EQ(local.year, c.expected.year);
    EXPECT_EQ(local.month, c.expected.month);
    EXPECT_EQ(local.day, c.expected.day);
    EXPECT_EQ(local.hour, c.expected.hour);
    EXPECT_EQ(local.minute, c.expected.minute);
    EXPECT_EQ(local.second, c.expected.second);
    EXPECT_EQ(local.zoneOffsetSeconds, c.expected.zoneOffsetSeconds);
    EXPECT_EQ(ZoneOffsetSeconds(c.unixSeconds), c.expected.zoneOffsetSeconds);
  }
  if (saved)
    setenv("TZ", previous.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace corvyn::platform
