#include "core/TextFormat.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

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

std::string DateText(int64_t unixSeconds) {
  const std::time_t time = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  if (localtime_r(&time, &local) == nullptr) return {};
  const int year = local.tm_year + 1900;
  if (year < 0 || year > 9999) {
    return CORVYN_FORMAT("%04d-%02d-%02d %02d:%02d:%02d", year, local.tm_mon + 1, local.tm_mday,
                         local.tm_hour, local.tm_min, local.tm_sec);
  }
  // Every record carries dates: written digit by digit, without a format.
  std::string text = "0000-00-00 00:00:00";
  const auto put = [&text](std::size_t at, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10) text[at + static_cast<std::size_t>(i)] += value % 10;
  };
  put(0, year, 4);
  put(5, local.tm_mon + 1, 2);
  put(8, local.tm_mday, 2);
  put(11, local.tm_hour, 2);
  put(14, local.tm_min, 2);
  put(17, local.tm_sec, 2);
  return text;
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
