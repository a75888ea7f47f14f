#include "export/HtmlText.h"

#include "core/Utf8.h"

namespace corvyn::exporting {

void AppendHtmlText(std::string_view value, std::string& out) {
  const std::string valid = ToValidUtf8(value);
  out.reserve(out.size() + valid.size());
  for (std::size_t i = 0; i < valid.size(); ++i) {
    const char c = valid[i];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\r':
        if (i + 1 < valid.size() && valid[i + 1] == '\n') ++i;
        out += "<br />";
        break;
      case '\n':
        out += "<br />";
        break;
      default:
        out += c;
    }
  }
}

std::string HtmlText(std::string_view value) {
  std::string out;
  AppendHtmlText(value, out);
  return out;
}

}  // namespace corvyn::exporting
