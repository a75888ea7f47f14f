// The JSON form of a finished scan that `corvyn-cli scan --json` prints:
//
//   {"status": N, "message": S, "errors": {"Messages": S, ...},
//    "categories": {"Camera Roll": [...], ..., "WhatsApp Attachments": [...]}}
//
// "status" is the scan's product status code (a system error counts as 87,
// data that could not be read) and "message" its words; "errors" names each
// category whose reading failed, with the reason in words (empty when none
// failed).
// Every category of the tree is present, in code order, each an array in the
// order the list shows it. Records are objects with the field names of the
// record types. "Messages" and "WhatsApp" are arrays of
// {"handleId"|"sessionId": N, "messages": [...]} in map order; "App Photos"
// and "App Videos" arrays of {"appName": S, "files": [...]}. Text that is not
// valid UTF-8 is written with U+FFFD in place of the broken bytes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/ScanResults.h"
#include "platform/Status.h"

namespace corvyn::cli {

// A JSON string literal (quotes included) of the text; malformed UTF-8 is
// replaced by U+FFFD.
std::string JsonString(std::string_view text);
// The same literal appended to `out`.
void AppendJsonString(std::string& out, std::string_view text);

// One category that could not be read, and why.
struct CategoryError {
  std::string label;
  std::string message;
};

std::string ScanJson(const Status& status, const std::vector<CategoryError>& errors,
                     const ScanResults& results);

// The same text written to `file` as it is made, a megabyte at a time (a
// heavy user's scan never lies whole in memory). False when writing failed.
bool WriteScanJson(std::FILE* file, const Status& status, const std::vector<CategoryError>& errors,
                   const ScanResults& results);

}  // namespace corvyn::cli
