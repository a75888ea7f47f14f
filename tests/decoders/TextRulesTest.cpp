// The text rules of the decoders: phone clean-up, HTML to text, the WeChat
// table name, the case-insensitive order and progress reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoders/Decoders.h"
#include "decoders/TextRules.h"

namespace corvyn::decoders {
namespace {

struct PhoneCase {
  const char* name;
  std::string phoneText;
  std::string expected;
};

TEST(CleanUpPhoneText, KeepsOneFormOfEachNumber) {
  const std::vector<PhoneCase> cases = {
      {"three forms of one number", "+4915112345678 015112345678 15112345678 ", "+4915112345678"},
      {"two different numbers", "5551234 5559876 ", "5551234\n5559876"},
      {"short number only", "123456 ", ""},
      {"seven characters is long enough", "1234567 ", "1234567"},
      // The text after the last space is a token like the others.
      {"no trailing space", "5551234 5559876", "5551234\n5559876"},
      {"single number without any space", "+4915112345678", "+4915112345678"},
      {"forms without trailing space", "+4915112345678 015112345678 15112345678", "+4915112345678"},
      {"empty", "", ""},
      {"only spaces", "   ", ""},
      // Only the 4th- and 3rd-last characters are compared with the suffix.
      {"same tail digits differ earlier", "1111234 2221234 ", "1111234"},
      {"third-last differs", "1111234 1111334 ", "1111234\n1111334"},
      // A form of an earlier number (not the last taken) is taken again.
      {"alternating numbers", "5551234 5559876 0015551234 ", "5551234\n5559876\n0015551234"},
      // Lengths count UTF-16 units: six two-byte characters are still short.
      {"six non-ASCII characters", "\xd9\xa1\xd9\xa2\xd9\xa3\xd9\xa4\xd9\xa5\xd9\xa6 ", ""},
      {"seven non-ASCII characters", "\xd9\xa1\xd9\xa2\xd9\xa3\xd9\xa4\xd9\xa5\xd9\xa6\xd9\xa7 ",
       "\xd9\xa1\xd9\xa2\xd9\xa3\xd9\xa4\xd9\xa5\xd9\xa6\xd9\xa7"},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(CleanUpPhoneText(test.phoneText), test.expected) << test.name;
  }
}

TEST(HtmlToText, RewritesEntitiesThenTags) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"<div>Shopping</div><div>milk &amp; eggs</div>", "\nShopping\nmilk & eggs"},
      {"it&#39;s &quot;fine&quot;&nbsp;now", "it's \"fine\" now"},
      {"a<br>b<br>", "a\nb\n"},
      // Typed tag text is unescaped first, then rewritten like a real tag.
      {"&lt;div&gt;typed", "\ntyped"},
      // &amp; runs after &lt;, so an escaped entity stays an entity.
      {"&amp;lt;", "&lt;"},
      {"<DIV>caps</DIV><div class=\"x\">attr</div>", "<DIV>caps</DIV><div class=\"x\">attr"},
      {"&amp;amp;", "&amp;"},
      {"</div>", ""},
      {"plain", "plain"},
      {"", ""},
  };
  for (const auto& [html, text] : cases) EXPECT_EQ(HtmlToText(html), text) << html;
}

TEST(ReplaceAll, DoesNotRescanInsertedText) {
  EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(ReplaceAll("abab", "ab", "b"), "bb");
  EXPECT_EQ(ReplaceAll("xyz", "", "q"), "xyz");
}

TEST(WeChatTableName, IsChatAndTheMd5OfTheUserNameBytes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "Chat_d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "Chat_900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "Chat_f96b697d7cb7938d525a2f31aaf161d0"},
      {"wxid_abc123", "Chat_a277cc387ab96beb1cbe52168eadbb43"},
      {"\xc3\xa9", "Chat_66ddcd97cfdeabb2f6fb8a999b4bc76f"},  // UTF-8 bytes of e-acute
  };
  for (const auto& [user, table] : cases) {
    EXPECT_EQ(WeChatTableName(user), table) << user;
  }
}

TEST(CompareIgnoringCase, FoldsAsciiLettersOnly) {
  EXPECT_LT(CompareIgnoringCase("apple", "Banana"), 0);
  EXPECT_GT(CompareIgnoringCase("banana", "Apple"), 0);
  EXPECT_EQ(CompareIgnoringCase("ABC", "abc"), 0);
  EXPECT_LT(CompareIgnoringCase("ab", "abc"), 0);
  // Lower-case folding puts '_' before letters.
  EXPECT_LT(CompareIgnoringCase("_x", "Ax"), 0);
  EXPECT_LT(CompareIgnoringCase("2015-01-01 00:00:00", "2015-01-01 00:00:01"), 0);
}

TEST(StableSortByText, KeepsOrderOfEqualKeys) {
  std::vector<std::pair<std::string, int>> items = {{"b", 1}, {"A", 2}, {"a", 3}, {"B", 4}, {"a", 5}};
  StableSortByText(items, [](const auto& item) -> const std::string& { return item.first; });
  std::vector<int> order;
  for (const auto& item : items) order.push_back(item.second);
  EXPECT_EQ(order, (std::vector<int>{2, 3, 5, 1, 4}));
}

struct ReportLog {
  std::vector<int> values;
  int answer = 0;
};

int Record(void* user, int value) {
  auto* log = static_cast<ReportLog*>(user);
  log->values.push_back(value);
  return log->answer;
}

TEST(DecoderProgress, ReportsBasePlusShareOfSpan) {
  ReportLog log;
  DecoderProgress progress{Record, &log, 40, 20};
  EXPECT_EQ(progress.ReportAt(1, 5), kOk);
  EXPECT_EQ(progress.ReportAt(1, 4), kOk);
  EXPECT_EQ(progress.ReportAt(1, 1), kOk);
  EXPECT_EQ(progress.ReportAt(1, 0), kOk);  // a zero denominator: the stage is complete
  EXPECT_EQ(progress.ReportAt(-1, 0), kOk);
  EXPECT_EQ(log.values, (std::vector<int>{44, 45, 60, 60, 60}));
  log.answer = kStopAnswer;
  EXPECT_EQ(progress.ReportAt(1, 2), kStopped);
  EXPECT_EQ(progress.Advance(5), kStopped);
  EXPECT_EQ(progress.base, 45);

  const DecoderProgress absent{nullptr, nullptr, 10, 10};
  EXPECT_EQ(absent.ReportAt(1, 1), kOk);
}

}  // namespace
}  // namespace corvyn::decoders
