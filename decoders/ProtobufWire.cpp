#include "decoders/ProtobufWire.h"

namespace corvyn::decoders::protobuf {

bool WireReader::ReadVarint(uint64_t& value) {
  value = 0;
  for (unsigned index = 0; index < 10; ++index) {
    if (index >= rest_.size()) return false;
    const auto byte = static_cast<uint8_t>(rest_[index]);
    value |= static_cast<uint64_t>(byte & 0x7F) << (7 * index);
    if ((byte & 0x80) == 0) {
      rest_.remove_prefix(index + 1);
      return true;
    }
  }
  return false;
}

bool WireReader::Next(Field& field) {
  if (failed_ || rest_.empty()) return false;
  uint64_t key = 0;
  if (!ReadVarint(key) || (key >> 3) == 0 || (key >> 3) > UINT32_MAX) {
    failed_ = true;
    return false;
  }
  field = Field{};
  field.number = static_cast<uint32_t>(key >> 3);
  switch (key & 7) {
    case 0:
      field.type = WireType::kVarint;
      if (ReadVarint(field.value)) return true;
      break;
    case 1:
    case 5: {
      const std::size_t size = (key & 7) == 1 ? 8 : 4;
      if (rest_.size() < size) break;
      field.type = size == 8 ? WireType::kFixed64 : WireType::kFixed32;
      for (std::size_t index = 0; index < size; ++index)
        field.value |= static_cast<uint64_t>(static_cast<uint8_t>(rest_[index])) << (8 * index);
      rest_.remove_prefix(size);
      return true;
    }
    case 2: {
      uint64_t length = 0;
      if (!ReadVarint(length) || length > rest_.size()) break;
      field.type = WireType::kLengthDelimited;
      field.bytes = rest_.substr(0, static_cast<std::size_t>(length));
      rest_.remove_prefix(static_cast<std::size_t>(length));
      return true;
    }
    default:  // groups (3, 4) are not used by the messages read here; 6 and 7 do not exist
      break;
  }
  failed_ = true;
  return false;
}

std::optional<std::string_view> FindBytes(std::string_view message, std::initializer_list<uint32_t> path) {
  std::string_view current = message;
  for (const uint32_t number : path) {
    WireReader reader(current);
    Field field;
    bool found = false;
    while (reader.Next(field)) {
      if (field.number == number && field.type == WireType::kLengthDelimited) {
        current = field.bytes;
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  return current;
}

}  // namespace corvyn::decoders::protobuf
