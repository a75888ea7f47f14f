#include "core/TextFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace corvyn {
namespace {

// Formats into a fixed buffer; the format stays a literal at every call so that
// the compiler checks it against the arguments.
#define CORVYN_FORMAT(...)                                                                          \
  [&] {                                                                                             \
    char buffer[96];                                                                                \
    const int length = std::snprintf(buffer, sizeof buffer, __VA_ARGS__);                           \
    return length > 0 ? std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(length), \
                                                                  sizeof buffer - 1))               \
                      : std::string();                                                              \
  }()

}  // namespace

namespace {

// "YYYY-MM-DD hh:mm:ss" of broken-down local time, digit by digit.
std::string DigitDateText(int year, int month, int day, int hour, int minute, int second) {
  std::string text = "0000-00-00 00:00:00";
  const auto put = [&text](std::size_t at, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10) text[at + static_cast<std::size_t>(i)] += value % 10;
  };
  put(0, year, 4);
  put(5, month, 2);
  put(8, day, 2);
  put(11, hour, 2);
  put(14, minute, 2);
  put(17, second, 2);
  return text;
}

// The zone's offset for the hour a date falls in. Every record carries a
// date, and asking the C library for each one costs a lock and a look at the
// zone every time; one hour's dates share an offset when it is the same at
// the hour's first and last second (clocks change at most once an hour). The
// zone (TZ) is compared on every call, so a changed TZ is honoured.
struct HourOffset {
  int64_t hourStart = INT64_MIN;
  long offset = 0;
  bool zoneSet = false;
  std::string zone;
};

bool OffsetOfHour(int64_t unixSeconds, long* offset) {
  thread_local HourOffset cached;
  const char* zone = std::getenv("TZ");
  const int64_t hourStart = unixSeconds - ((unixSeconds % 3600) + 3600) % 3600;
  if (cached.hourStart == hourStart && cached.zoneSet == (zone != nullptr) &&
      (zone == nullptr || cached.zone == zone)) {
    *offset = cached.offset;
    return true;
  }
  std::tm first{}, last{};
  const std::time_t firstSecond = static_cast<std::time_t>(hourStart);
  const std::time_t lastSecond = static_cast<std::time_t>(hourStart + 3599);
  if (localtime_r(&firstSecond, &first) == nullptr || localtime_r(&lastSecond, &last) == nullptr ||
      first.tm_gmtoff != last.tm_gmtoff)
    return false;
  cached.hourStart = hourStart;
  cached.offset = first.tm_gmtoff;
  cached.zoneSet = zone != nullptr;
  cached.zone = zone != nullptr ? zone : "";
  *offset = cached.offset;
  return true;
}

// Year, month and day of a count of days since 1970-01-01 (proleptic
// Gregorian calendar).
void CivilFromDays(int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

}  // namespace

std::string DateText(int64_t unixSeconds) {
  // Phones' dates (1970 to 2100) take the hour's offset; others, and an
  // hour in which the clocks change, ask the C library.
  constexpr int64_t kYear2100 = 4102444800;
  long offset = 0;
  if (unixSeconds >= 0 && unixSeconds < kYear2100 && OffsetOfHour(unixSeconds, &offset)) {
    const int64_t local = unixSeconds + offset;
    const int64_t days = (local >= 0 ? local : local - 86399) / 86400;
    const int64_t secondOfDay = local - days * 86400;
    int year = 0, month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    return DigitDateText(year, month, day, static_cast<int>(secondOfDay / 3600),
                         static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
  }
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return {};
  const int year = local.tm_year + 1900;
  if (year < 0 || year > 9999) {
    return CORVYN_FORMAT("%04d-%02d-%02d %02d:%02d:%02d", year, local.tm_mon + 1, local.tm_mday,
                         local.tm_hour, local.tm_min, local.tm_sec);
  }
  return DigitDateText(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

std::string DateTextFromCocoa(int64_t cocoaSeconds) {
  if (cocoaSeconds > INT64_MAX - kCocoaEpochOffset) return {};
  return DateText(cocoaSeconds + kCocoaEpochOffset);
}

std::string DurationText(int64_t seconds) {
  const auto whole = [](int64_t value) { return static_cast<long long>(value); };
  if (seconds >= 3600)
    return CORVYN_FORMAT("%lld Hour %lld Min", whole(seconds / 3600), whole(seconds % 3600 / 60));
  if (seconds >= 60) return CORVYN_FORMAT("%lld Min %lld Sec", whole(seconds / 60), whole(seconds % 60));
  return CORVYN_FORMAT("%lld Sec", whole(seconds));
}

std::string SizeText(int64_t bytes) {
  constexpr double kKiB = 1024.0;
  const double value = static_cast<double>(bytes);
  if (bytes >= (int64_t{1} << 40)) return CORVYN_FORMAT("%.2f TB", value / (kKiB * kKiB * kKiB * kKiB));
  if (bytes < 0) return CORVYN_FORMAT("%lld Bytes", static_cast<long long>(bytes));
  if (bytes >= (int64_t{1} << 30)) return CORVYN_FORMAT("%.2f GB", value / (kKiB * kKiB * kKiB));
  if (bytes >= (int64_t{1} << 20)) return CORVYN_FORMAT("%.2f MB", value / (kKiB * kKiB));
  if (bytes >= 1024) return CORVYN_FORMAT("%.2f KB", value / kKiB);
  return CORVYN_FORMAT("%lld Bytes", static_cast<long long>(bytes));
}

bool CouldRunAsFormula(std::string_view text) {
  if (text.empty() || std::string_view("=+-@\t\r").find(text.front()) == std::string_view::npos) return false;
  if (text.front() == '=' || text.front() == '@' || text.front() == '\t' || text.front() == '\r') return true;
  // '+' or '-': a formula only when something but a number follows.
  return text.find_first_not_of("0123456789 +-().") != std::string_view::npos;
}

bool ShowsAttachmentInsteadOfText(std::string_view text, std::string_view attachment) {
  if (attachment.empty()) return false;
  constexpr std::string_view kPlaceholder = "\xEF\xBF\xBC";  // U+FFFC in UTF-8
  while (!text.empty()) {
    if (text.starts_with(kPlaceholder)) {
      text.remove_prefix(kPlaceholder.size());
    } else if (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n') {
      text.remove_prefix(1);
    } else {
      return false;
    }
  }
  return true;
}

std::string MessageBodyText(std::string_view text, std::string_view attachment) {
  if (!ShowsAttachmentInsteadOfText(text, attachment)) return std::string(text);
  return "[Attachment: " + std::string(attachment) + "]";
}

}  // namespace corvyn
