#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

namespace corvyn::platform {
namespace {

constexpr std::array<std::string_view, 22> kPseudoTypes = {
    "proc",       "sysfs", "devpts",   "cgroup",    "cgroup2",  "securityfs", "debugfs", "tracefs",
    "pstore",     "bpf",   "mqueue",   "hugetlbfs", "configfs", "fusectl",    "autofs",  "binfmt_misc",
    "rpc_pipefs", "nsfs",  "efivarfs", "selinuxfs", "devtmpfs", "ramfs"};

bool IsPseudo(std::string_view type) {
  for (auto pseudo : kPseudoTypes) {
    if (type == pseudo) return true;
  }
  return false;
}

// Undoes the octal escapes of the mount table ("\040" for a blank).
std::string Unescape(std::string_view field) {
  std::string result;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string_view digits = field.substr(i + 1, 3);
      bool octal = digits.size() == 3;
      for (char c : digits) octal = octal && c >= '0' && c <= '7';
      if (octal) {
        result += static_cast<char>(((digits[0] - '0') << 6) | ((digits[1] - '0') << 3) | (digits[2] - '0'));
        i += 3;
        continue;
      }
    }
    result += field[i];
  }
  return result;
}

class PosixDiskSpace final : public IDiskSpace {
 public:
  Status FreeBytes(const std::filesystem::path& path, std::uint64_t* freeBytes) override {
    *freeBytes = 0;
    struct statvfs info {};
    if (statvfs(path.c_str(), &info) != 0) return Status::System(errno, path.string());
    *freeBytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    return kOk;
  }

  std::vector<MountedFileSystem> MountedFileSystems() override {
    std::ifstream file("/proc/self/mounts");
    std::ostringstream content;
    content << file.rdbuf();
    std::vector<MountedFileSystem> result;
    for (auto& fileSystem : ParseMountTable(content.str())) {
      struct statvfs info {};
      if (statvfs(fileSystem.mountPoint.c_str(), &info) != 0 || info.f_blocks == 0) continue;
      fileSystem.freeBytes = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
      fileSystem.totalBytes = static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize;
      result.push_back(std::move(fileSystem));
    }
    return result;
  }
};

}  // namespace

std::vector<MountedFileSystem> ParseMountTable(std::string_view table) {
  std::vector<MountedFileSystem> result;
  std::istringstream lines{std::string(table)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string device, mountPoint, type;
    if (!(fields >> device >> mountPoint >> type)) continue;
    if (IsPseudo(type) || mountPoint.empty() || mountPoint.front() != '/') continue;
    MountedFileSystem fileSystem;
    fileSystem.mountPoint = Unescape(mountPoint);
    fileSystem.type = type;
    result.push_back(std::move(fileSystem));
  }
  return result;
}

const MountedFileSystem* MostFreeSpace(const std::vector<MountedFileSystem>& fileSystems) {
  const MountedFileSystem* best = nullptr;
  for (const auto& fileSystem : fileSystems) {
    if (best == nullptr || fileSystem.freeBytes > best->freeBytes) best = &fileSystem;
  }
  return best;
}

IDiskSpace& DefaultDiskSpace() {
  static PosixDiskSpace diskSpace;
  return diskSpace;
}

}  // namespace corvyn::platform
