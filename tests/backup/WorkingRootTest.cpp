#include <gtest/gtest.h>

#include <map>

#include "backup/WorkingRoot.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;

constexpr uint64_t kGiB = 1ull << 30;

TEST(WorkingRoot, AppDataWhenItHasRoomElseTheFileSystemWithMostFreeSpace) {
  const struct {
    const char* label;
    std::map<std::string, uint64_t> free;  // missing: unknown
    const char* expected;
  } cases[] = {
      {"room in app data",
       {{"/home/u/.local/share", 2 * kGiB}, {"/mnt/big", 900 * kGiB}},
       "/home/u/.local/share/CorvyniOSRecovery/CorvynTempFile"},
      {"exactly 1 GiB is not enough",
       {{"/home/u/.local/share", kGiB}, {"/mnt/big", 5 * kGiB}, {"/", 3 * kGiB}},
       "/mnt/big/CorvynTempFile"},
      {"app data unknown", {{"/", 3 * kGiB}, {"/mnt/big", 2 * kGiB}}, "/CorvynTempFile"},
      {"a tie keeps the earlier",
       {{"/home/u/.local/share", 10}, {"/", 7 * kGiB}, {"/mnt/big", 7 * kGiB}},
       "/CorvynTempFile"},
      {"nothing known", {}, ""},
  };
  const std::vector<fs::path> candidates = {"/", "/mnt/big"};
  for (const auto& c : cases) {
    const FreeSpaceProbe probe = [&](const fs::path& path) -> std::optional<uint64_t> {
      const auto it = c.free.find(path.string());
      if (it == c.free.end()) return std::nullopt;
      return it->second;
    };
    EXPECT_EQ(ChooseWorkingRoot("/home/u/.local/share", candidates, probe), fs::path(c.expected)) << c.label;
  }
}

TEST(WorkingRoot, RankingFallsBackInOrderOfFreeSpace) {
  const FreeSpaceProbe probe = [](const fs::path& path) -> std::optional<uint64_t> {
    if (path == "/a") return 5;
    if (path == "/b") return 9;
    if (path == "/c") return 5;
    return std::nullopt;
  };
  const auto ranked = RankWorkingRoots("/data", {"/a", "/b", "/c"}, probe);
  EXPECT_EQ(ranked, (std::vector<fs::path>{"/b/CorvynTempFile", "/a/CorvynTempFile", "/c/CorvynTempFile"}));
}

}  // namespace
}  // namespace corvyn::backup
