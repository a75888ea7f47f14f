#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "platform/PasswordLine.h"

namespace corvyn::platform {
namespace {

std::optional<std::string> FirstLine(const std::string& input) {
  std::FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  std::optional<std::string> line = ReadPasswordLine(in);
  std::fclose(in);
  return line;
}

TEST(PasswordLine, TakesOneLineWithoutItsEndAndRefusesAnOverlongOne) {
  struct Case {
    std::string input;
    std::optional<std::string> line;
  } cases[] = {
      {"secret\nnext\n", "secret"},
      {"with spaces \r\n", "with spaces "},
      {"no line end", "no line end"},
      {"", ""},
      {"\n", ""},
      {std::string(kMaxPasswordBytes, 'x') + "\n", std::string(kMaxPasswordBytes, 'x')},
      {std::string(kMaxPasswordBytes + 1, 'x'), std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(FirstLine(c.input), c.line) << c.input.substr(0, 20);
}

}  // namespace
}  // namespace corvyn::platform
