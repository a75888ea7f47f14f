#include "platform/PasswordLine.h"

namespace corvyn::platform {

std::optional<std::string> ReadPasswordLine(std::FILE* in) {
  std::string line;
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    if (line.size() == kMaxPasswordBytes) return std::nullopt;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace corvyn::platform
