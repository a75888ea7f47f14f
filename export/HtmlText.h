// Record values as HTML text, for every page the export and print write.
#pragma once

#include <string>
#include <string_view>

namespace corvyn::exporting {

// The value as page text: invalid UTF-8 replaced by U+FFFD, & < > " '
// written as character references, and each line break (CR LF, LF or CR)
// written as "<br />". Safe inside element content and quoted attributes.
std::string HtmlText(std::string_view value);

// Appends HtmlText(value) to `out`.
void AppendHtmlText(std::string_view value, std::string& out);

}  // namespace corvyn::exporting
