// Plain text of a Messages `attributedBody` value: an NSArchiver
// "typedstream" holding an NSAttributedString. Only the string of the root
// object is read; the attribute runs and dictionaries are skipped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvyn::decoders {

// The UTF-8 text of the first NSString in the stream: after the class name
// "NSString" (and at most a few bytes of class version), the one-character
// type string "+" (0x84 0x01 0x2B), a tagged length (one byte 0..0x7F, or
// 0x81 + 2 or 0x82 + 4 little-endian bytes) and that many bytes. std::nullopt
// when the stream has no typedstream signature, no such string, a length that
// runs past the end, or bytes that are not valid UTF-8. Reads only inside
// `stream`, never more than it holds.
std::optional<std::string> TypedStreamText(std::string_view stream);

}  // namespace corvyn::decoders
