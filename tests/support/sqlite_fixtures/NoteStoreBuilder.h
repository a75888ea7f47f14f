// A small Notes store of iOS 9 and later (NoteStore.sqlite) for tests: the
// entity table, the shared object table (its columns in an order of its own,
// entity numbers unlike any real store's) and note bodies packed as the app
// packs them (gzip around a protocol buffer), with a password-protected note,
// a note in "Recently Deleted", one marked for deletion and one whose rows
// were deleted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvyn::testing {

// The note body message: field 2 (document) > field 3 (note) > field 2 (text),
// with the varint fields the app writes beside them.
std::string NoteBodyMessage(std::string_view text);
// The bytes gzip-packed (RFC 1952).
std::string GzipBytes(std::string_view bytes);

// What the built store holds, as a reader should report it.
struct ExpectedNote {
  std::string title;
  std::string folder;
  std::string content;
  int32_t deleted = 0;
  int32_t locked = 0;
  std::string date;     // modification date text
  std::string created;  // creation date text
};

// Builds the store at `path` (replacing it) and returns its notes in the
// order of their rows, deleted ones last.
std::vector<ExpectedNote> BuildNoteStore(const std::filesystem::path& path);

}  // namespace corvyn::testing
