// The JSON form of a finished scan that `corvyn-cli scan --json` prints:
//
//   {"status": N, "categories": {"Camera Roll": [...], ..., "WhatsApp Attachments": [...]}}
//
// Every category of the tree is present, in code order, each an array in the
// order the list shows it. Records are objects with the field names of the
// record types. "Messages" and "WhatsApp" are arrays of
// {"handleId"|"sessionId": N, "messages": [...]} in map order; "App Photos"
// and "App Videos" arrays of {"appName": S, "files": [...]}. Text that is not
// valid UTF-8 is written with U+FFFD in place of the broken bytes.
#pragma once

#include <string>
#include <string_view>

#include "core/ScanResults.h"
#include "core/Status.h"

namespace corvyn::cli {

// A JSON string literal (quotes included) of the text.
std::string JsonString(std::string_view text);

std::string ScanJson(Status status, const ScanResults& results);

}  // namespace corvyn::cli
