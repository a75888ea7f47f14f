#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "export/ExportText.h"
#include "tests/export/ExportTestSupport.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::exporting {
namespace {
namespace fs = std::filesystem;

TEST(ExportTextTest, HtmlEscapeLeavesNoMarkup) {
  struct Row {
    std::string text;
    bool lineBreaks;
    std::string expected;
  };
  const Row rows[] = {
      {"<script>alert(1)</script>", false, "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"<img src=x onerror=alert(2)>", false, "&lt;img src=x onerror=alert(2)&gt;"},
      {"a & \"b\" 'c'", false, "a &amp; &quot;b&quot; &#39;c&#39;"},
      {"&lt;", false, "&amp;lt;"},
      {"one\ntwo\r\nthree\rfour", true, "one<br />two<br />three<br />four"},
      {"one\ntwo", false, "one\ntwo"},
      {"bad \xFF byte", false, "bad \xEF\xBF\xBD byte"},
  };
  for (const Row& row : rows) EXPECT_EQ(HtmlEscape(row.text, row.lineBreaks), row.expected) << row.text;
}

TEST(ExportTextTest, CsvFieldsAreQuotedAndNeverFormulas) {
  const std::pair<std::string, std::string> rows[] = {
      {"plain", "plain"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"line\nbreak", "\"line\nbreak\""},
      {"cr\rhere", "\"cr\rhere\""},
      {"=1+1", "'=1+1"},
      {"+49 30", "+49 30"},  // a phone number is no formula
      {"-2", "-2"},
      {"+cmd|' /C calc'!A0", "'+cmd|' /C calc'!A0"},
      {"-2+3+cmd", "'-2+3+cmd"},
      {"@SUM(1)", "'@SUM(1)"},
      {"=HYPERLINK(\"x\",\"y\")", "\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\""},
      {"a=1", "a=1"},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_EQ(CsvField(text), expected) << text;
    bool ok = false;
    const auto parsed = testing::ParseCsv(CsvField(text) + ",end\r\n", &ok);
    ASSERT_TRUE(ok) << text;
    ASSERT_EQ(parsed.size(), 1u) << text;
    ASSERT_EQ(parsed[0].size(), 2u) << text;
  }
}

TEST(ExportTextTest, HostileNamesBecomeOneSafeComponent) {
  const std::string longName(300, 'x');
  const std::string longUtf8 = std::string(119, 'a') + "\xC3\xA9\xC3\xA9";  // a 2-byte character at the bound
  const std::pair<std::string, std::string> rows[] = {
      {"../../x", "___.._x"},
      {".hidden", "_hidden"},
      {"a/b", "a_b"},
      {"a\\b", "a_b"},
      {"..", "Unknown"},
      {".", "Unknown"},
      {"", "Unknown"},
      {"name. ", "name"},
      {"name .. . ", "name"},
      {"tab\there\x01\x1f\x7f", "tab_here___"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"bad\xFF", "bad\xEF\xBF\xBD"},
      {longName, std::string(kMaxNameBytes, 'x')},
      {longUtf8, std::string(119, 'a')},
  };
  for (const auto& [name, expected] : rows) {
    const std::string safe = SafeComponent(name);
    EXPECT_EQ(safe, expected) << name;
    EXPECT_EQ(fs::path(safe).filename().string(), safe) << name;
    EXPECT_LE(safe.size(), kMaxNameBytes);
  }
  EXPECT_EQ(SafeComponent("..", "file"), "file");
}

TEST(ExportTextTest, UniquePathCountsBeforeTheExtension) {
  const corvyn::testing::TempFolder temp("unique");
  const fs::path wanted = temp.Path() / "IMG_0001.JPG";
  EXPECT_EQ(UniquePath(wanted), wanted);
  std::ofstream(wanted) << "x";
  EXPECT_EQ(UniquePath(wanted), temp.Path() / "IMG_0001(1).JPG");
  std::ofstream(temp.Path() / "IMG_0001(1).JPG") << "x";
  EXPECT_EQ(UniquePath(wanted), temp.Path() / "IMG_0001(2).JPG");
  fs::create_directory(temp.Path() / "noext");
  EXPECT_EQ(UniquePath(temp.Path() / "noext"), temp.Path() / "noext(1)");
}

TEST(ExportTextTest, StampIsFourteenDigitsAndLinesEndInCrLf) {
  const std::string stamp = ExportTimeStamp(1400000000);
  ASSERT_EQ(stamp.size(), 14u);
  EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(stamp.substr(0, 6), "201405");
  EXPECT_EQ(WithCrLf("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd");
}

}  // namespace
}  // namespace corvyn::exporting
