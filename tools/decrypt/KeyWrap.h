// AES key wrap (RFC 3394) with a 256-bit key-encryption key, through
// libcrypto's id-aes256-wrap cipher. Wrapped data is 8 bytes longer than the
// key it carries; the 8-byte integrity register must come out as A6...A6.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvyn::backupcrypto {

inline constexpr std::size_t kKekSize = 32;
inline constexpr std::size_t kWrapOverhead = 8;

// Unwraps `wrapped` (a multiple of 8 bytes, at least 24). Returns nothing when
// the sizes are wrong or the integrity check fails (a wrong key).
std::optional<std::vector<std::uint8_t>> AesKeyUnwrap(std::span<const std::uint8_t> kek,
                                                      std::span<const std::uint8_t> wrapped);

// Wraps `key` (a multiple of 8 bytes, at least 16). Returns nothing on bad sizes.
std::optional<std::vector<std::uint8_t>> AesKeyWrap(std::span<const std::uint8_t> kek,
                                                    std::span<const std::uint8_t> key);

}  // namespace corvyn::backupcrypto
