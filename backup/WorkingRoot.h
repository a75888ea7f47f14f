// The working folder of encrypted-backup scans and preview copies.
//
// Chosen once per run: "<app data>/CorvyniOSRecovery/CorvynTempFile" when the
// app-data folder's file system has more than 1 GiB free; otherwise
// "<mount point>/CorvynTempFile" on the writable mount point with the most
// free space (the earlier candidate wins a tie). App data is $XDG_DATA_HOME
// (or ~/.local/share).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/Status.h"

namespace corvyn::backup {

inline constexpr uint64_t kWorkingRootMinimumFree = 0x40000000;  // 1 GiB
inline constexpr std::string_view kProgramDataFolder = "CorvyniOSRecovery";
inline constexpr std::string_view kTempFolder = "CorvynTempFile";
inline constexpr std::string_view kDecryptedCopyFolder = "CorvynBackupPath";

// Free bytes of the file system holding a path; nullopt when unknown.
using FreeSpaceProbe = std::function<std::optional<uint64_t>(const std::filesystem::path&)>;

// The working roots by the rule above, best first: the app-data one when it
// has room, then one per candidate, most free space first (stable). Pure:
// creates nothing. The caller takes the first it can create.
std::vector<std::filesystem::path> RankWorkingRoots(
    const std::filesystem::path& appData, const std::vector<std::filesystem::path>& fallbackCandidates,
    const FreeSpaceProbe& freeSpace);

// The first of RankWorkingRoots (empty when there is none).
std::filesystem::path ChooseWorkingRoot(const std::filesystem::path& appData,
                                        const std::vector<std::filesystem::path>& fallbackCandidates,
                                        const FreeSpaceProbe& freeSpace);

// App data folder ($XDG_DATA_HOME or ~/.local/share); empty when unknown.
std::filesystem::path AppDataFolder();

// Mount points of real file systems plus HOME and the temporary folder.
std::vector<std::filesystem::path> FallbackCandidates();

// The working root of this run, created with its parents on first use
// (thread-safe). Empty when no folder could be created.
std::filesystem::path WorkingRoot();

}  // namespace corvyn::backup
