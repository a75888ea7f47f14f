// UTF-8 helpers shared by every module. Records hold UTF-8; where a length is
// counted "in characters" it is counted in UTF-16 code units, as the phone's
// own software does, through Utf16Length.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvyn {

// Number of UTF-16 code units the text would take. Invalid sequences count one
// unit per replaced sequence (as U+FFFD would).
std::size_t Utf16Length(std::string_view utf8);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The bytes as valid UTF-8: every maximal invalid subsequence becomes U+FFFD.
// *replaced (when given) tells whether anything was replaced.
std::string ToValidUtf8(std::string_view bytes, bool* replaced = nullptr);

// True when the text holds U+FFFD (EF BF BD).
bool ContainsReplacementCharacter(std::string_view utf8);

// The leading code units, up to maxUnits UTF-16 units, never splitting a
// character.
std::string_view Utf16Prefix(std::string_view utf8, std::size_t maxUnits);

}  // namespace corvyn
