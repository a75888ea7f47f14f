// Local time and the zone offset (the stand-in for the system's time-zone
// information).
#pragma once

#include <cstdint>

namespace corvyn::platform {

struct LocalTime {
  int year = 0;   // e.g. 2014
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int zoneOffsetSeconds = 0;  // local minus UTC at that instant, daylight saving included
};

// Converts seconds since 1970-01-01 UTC to local time. False when the value is
// outside what the system can convert.
bool ToLocalTime(std::int64_t unixSeconds, LocalTime* local);

// Local minus UTC in seconds at the given instant (0 when it cannot be told).
int ZoneOffsetSeconds(std::int64_t unixSeconds);

}  // namespace corvyn::platform
