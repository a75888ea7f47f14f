// Reads arbitrary bytes as a note body twice: as stored (gzip, then the
// protocol buffer walk) and as an unpacked message walked field by field.
// Any read outside a buffer, hang or crash is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decoders/NoteStoreBody.h"
#include "decoders/ProtobufWire.h"

namespace {

volatile uint64_t sink;

void Touch(std::string_view bytes) {
  uint64_t sum = 0;
  for (const char c : bytes) sum += static_cast<uint8_t>(c);
  sink = sum;
}

// Walks every length-delimited field as a message of its own, a few levels deep.
void Walk(std::string_view message, int depth) {
  corvyn::decoders::protobuf::WireReader reader(message);
  corvyn::decoders::protobuf::Field field;
  while (reader.Next(field)) {
    if (field.type != corvyn::decoders::protobuf::WireType::kLengthDelimited) continue;
    Touch(field.bytes);
    if (depth < 4) Walk(field.bytes, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Touch(corvyn::decoders::ReadNoteBody(bytes).text);
  if (const auto text = corvyn::decoders::NoteTextOfMessage(bytes)) Touch(*text);
  Walk(bytes, 0);
  return 0;
}
