#include "decoders/TextRules.h"

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <cstdio>

#include "core/Utf8.h"
#include "platform/Ascii.h"

namespace corvyn::decoders {
namespace {

unsigned char FoldAscii(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

// UTF-16 code units of valid UTF-8 text.
std::u16string ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t position = 0;
  while (position < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[position]);
    std::size_t length = 1;
    uint32_t codePoint = lead;
    if (lead >= 0xF0) {
      length = 4;
      codePoint = lead & 0x07u;
    } else if (lead >= 0xE0) {
      length = 3;
      codePoint = lead & 0x0Fu;
    } else if (lead >= 0xC0) {
      length = 2;
      codePoint = lead & 0x1Fu;
    }
    if (position + length > utf8.size()) break;
    for (std::size_t i = 1; i < length; ++i) {
      codePoint = (codePoint << 6) | (static_cast<unsigned char>(utf8[position + i]) & 0x3Fu);
    }
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FFu)));
    } else {
      out.push_back(static_cast<char16_t>(codePoint));
    }
    position += length;
  }
  return out;
}

}  // namespace

int CompareIgnoringCase(std::string_view left, std::string_view right) {
  const std::size_t common = std::min(left.size(), right.size());
  // Equal bytes are equal ignoring case too: dates and numbers share long
  // prefixes, so the folding starts at the first difference.
  for (std::size_t i = platform::CommonPrefixLength(left, right); i < common; ++i) {
    const unsigned char a = FoldAscii(static_cast<unsigned char>(left[i]));
    const unsigned char b = FoldAscii(static_cast<unsigned char>(right[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  if (left.size() == right.size()) return 0;
  return left.size() < right.size() ? -1 : 1;
}

std::string CleanUpPhoneText(std::string_view phoneText) {
  const std::string valid = ToValidUtf8(phoneText);
  std::string result;
  std::u16string lastSuffix;
  std::size_t tokenStart = 0;
  // The run after the last space is a token like every other one.
  while (tokenStart <= valid.size()) {
    std::size_t tokenEnd = valid.find(' ', tokenStart);
    if (tokenEnd == std::string::npos) tokenEnd = valid.size();
    const std::string_view token(valid.data() + tokenStart, tokenEnd - tokenStart);
    tokenStart = tokenEnd + 1;
    const std::u16string units = ToUtf16(token);
    if (units.size() <= 6) continue;
    const std::size_t n = units.size();
    if (lastSuffix.size() >= 2 && units[n - 4] == lastSuffix[0] && units[n - 3] == lastSuffix[1]) continue;
    if (!result.empty()) result += '\n';
    result.append(token);
    lastSuffix = units.substr(n - 4);
  }
  return result;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  if (from.empty()) return std::string(text);
  out.reserve(text.size());
  std::size_t position = 0;
  while (true) {
    const std::size_t found = text.find(from, position);
    if (found == std::string_view::npos) break;
    out.append(text.substr(position, found - position));
    out.append(to);
    position = found + from.size();
  }
  out.append(text.substr(position));
  return out;
}

std::string HtmlToText(std::string_view html) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kRules = {{
      {"&#39;", "'"},
      {"&quot;", "\""},
      {"&lt;", "<"},
      {"&gt;", ">"},
      {"&nbsp;", " "},
      {"&amp;", "&"},
      {"<div>", "\n"},
      {"</div>", ""},
      {"<br>", "\n"},
  }};
  std::string text(html);
  for (const auto& [from, to] : kRules) {
    if (text.find(from) != std::string::npos) text = ReplaceAll(text, from, to);
  }
  return text;
}

std::string WeChatTableName(std::string_view userName) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  std::string name = "Chat_";
  if (EVP_Digest(userName.data(), userName.size(), digest, &digestLength, EVP_md5(), nullptr) != 1) {
    return name;  // cannot happen with a working libcrypto; no table has this name
  }
  static constexpr char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < digestLength; ++i) {
    name += kHex[digest[i] >> 4];
    name += kHex[digest[i] & 0x0F];
  }
  return name;
}

}  // namespace corvyn::decoders
