// The report templates beside the program keep the markers the writers fill
// and the policy that forbids scripts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadTemplate(const std::string& name) {
  std::ifstream file(std::filesystem::path(CORVYN_BIN_DIR) / "template" / name, std::ios::binary);
  EXPECT_TRUE(file) << name;
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(ReportTemplatesTest, MarkersAndPolicy) {
  struct Row {
    std::string name;
    bool person;  // conversation pages name the other side
    bool print;
  };
  const std::vector<Row> rows = {
      {"CallHistory.html", false, false}, {"Notes.html", false, false},   {"contacts.html", false, false},
      {"Sms.html", true, false},          {"WhatsApp.html", true, false}, {"Print.html", false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string text = ReadTemplate(row.name);
    ASSERT_EQ(Count(text, "{|content|}"), 1u);
    const std::string head = text.substr(0, text.find("{|content|}"));
    const std::string tail = text.substr(text.find("{|content|}") + 11);
    EXPECT_EQ(Count(tail, "{|"), 0u);
    EXPECT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u);  // standards mode: nothing before the doctype
    EXPECT_NE(head.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(head.find("http-equiv=\"Content-Security-Policy\""), std::string::npos);
    EXPECT_EQ(text.find("http://"), std::string::npos);
    EXPECT_EQ(text.find("https://"), std::string::npos);
    if (row.print) {
      EXPECT_EQ(Count(text, "{|"), 1u);
      EXPECT_EQ(Count(text, "<script"), 1u);
      EXPECT_NE(head.find("function Init()"), std::string::npos);
      EXPECT_NE(head.find("window.print()"), std::string::npos);
      EXPECT_NE(head.find("script-src 'sha256-"), std::string::npos);
    } else {
      EXPECT_NE(head.find("<title>{|title|}"), std::string::npos);
      EXPECT_NE(head.find("<h1>{|title|}</h1>"), std::string::npos);
      EXPECT_EQ(Count(head, "{|person|}") > 0, row.person);
      EXPECT_EQ(Count(text, "<script"), 0u);
      EXPECT_NE(head.find("script-src 'none'"), std::string::npos);
    }
  }
}

}  // namespace
