#include "sqlite/CreateTableParser.h"

#include <cctype>
#include <optional>

namespace corvyn::sqlite {
namespace {

enum class TokenKind { kWord, kQuoted, kPunctuation };

struct Token {
  TokenKind kind;
  std::string text;  // a quoted name without its quotes, doubled quotes made single
};

bool IsWordByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return std::isalnum(byte) || c == '_' || c == '$' || byte >= 0x80;
}

bool EqualsWord(const Token& token, std::string_view word) {
  if (token.kind != TokenKind::kWord || token.text.size() != word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(token.text[i])) != word[i]) return false;
  }
  return true;
}

// The text's tokens; std::nullopt when a quote or a block comment is not
// closed.
std::optional<std::vector<Token>> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  std::size_t at = 0;
  while (at < sql.size()) {
    const char c = sql[at];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++at;
    } else if (sql.substr(at, 2) == "--") {
      const std::size_t end = sql.find('\n', at);
      at = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (sql.substr(at, 2) == "/*") {
      const std::size_t end = sql.find("*/", at + 2);
      if (end == std::string_view::npos) return std::nullopt;
      at = end + 2;
    } else if (c == '"' || c == '`' || c == '\'' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::string text;
      std::size_t position = at + 1;
      for (;;) {
        if (position >= sql.size()) return std::nullopt;
        if (sql[position] == close) {
          // Inside "", `` and '' a doubled quote stands for one; [] has no escape.
          if (close != ']' && position + 1 < sql.size() && sql[position + 1] == close) {
            text.push_back(close);
            position += 2;
            continue;
          }
          break;
        }
        text.push_back(sql[position++]);
      }
      tokens.push_back({TokenKind::kQuoted, std::move(text)});
      at = position + 1;
    } else if (IsWordByte(c)) {
      const std::size_t start = at;
      while (at < sql.size() && IsWordByte(sql[at])) ++at;
      tokens.push_back({TokenKind::kWord, std::string(sql.substr(start, at - start))});
    } else {
      tokens.push_back({TokenKind::kPunctuation, std::string(1, c)});
      ++at;
    }
  }
  return tokens;
}

bool IsPunctuation(const Token& token, char c) {
  return token.kind == TokenKind::kPunctuation && token.text.size() == 1 && token.text[0] == c;
}

bool IsTableConstraint(const Token& first) {
  for (const std::string_view word : {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"}) {
    if (EqualsWord(first, word)) return true;
  }
  return false;
}

}  // namespace

bool ParseCreateTableColumns(std::string_view sql, std::vector<std::string>& names) {
  names.clear();
  const std::optional<std::vector<Token>> parsed = Tokenize(sql);
  if (!parsed) return false;
  const std::vector<Token>& tokens = *parsed;
  std::size_t at = 0;
  const auto word = [&](std::string_view expected) {
    if (at < tokens.size() && EqualsWord(tokens[at], expected)) {
      ++at;
      return true;
    }
    return false;
  };
  if (!word("CREATE")) return false;
  if (!word("TEMP")) (void)word("TEMPORARY");
  if (!word("TABLE")) return false;  // also CREATE VIRTUAL TABLE: its columns are the module's
  if (word("IF")) {
    if (!word("NOT") || !word("EXISTS")) return false;
  }
  // [schema.]name
  if (at >= tokens.size() || tokens[at].kind == TokenKind::kPunctuation) return false;
  ++at;
  if (at + 1 < tokens.size() && IsPunctuation(tokens[at], '.')) at += 2;
  if (at >= tokens.size() || !IsPunctuation(tokens[at], '(')) return false;  // CREATE TABLE ... AS SELECT
  ++at;

  std::vector<std::string> found;
  int depth = 0;
  bool itemStart = true;
  for (; at < tokens.size(); ++at) {
    const Token& token = tokens[at];
    if (itemStart) {
      itemStart = false;
      if (token.kind == TokenKind::kPunctuation) return false;  // an empty item or a stray symbol
      if (!(token.kind == TokenKind::kWord && IsTableConstraint(token))) found.push_back(token.text);
      continue;
    }
    if (IsPunctuation(token, '(')) {
      ++depth;
    } else if (IsPunctuation(token, ')')) {
      if (depth == 0) {
        if (found.empty()) return false;
        names = std::move(found);
        return true;
      }
      --depth;
    } else if (depth == 0 && IsPunctuation(token, ',')) {
      itemStart = true;
    }
  }
  return false;  // the column list was not closed
}

}  // namespace corvyn::sqlite
