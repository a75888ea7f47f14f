// Preparing the decryption program for a run: the backup engine copies the
// "tool" file that lies beside the program into the user's data folder
// before every run. On Linux the copy must keep its executable signature
// (the ELF magic 7F 'E' 'L' 'F' in its first four bytes) and its executable
// permission; a copy that would not run is refused before it is started.
#pragma once

#include <filesystem>

#include "platform/Status.h"

namespace corvyn::backupcrypto {

inline constexpr char kElfMagic[4] = {0x7F, 'E', 'L', 'F'};

// True when `path` is a regular file that starts with the ELF magic.
bool HasExecutableSignature(const std::filesystem::path& path);

// Copies `from` to `to` (replacing whatever lies there, never writing through
// a link), then makes the copy readable and executable by its owner only.
// Returns kInvalidData when `from` lacks the executable signature, otherwise
// kOk or an errno value.
Status CopyDecryptionProgram(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace corvyn::backupcrypto
