// Big-endian integers of the SQLite file format. Callers check the bounds.
#pragma once

#include <cstdint>

namespace corvyn::sqlite {

inline uint32_t ReadBigEndian16(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 8 | bytes[1];
}

inline uint32_t ReadBigEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

}  // namespace corvyn::sqlite
