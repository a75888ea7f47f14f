// Text forms shared by the views, the reports and the decoders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvyn {

// Seconds between 1970-01-01 and 2001-01-01 (Core Data / Cocoa reference date).
inline constexpr int64_t kCocoaEpochOffset = 978307200;

// "%04d-%02d-%02d %02d:%02d:%02d" of the local-time breakdown of a time in
// seconds since 1970. Text order is time order. Empty when the time cannot be
// broken down.
std::string DateText(int64_t unixSeconds);

// DateText of a time counted in seconds since 2001-01-01 (Core Data dates).
std::string DateTextFromCocoa(int64_t cocoaSeconds);

// "%d Hour %d Min" from 3600 on, "%d Min %d Sec" from 60 on, else "%d Sec".
std::string DurationText(int64_t seconds);

// "1.50 KB", "2.00 MB", "512 Bytes", ... (1024-based, two decimals).
std::string SizeText(int64_t bytes);

// True when a spreadsheet opening a CSV file could run the text as a formula:
// it starts with '=', '+', '-', '@', a tab or a carriage return. A plain
// number such as a phone number ("+49 151 1234-5678", "-12.5") is no
// formula and keeps its form.
bool CouldRunAsFormula(std::string_view text);

// What a message shows as its text: its own text, or, when that is empty or
// holds nothing but the object replacement characters (U+FFFC) that stand
// for its attachments, "[Attachment: NAME]" of its attachment. Empty when it
// has neither.
std::string MessageBodyText(std::string_view text, std::string_view attachment);
// True when MessageBodyText shows the attachment's name.
bool ShowsAttachmentInsteadOfText(std::string_view text, std::string_view attachment);

}  // namespace corvyn
