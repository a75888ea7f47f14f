#include "decoders/TypedStream.h"

#include <cstdint>

#include "core/Utf8.h"

namespace corvyn::decoders {
namespace {

constexpr std::string_view kLittleEndianSignature = "streamtyped";
constexpr std::string_view kBigEndianSignature = "typedstream";
constexpr std::string_view kStringClass = "NSString";
// Between the class name and the type string: the class version and the end
// of the class chain (0x01 0x95 in every stream seen), with room to spare.
constexpr std::size_t kMostBytesBeforeType = 8;
constexpr std::string_view kTextType = "\x84\x01\x2B";

constexpr unsigned char kTwoByteInteger = 0x81;
constexpr unsigned char kFourByteInteger = 0x82;

uint32_t LittleEndian(std::string_view bytes) {
  uint32_t value = 0;
  for (std::size_t i = bytes.size(); i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

// The tagged length at `at`; advances `at` past it. std::nullopt when it is
// cut off, negative or a tag that is no length.
std::optional<std::size_t> ReadLength(std::string_view stream, std::size_t& at) {
  if (at >= stream.size()) return std::nullopt;
  const auto tag = static_cast<unsigned char>(stream[at]);
  if (tag < 0x80) {
    ++at;
    return tag;
  }
  const std::size_t width = tag == kTwoByteInteger ? 2 : tag == kFourByteInteger ? 4 : 0;
  if (width == 0 || stream.size() - at - 1 < width) return std::nullopt;
  const uint32_t value = LittleEndian(stream.substr(at + 1, width));
  // The integers are signed; a negative length is no length.
  if ((width == 2 && value > 0x7FFF) || (width == 4 && value > 0x7FFFFFFF)) return std::nullopt;
  at += 1 + width;
  return value;
}

}  // namespace

std::optional<std::string> TypedStreamText(std::string_view stream) {
  // Header: streamer version byte, signature length byte, signature.
  if (stream.size() < 2 + kLittleEndianSignature.size()) return std::nullopt;
  const std::string_view signature = stream.substr(2, kLittleEndianSignature.size());
  if (signature != kLittleEndianSignature && signature != kBigEndianSignature) return std::nullopt;

  const std::size_t name = stream.find(kStringClass);
  if (name == std::string_view::npos) return std::nullopt;
  const std::size_t afterName = name + kStringClass.size();
  const std::size_t type = stream.substr(afterName, kMostBytesBeforeType + kTextType.size()).find(kTextType);
  if (type == std::string_view::npos) return std::nullopt;

  std::size_t at = afterName + type + kTextType.size();
  const std::optional<std::size_t> length = ReadLength(stream, at);
  if (!length || *length > stream.size() - at) return std::nullopt;
  const std::string_view text = stream.substr(at, *length);
  if (!IsValidUtf8(text)) return std::nullopt;
  return std::string(text);
}

}  // namespace corvyn::decoders
