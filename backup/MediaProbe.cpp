#include "backup/MediaProbe.h"

#include "core/FileType.h"

namespace corvyn::backup {

std::string DetectedExtension(const std::filesystem::path& path, uint64_t& counter) {
  std::string name;
  if (DetectFileType(path, name, counter) != kOk) return {};
  const auto dot = name.find('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace corvyn::backup
