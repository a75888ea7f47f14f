// Reading a password as one line of a stream (standard input of a helper
// program or of corvyn-cli), so that it never has to be given on a command
// line where other users could see it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace corvyn::platform {

// The longest password line accepted.
inline constexpr std::size_t kMaxPasswordBytes = 64 * 1024;

// The next line of `in` without its line end ("\n" or "\r\n"); the rest of
// the stream when it has no line end. Nothing when the line is longer than
// kMaxPasswordBytes.
std::optional<std::string> ReadPasswordLine(std::FILE* in);

}  // namespace corvyn::platform
