// The text of a note body as the Notes app of iOS 9 and later stores it
// (ZICNOTEDATA.ZDATA): gzip around a protocol buffer message whose field 2
// (document) holds field 3 (note), whose field 2 is the note's whole text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvyn::decoders {

enum class NoteBodyKind {
  kText,        // the text was read (it may be empty: an emptied note)
  kNone,        // no body bytes
  kEncrypted,   // bytes that are not gzip: a password-protected body
  kUnreadable,  // gzip that does not unpack, or no text where it belongs
};

struct NoteBody {
  NoteBodyKind kind = NoteBodyKind::kNone;
  std::string text;  // valid UTF-8; kText only
};

// The note text inside an unpacked body message; std::nullopt when the
// message lacks the document or note, or is malformed on the way to them
// (a note without text gives an empty text).
std::optional<std::string_view> NoteTextOfMessage(std::string_view message);

// The body's text and what kind of bytes it held.
NoteBody ReadNoteBody(std::string_view data);

}  // namespace corvyn::decoders
