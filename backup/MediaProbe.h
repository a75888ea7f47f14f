// The media type of a stored file, judged by its first bytes (core's file
// type detection), as the lower-case extension the engine names it with.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace corvyn::backup {

// "jpg", "png", "mov", ... or empty when the type is not recognised or the
// file cannot be read. `counter` is the operation's detection counter.
std::string DetectedExtension(const std::filesystem::path& path, uint64_t& counter);

}  // namespace corvyn::backup
