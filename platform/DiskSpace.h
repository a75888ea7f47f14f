// Free space of file systems: the stand-in for the system's drive list and
// free-space query (the working-root fallback picks the file system with the
// most free space).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvyn::platform {

struct MountedFileSystem {
  std::filesystem::path mountPoint;
  std::string type;             // "ext4", "tmpfs", ...
  std::uint64_t freeBytes = 0;  // available to this user
  std::uint64_t totalBytes = 0;
};

class IDiskSpace {
 public:
  virtual ~IDiskSpace() = default;
  // Bytes available to this user on the file system holding `path` (which
  // must exist). kOk or the system error of the failed query.
  virtual Status FreeBytes(const std::filesystem::path& path, std::uint64_t* freeBytes) = 0;
  // The mounted file systems that can hold user files, in mount-table order,
  // each with its free and total bytes; pseudo file systems (proc, sysfs,
  // cgroup, ...) and those that cannot be queried are left out.
  virtual std::vector<MountedFileSystem> MountedFileSystems() = 0;
};

IDiskSpace& DefaultDiskSpace();

// Mount points and types from a mount table in the /proc/self/mounts form
// (device, mount point with octal escapes such as "\040", type, ...), in
// order, without pseudo file systems. Free and total bytes are left 0.
std::vector<MountedFileSystem> ParseMountTable(std::string_view table);

// From `fileSystems`, the one with the most free bytes; the earlier one wins
// a tie. nullptr when the list is empty.
const MountedFileSystem* MostFreeSpace(const std::vector<MountedFileSystem>& fileSystems);

}  // namespace corvyn::platform
