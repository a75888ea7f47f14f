// Texts (CFStringRef): UTF-8 held by the library, handed out as UTF-8 or
// UTF-16.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "tools/mobiledevice/Internal.h"

namespace corvyn::mobiledevice {
namespace {

// Decodes the UTF-8 sequence at `text[at]`; false for a malformed, overlong
// or surrogate sequence.
bool NextCodePoint(std::string_view text, std::size_t& at, char32_t& codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    codePoint = lead;
    at += 1;
    return true;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2, codePoint = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, codePoint = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, codePoint = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (at + length > text.size()) return false;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return false;
    codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return false;
  at += length;
  return true;
}

bool ValidUtf8(std::string_view text) {
  char32_t ignored = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (!NextCodePoint(text, at, ignored)) return false;
  }
  return true;
}

// UTF-16 of a text already checked to be valid UTF-8.
std::u16string Utf16(std::string_view text) {
  std::u16string out;
  char32_t codePoint = 0;
  for (std::size_t at = 0; at < text.size() && NextCodePoint(text, at, codePoint);) {
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(codePoint));
    }
  }
  return out;
}

const Text* AsText(const void* handle) {
  const auto* text = static_cast<const Text*>(handle);
  return text && text->magic == Text::kMagic ? text : nullptr;
}

}  // namespace

CFStringRef NewText(std::string utf8) {
  if (!ValidUtf8(utf8)) return nullptr;
  auto* text = new Text;
  text->utf8 = std::move(utf8);
  return reinterpret_cast<CFStringRef>(text);
}

std::string TextOf(CFStringRef handle) {
  const Text* text = AsText(handle);
  return text ? text->utf8 : std::string();
}

}  // namespace corvyn::mobiledevice

using corvyn::mobiledevice::Text;

CORVYN_EXPORT CFStringRef CFStringCreateWithCString(const void* /*allocator*/, const char* text,
                                                    uint32_t encoding) {
  constexpr uint32_t kAscii = 0x0600;
  if (!text || (encoding != kCFStringEncodingUTF8 && encoding != kAscii)) return nullptr;
  return corvyn::mobiledevice::NewText(text);
}

CORVYN_EXPORT CFStringRef __CFStringMakeConstantString(const char* text) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<Text>, std::less<>> constants;
  if (!text || !corvyn::mobiledevice::ValidUtf8(text)) return nullptr;
  std::lock_guard lock(mutex);
  auto found = constants.find(std::string_view(text));
  if (found == constants.end()) {
    auto made = std::make_unique<Text>();
    made->constant = true;
    made->utf8 = text;
    found = constants.emplace(made->utf8, std::move(made)).first;
  }
  return reinterpret_cast<CFStringRef>(found->second.get());
}

CORVYN_EXPORT uint8_t CFStringGetCString(CFStringRef handle, char* buffer, int64_t size, uint32_t encoding) {
  const Text* text = corvyn::mobiledevice::AsText(handle);
  if (!text || !buffer || size <= 0) return 0;
  if (encoding == kCFStringEncodingUTF8) {
    if (static_cast<uint64_t>(size) < text->utf8.size() + 1) return 0;
    std::memcpy(buffer, text->utf8.c_str(), text->utf8.size() + 1);
    return 1;
  }
  if (encoding == kCFStringEncodingUnicode) {
    const std::u16string wide = corvyn::mobiledevice::Utf16(text->utf8);
    const uint64_t bytes = (wide.size() + 1) * sizeof(char16_t);
    if (static_cast<uint64_t>(size) < bytes) return 0;
    std::memcpy(buffer, wide.c_str(), bytes);
    return 1;
  }
  return 0;
}

CORVYN_EXPORT int64_t CFStringGetLength(CFStringRef handle) {
  const Text* text = corvyn::mobiledevice::AsText(handle);
  return text ? static_cast<int64_t>(corvyn::mobiledevice::Utf16(text->utf8).size()) : 0;
}

CORVYN_EXPORT void CFRelease(const void* object) {
  const Text* text = corvyn::mobiledevice::AsText(object);
  if (text && !text->constant) delete text;
}
