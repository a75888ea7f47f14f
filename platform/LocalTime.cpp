#include "platform/LocalTime.h"

#include <ctime>
#include <limits>

namespace corvyn::platform {

bool ToLocalTime(std::int64_t unixSeconds, LocalTime* local) {
  *local = LocalTime{};
  if (unixSeconds < std::numeric_limits<std::time_t>::min() ||
      unixSeconds > std::numeric_limits<std::time_t>::max())
    return false;
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm parts{};
  if (localtime_r(&time, &parts) == nullptr) return false;
  local->year = parts.tm_year + 1900;
  local->month = parts.tm_mon + 1;
  local->day = parts.tm_mday;
  local->hour = parts.tm_hour;
  local->minute = parts.tm_min;
  local->second = parts.tm_sec;
  local->zoneOffsetSeconds = static_cast<int>(parts.tm_gmtoff);
  return true;
}

int ZoneOffsetSeconds(std::int64_t unixSeconds) {
  LocalTime local;
  return ToLocalTime(unixSeconds, &local) ? local.zoneOffsetSeconds : 0;
}

}  // namespace corvyn::platform
