#include "core/TextFormat.h"

#include <cstdio>
#include <ctime>

namespace corvyn {
namespace {

std::string Format(const char* format, auto... values) {
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, format, values...);
  return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

std::string DateText(int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return {};
  return Format("%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
}

std::string DateTextFromCocoa(int64_t cocoaSeconds) {
  if (cocoaSeconds > INT64_MAX - kCocoaEpochOffset) return {};
  return DateText(cocoaSeconds + kCocoaEpochOffset);
}

std::string DurationText(int64_t seconds) {
  if (seconds >= 3600) return Format("%d Hour %d Min", static_cast<int>(seconds / 3600), static_cast<int>(seconds % 3600 / 60));
  if (seconds >= 60) return Format("%d Min %d Sec", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
  return Format("%d Sec", static_cast<int>(seconds));
}

std::string SizeText(int64_t bytes) {
  constexpr double kKiB = 1024.0;
  if (bytes >= (int64_t{1} << 40)) return Format("%.2f TB", static_cast<double>(bytes) / (kKiB * kKiB * kKiB * kKiB));
  if (bytes < 0) return Format("%d Bytes", static_cast<int>(bytes));
  if (bytes >= (int64_t{1} << 30)) return Format("%.2f GB", static_cast<double>(bytes) / (kKiB * kKiB * kKiB));
  if (bytes >= (int64_t{1} << 20)) return Format("%.2f MB", static_cast<double>(bytes) / (kKiB * kKiB));
  if (bytes >= 1024) return Format("%.2f KB", static_cast<double>(bytes) / kKiB);
  return Format("%d Bytes", static_cast<int>(bytes));
}

}  // namespace corvyn
