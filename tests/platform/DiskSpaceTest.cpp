#include <gtest/gtest.h>

#include "platform/DiskSpace.h"

namespace corvyn::platform {
namespace {

TEST(DiskSpace, ParsesMountTableAndDropsPseudoFileSystems) {
  const auto fileSystems = ParseMountTable(
      "/dev/sda1 / ext4 rw,relatime 0 0\n"
      "proc /proc proc rw 0 0\n"
      "sysfs /sys sysfs rw 0 0\n"
      "/dev/sdb1 /media/My\\040Phone\\134Backups vfat rw 0 0\n"
      "tmpfs /tmp tmpfs rw 0 0\n"
      "broken-line\n"
      "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
      "/dev/sdc1 /mnt/odd\\04 ext4 rw 0 0\n");
  ASSERT_EQ(fileSystems.size(), 4u);
  EXPECT_EQ(fileSystems[0].mountPoint, "/");
  EXPECT_EQ(fileSystems[0].type, "ext4");
  EXPECT_EQ(fileSystems[1].mountPoint, "/media/My Phone\\Backups");
  EXPECT_EQ(fileSystems[2].mountPoint, "/tmp");
  EXPECT_EQ(fileSystems[3].mountPoint, "/mnt/odd\\04") << "an incomplete escape stays as written";
}

TEST(DiskSpace, MostFreeSpaceKeepsTheEarlierOnATie) {
  std::vector<MountedFileSystem> fileSystems = {{"/a", "ext4", 10, 100},
                                                {"/b", "ext4", 5'000'000'000'000ULL, 1},
                                                {"/c", "ext4", 5'000'000'000'000ULL, 1}};
  EXPECT_EQ(MostFreeSpace(fileSystems)->mountPoint, "/b");
  EXPECT_EQ(MostFreeSpace({}), nullptr);
}

TEST(DiskSpace, RealQueries) {
  std::uint64_t freeBytes = 0;
  EXPECT_EQ(DefaultDiskSpace().FreeBytes(std::filesystem::temp_directory_path(), &freeBytes), kOk);
  EXPECT_GT(freeBytes, 0u);
  EXPECT_EQ((DefaultDiskSpace().FreeBytes("/nonexistent/corvyn", &freeBytes)).systemError(), ENOENT);
  const auto mounted = DefaultDiskSpace().MountedFileSystems();
  ASSERT_FALSE(mounted.empty());
  for (const auto& fileSystem : mounted) EXPECT_GT(fileSystem.totalBytes, 0u) << fileSystem.mountPoint;
}

}  // namespace
}  // namespace corvyn::platform
