// Unpacks a gzip stream held in memory (RFC 1952, through zlib), with a cap
// on the unpacked size so a small hostile input cannot claim unbounded memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Status.h"

namespace corvyn::decoders {

inline constexpr std::size_t kMaxGunzippedSize = 64u << 20;

// True when the bytes begin like a gzip stream (1F 8B 08).
bool LooksGzipped(std::string_view bytes);

// The unpacked bytes of the first gzip member of `packed`. kInvalidData (in
// words) when the bytes are not gzip, are damaged or cut short, or unpack to
// more than maxSize bytes; `out` is then empty.
Status Gunzip(std::string_view packed, std::string& out, std::size_t maxSize = kMaxGunzippedSize);

}  // namespace corvyn::decoders
