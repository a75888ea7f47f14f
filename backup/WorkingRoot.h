// The working folder of encrypted-backup scans and preview copies.
//
// Chosen once per run: "<app data>/CorvyniOSRecovery/CorvynTempFile" when the
// app-data folder's file system has more than 1 GiB free; otherwise
// "<mount point>/CorvynTempFile" on the writable mount point with the most
// free space (the earlier candidate wins a tie). App data is $XDG_DATA_HOME
// (or ~/.local/share).
//
// Decrypted copies and preview copies are private data: every working root
// and the folders in it are made with platform::MakePrivateFolder (mode 0700,
// ours alone), and a folder that someone else owns or may enter is refused.
// The engine that fills a working root empties it again (RemoveWorkingFiles);
// the program does the same for this run's root at shut-down.
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
inline constexpr std::string_view kPreviewFolder = "CorvynPreview";

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

// The first of the ranked roots that MakePrivateFolder accepts (creating it
// when missing); empty when it refuses them all.
std::filesystem::path FirstPrivateRoot(const std::vector<std::filesystem::path>& ranked);

// The working root of this run, made private with its parents on first use
// (thread-safe). Empty when no folder could be made or accepted.
std::filesystem::path WorkingRoot();

// The working root to clean at shut-down: this run's when WorkingRoot() has
// chosen one, else the default one in the app-data folder (an earlier run
// that ended abruptly may have left files there). Chooses and creates nothing.
std::filesystem::path ChosenWorkingRoot();

// The folder of the preview copies under a working root: where
// ExtractForPreview writes them and where RemoveWorkingFiles deletes them.
std::filesystem::path PreviewFolder(const std::filesystem::path& workingRoot);

// The folder of the decrypted copy under a working root.
std::filesystem::path DecryptedCopyFolder(const std::filesystem::path& workingRoot);

// Deletes what the engine leaves under a working root: the preview folder and
// the decrypted copy. Anything else there, and the root itself, stays. Missing
// folders are fine; an empty root does nothing.
void RemoveWorkingFiles(const std::filesystem::path& workingRoot);

}  // namespace corvyn::backup
