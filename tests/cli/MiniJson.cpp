#include "tests/cli/MiniJson.h"

#include <cctype>
#include <cstdlib>

namespace corvyn::testjson {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<Value> Document() {
    auto value = ParseValue(0);
    SkipBlanks();
    if (!value || position_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipBlanks() {
    while (position_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[position_])))
      ++position_;
  }
  bool Take(char c) {
    SkipBlanks();
    if (position_ < text_.size() && text_[position_] == c) {
      ++position_;
      return true;
    }
    return false;
  }
  bool TakeWord(std::string_view word) {
    if (text_.substr(position_, word.size()) != word) return false;
    position_ += word.size();
    return true;
  }

  std::optional<std::string> ParseString() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (position_ < text_.size()) {
      const char c = text_[position_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (position_ >= text_.size()) return std::nullopt;
      const char e = text_[position_++];
      switch (e) {
        case '"':
          out.push_back('"');
          break;
        case '\\':
          out.push_back('\\');
          break;
        case '/':
          out.push_back('/');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'u': {
          if (position_ + 4 > text_.size()) return std::nullopt;
          const unsigned long code =
              std::strtoul(std::string(text_.substr(position_, 4)).c_str(), nullptr, 16);
          position_ += 4;
          if (code >= 0x80) return std::nullopt;  // the writer only escapes control characters
          out.push_back(static_cast<char>(code));
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::optional<Value> ParseValue(int depth) {
    if (depth > 64) return std::nullopt;
    SkipBlanks();
    if (position_ >= text_.size()) return std::nullopt;
    const char c = text_[position_];
    if (c == '"') {
      auto s = ParseString();
      if (!s) return std::nullopt;
      return Value{std::move(*s)};
    }
    if (c == '{') {
      ++position_;
      auto object = std::make_shared<Object>();
      if (Take('}')) return Value{object};
      do {
        auto key = ParseString();
        if (!key || !Take(':')) return std::nullopt;
        auto value = ParseValue(depth + 1);
        if (!value) return std::nullopt;
        (*object)[*key] = std::move(*value);
      } while (Take(','));
      if (!Take('}')) return std::nullopt;
      return Value{object};
    }
    if (c == '[') {
      ++position_;
      auto array = std::make_shared<Array>();
      if (Take(']')) return Value{array};
      do {
        auto value = ParseValue(depth + 1);
        if (!value) return std::nullopt;
        array->push_back(std::move(*value));
      } while (Take(','));
      if (!Take(']')) return std::nullopt;
      return Value{array};
    }
    if (TakeWord("true")) return Value{true};
    if (TakeWord("false")) return Value{false};
    if (TakeWord("null")) return Value{nullptr};
    char* end = nullptr;
    const std::string copy(text_.substr(position_, 64));
    const double number = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str()) return std::nullopt;
    position_ += static_cast<std::size_t>(end - copy.c_str());
    return Value{number};
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

}  // namespace

std::optional<Value> Parse(std::string_view text) {
  return Parser(text).Document();
}

}  // namespace corvyn::testjson
