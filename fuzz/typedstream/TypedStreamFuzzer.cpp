// Feeds arbitrary bytes to the reader of Messages attributedBody streams: it
// must never read outside them, and a text it gives is valid UTF-8 that the
// stream holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/Utf8.h"
#include "decoders/TypedStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> text = corvyn::decoders::TypedStreamText(stream);
  if (text) {
    if (!corvyn::IsValidUtf8(*text)) std::abort();
    if (!text->empty() && stream.find(*text) == std::string_view::npos) std::abort();
  }
  return 0;
}
