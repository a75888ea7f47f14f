#include "backup/WorkingRoot.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>

#include "platform/DiskSpace.h"
#include "platform/SpecialFolders.h"

namespace corvyn::backup {
namespace fs = std::filesystem;
namespace {

std::optional<uint64_t> RealFreeSpace(const fs::path& path) {
  uint64_t free = 0;
  if (platform::DefaultDiskSpace().FreeBytes(path, &free) != kOk) return std::nullopt;
  return free;
}

struct ChosenRoot {
  std::mutex mutex;
  fs::path root;
};

ChosenRoot& Chosen() {
  static ChosenRoot chosen;
  return chosen;
}

}  // namespace

std::vector<fs::path> RankWorkingRoots(const fs::path& appData,
                                       const std::vector<fs::path>& fallbackCandidates,
                                       const FreeSpaceProbe& freeSpace) {
  std::vector<fs::path> ranked;
  if (!appData.empty()) {
    const auto free = freeSpace(appData);
    if (free && *free > kWorkingRootMinimumFree) ranked.push_back(appData / kProgramDataFolder / kTempFolder);
  }
  std::vector<std::pair<uint64_t, fs::path>> measured;
  for (const auto& candidate : fallbackCandidates) {
    if (const auto free = freeSpace(candidate)) measured.emplace_back(*free, candidate / kTempFolder);
  }
  std::stable_sort(measured.begin(), measured.end(),
                   [](const auto& left, const auto& right) { return left.first > right.first; });
  for (auto& [free, root] : measured) ranked.push_back(std::move(root));
  return ranked;
}

fs::path ChooseWorkingRoot(const fs::path& appData, const std::vector<fs::path>& fallbackCandidates,
                           const FreeSpaceProbe& freeSpace) {
  const auto ranked = RankWorkingRoots(appData, fallbackCandidates, freeSpace);
  return ranked.empty() ? fs::path() : ranked.front();
}

fs::path AppDataFolder() {
  return platform::RoamingAppDataDir();
}

std::vector<fs::path> FallbackCandidates() {
  std::vector<fs::path> candidates;
  for (const auto& fileSystem : platform::DefaultDiskSpace().MountedFileSystems()) {
    candidates.push_back(fileSystem.mountPoint);
  }
  candidates.push_back(platform::HomeDir());
  std::error_code error;
  const auto temp = fs::temp_directory_path(error);
  if (!error) candidates.push_back(temp);
  return candidates;
}

fs::path FirstPrivateRoot(const std::vector<fs::path>& ranked) {
  for (const auto& root : ranked) {
    if (platform::MakePrivateFolder(root) == kOk) return root;
  }
  return {};
}

fs::path WorkingRoot() {
  ChosenRoot& chosen = Chosen();
  std::lock_guard lock(chosen.mutex);
  if (!chosen.root.empty()) return chosen.root;
  // The app-data folder may not exist yet: measure the nearest existing parent.
  const FreeSpaceProbe freeSpace = [](const fs::path& path) -> std::optional<uint64_t> {
    fs::path probe = path;
    std::error_code error;
    while (!probe.empty() && !fs::exists(probe, error) && probe.has_parent_path() &&
           probe != probe.parent_path()) {
      probe = probe.parent_path();
    }
    return RealFreeSpace(probe);
  };
  chosen.root = FirstPrivateRoot(RankWorkingRoots(AppDataFolder(), FallbackCandidates(), freeSpace));
  return chosen.root;
}

fs::path ChosenWorkingRoot() {
  ChosenRoot& chosen = Chosen();
  std::lock_guard lock(chosen.mutex);
  if (!chosen.root.empty()) return chosen.root;
  const fs::path appData = AppDataFolder();
  return appData.empty() ? fs::path() : appData / kProgramDataFolder / kTempFolder;
}

fs::path PreviewFolder(const fs::path& workingRoot) {
  return workingRoot / kPreviewFolder;
}

fs::path DecryptedCopyFolder(const fs::path& workingRoot) {
  return workingRoot / kDecryptedCopyFolder;
}

void RemoveWorkingFiles(const fs::path& workingRoot) {
  if (workingRoot.empty()) return;
  std::error_code ignored;  // a folder that is not there is fine
  fs::remove_all(PreviewFolder(workingRoot), ignored);
  fs::remove_all(DecryptedCopyFolder(workingRoot), ignored);
}

}  // namespace corvyn::backup
