// A small reader of the protocol buffer wire format: it walks the fields of
// one message held in memory and hands out varints and length-delimited byte
// runs as views into it. It knows no schema; callers follow field numbers.
// Every read is bounded by the bytes given, so damaged or hostile input ends
// the walk (Failed()) and never reads past the message.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace corvyn::decoders::protobuf {

enum class WireType : uint8_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

struct Field {
  uint32_t number = 0;
  WireType type = WireType::kVarint;
  uint64_t value = 0;      // varint, fixed64 and fixed32 fields
  std::string_view bytes;  // length-delimited fields
};

class WireReader {
 public:
  explicit WireReader(std::string_view message) : rest_(message) {}

  // The next field. False at the end of the message, and when the bytes
  // break the format (a varint longer than 10 bytes, a length past the end,
  // field number 0, group or unknown wire types); Failed() tells the two
  // apart.
  bool Next(Field& field);
  bool Failed() const { return failed_; }

 private:
  bool ReadVarint(uint64_t& value);

  std::string_view rest_;
  bool failed_ = false;
};

// The bytes of the first length-delimited field numbered path[0] in
// `message`, then of path[1] inside those bytes, and so on; std::nullopt when
// a step is missing or its message is malformed before the step was found.
std::optional<std::string_view> FindBytes(std::string_view message, std::initializer_list<uint32_t> path);

}  // namespace corvyn::decoders::protobuf
