// Text forms of exported values: HTML-escaped record text, CSV fields,
// path components made from record names, unique destination paths and the
// export time stamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/Records.h"

namespace corvyn::exporting {

// Longest path component made from a record name, in bytes, before the
// "-" + stamp, "(n)" and extension that the export adds to it.
inline constexpr std::size_t kMaxNameBytes = 120;

// The text with & < > " ' as character references, so that a record text is
// never markup or script in a page. With `lineBreaks`, every line break ("\n",
// "\r\n" or a lone "\r") becomes "<br />". Invalid UTF-8 becomes U+FFFD.
std::string HtmlEscape(std::string_view text, bool lineBreaks = false);

// One CSV field (RFC 4180): quoted, with inner quotes doubled, when it holds a
// comma, a quote, CR or LF. A field beginning with '=', '+', '-', '@', a tab or
// CR gets a leading "'" so that a spreadsheet reads it as text, not as a
// formula.
std::string CsvField(std::string_view text);

// One safe path component made from a record name: valid UTF-8; separators
// ('/', '\\') and control characters replaced by '_'; trailing dots and spaces
// removed; leading dots replaced by '_' (no hidden files); at most kMaxNameBytes bytes, never splitting a
// character; never
// "", "." or "..": such names give `fallback` (itself expected to be safe).
std::string SafeComponent(std::string_view name, std::string_view fallback = "Unknown");

// `path` when nothing exists there, else folder / base + "(" + n + ")" +
// extension for the first n from 1 on that names nothing.
std::filesystem::path UniquePath(const std::filesystem::path& path);

// "%04d%02d%02d%02d%02d%02d" of the local time; "00000000000000" when the
// time cannot be broken down.
std::string ExportTimeStamp(int64_t unixSeconds);

// Lines joined with CR LF: every "\n" (or "\r\n", or lone "\r") becomes "\r\n".
std::string WithCrLf(std::string_view text);

// "Unsent" or "Edited" for a message changed after it was sent (the
// transcripts add a "Note" line, the pages "(Edited)" after the text, the
// printout a "Note:" line); empty otherwise.
std::string_view MessageMark(const MessageRecord& message);

inline constexpr std::string_view kLockedNoteText = "Locked: the note is protected by a password.";
// The note's text, or kLockedNoteText for a password-protected note.
std::string NoteContentText(const NoteRecord& note);

}  // namespace corvyn::exporting
