// Chunked file copies with progress: export copies and preview copies.
#pragma once

#include <cstddef>
#include <filesystem>

#include "core/IPhoneRecoveryParse.h"
#include "platform/Status.h"

namespace corvyn::backup {

inline constexpr std::size_t kCopyChunkSize = 65536;

// Copies source to destination (its folder is created with its parents; an
// existing destination is replaced), in 64 KiB chunks, reporting
// bytes copied * 100 / size through the callback (may be null), whose non-zero
// answer ends the copy with that status. A copy that does not finish leaves no
// destination file behind. Returns kOk, kInvalidData for an empty path or
// when both name the same file, or a system error naming the file that could
// not be opened, read or written.
Status CopyFileWithProgress(const std::filesystem::path& source, const std::filesystem::path& destination,
                            ProgressCallback callback, void* userValue);

}  // namespace corvyn::backup
