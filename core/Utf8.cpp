#include "core/Utf8.h"

#include <cstdint>
#include <cstring>

namespace corvyn {
namespace {

// Length of the well-formed sequence at bytes[pos], or 0 when it is not one.
std::size_t SequenceLength(std::string_view bytes, std::size_t pos, char32_t* codePoint) {
  const auto byteAt = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
  const uint8_t lead = byteAt(pos);
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (pos + length > bytes.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const uint8_t continuation = byteAt(pos + i);
    if ((continuation & 0xC0) != 0x80) return 0;
    value = (value << 6) | (continuation & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

// Length of the maximal invalid subpart starting at pos (at least 1): the
// longest prefix of a well-formed sequence, as Unicode recommends, so that a
// lead byte swallows only continuation bytes it could really take.
std::size_t InvalidRunLength(std::string_view bytes, std::size_t pos) {
  const uint8_t lead = static_cast<uint8_t>(bytes[pos]);
  std::size_t expected = 1;
  uint8_t secondLow = 0x80, secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    expected = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    expected = 3;
    if (lead == 0xE0) secondLow = 0xA0;
    if (lead == 0xED) secondHigh = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    expected = 4;
    if (lead == 0xF0) secondLow = 0x90;
    if (lead == 0xF4) secondHigh = 0x8F;
  }
  std::size_t length = 1;
  while (length < expected && pos + length < bytes.size()) {
    const uint8_t next = static_cast<uint8_t>(bytes[pos + length]);
    const uint8_t low = length == 1 ? secondLow : 0x80;
    const uint8_t high = length == 1 ? secondHigh : 0xBF;
    if (next < low || next > high) break;
    ++length;
  }
  return length;
}

// True when the eight bytes from pos are all ASCII: most texts are mostly
// ASCII, and those are checked eight at a time.
bool EightAsciiBytesAt(std::string_view bytes, std::size_t pos) {
  if (pos + 8 > bytes.size()) return false;
  uint64_t word = 0;
  std::memcpy(&word, bytes.data() + pos, sizeof word);
  return (word & 0x8080808080808080ULL) == 0;
}

}  // namespace

std::size_t Utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t codePoint = 0;
    const std::size_t length = SequenceLength(utf8, pos, &codePoint);
    if (length == 0) {
      units += 1;
      pos += InvalidRunLength(utf8, pos);
      continue;
    }
    units += codePoint >= 0x10000 ? 2 : 1;
    pos += length;
  }
  return units;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    if (EightAsciiBytesAt(bytes, pos)) {
      pos += 8;
      continue;
    }
    char32_t codePoint = 0;
    const std::size_t length = SequenceLength(bytes, pos, &codePoint);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string ToValidUtf8(std::string_view bytes, bool* replaced) {
  std::string out;
  out.reserve(bytes.size());
  bool anyReplaced = false;
  // Well-formed stretches are copied whole; only a malformed sequence is
  // replaced, by one U+FFFD per maximal invalid subpart.
  std::size_t runStart = 0;
  for (std::size_t pos = 0; pos < bytes.size();) {
    if (EightAsciiBytesAt(bytes, pos)) {
      pos += 8;
      continue;
    }
    char32_t codePoint = 0;
    const std::size_t length = SequenceLength(bytes, pos, &codePoint);
    if (length != 0) {
      pos += length;
      continue;
    }
    out.append(bytes.substr(runStart, pos - runStart));
    out += "\xEF\xBF\xBD";
    anyReplaced = true;
    pos += InvalidRunLength(bytes, pos);
    runStart = pos;
  }
  out.append(bytes.substr(runStart));
  if (replaced) *replaced = anyReplaced;
  return out;
}

bool ContainsReplacementCharacter(std::string_view utf8) {
  return utf8.find("\xEF\xBF\xBD") != std::string_view::npos;
}

std::string_view Utf16Prefix(std::string_view utf8, std::size_t maxUnits) {
  std::size_t units = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t codePoint = 0;
    std::size_t length = SequenceLength(utf8, pos, &codePoint);
    std::size_t width = 1;
    if (length == 0) {
      length = InvalidRunLength(utf8, pos);
    } else if (codePoint >= 0x10000) {
      width = 2;
    }
    if (units + width > maxUnits) break;
    units += width;
    pos += length;
  }
  return utf8.substr(0, pos);
}

}  // namespace corvyn
