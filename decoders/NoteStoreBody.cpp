#include "decoders/NoteStoreBody.h"

#include "core/Utf8.h"
#include "decoders/GzipReader.h"
#include "decoders/ProtobufWire.h"

namespace corvyn::decoders {

std::optional<std::string_view> NoteTextOfMessage(std::string_view message) {
  // Store message: 2 = document; document: 3 = note; note: 2 = text. A note
  // without field 2 is an empty note.
  const std::optional<std::string_view> note = protobuf::FindBytes(message, {2, 3});
  if (!note) return std::nullopt;
  return protobuf::FindBytes(*note, {2}).value_or(std::string_view());
}

NoteBody ReadNoteBody(std::string_view data) {
  NoteBody body;
  if (data.empty()) return body;
  if (!LooksGzipped(data)) {
    body.kind = NoteBodyKind::kEncrypted;
    return body;
  }
  std::string message;
  const std::optional<std::string_view> text =
      Gunzip(data, message) == kOk ? NoteTextOfMessage(message) : std::nullopt;
  if (!text) {
    body.kind = NoteBodyKind::kUnreadable;
    return body;
  }
  body.kind = NoteBodyKind::kText;
  body.text = ToValidUtf8(*text);
  return body;
}

}  // namespace corvyn::decoders
