// Text rules shared by the application decoders: the case-insensitive order
// used by every sort, the address-book phone clean-up, the notes HTML-to-text
// rewrite and the WeChat table name. Pure functions over UTF-8 text.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace corvyn::decoders {

// Three-way comparison with ASCII letters folded to lower case; other bytes
// compare by value (UTF-8 byte order is code point order).
int CompareIgnoringCase(std::string_view left, std::string_view right);

// Stable sort by the text that `key` returns, ascending, ignoring case; items
// with equal texts keep their order. Records are large: their positions are
// sorted, then each record moves once.
template <typename Item, typename KeyFunction>
void StableSortByText(std::vector<Item>& items, KeyFunction key) {
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&items, &key](std::size_t left, std::size_t right) {
    return CompareIgnoringCase(key(items[left]), key(items[right])) < 0;
  });
  std::vector<Item> sorted;
  sorted.reserve(items.size());
  for (const std::size_t position : order) sorted.push_back(std::move(items[position]));
  items = std::move(sorted);
}

// Turns the address book's full-text phone column (every number in several
// forms, separated by spaces) into one number per line. Tokens are the runs
// between spaces, the run after the last space included; tokens of 6 UTF-16
// units or fewer are skipped; a token whose fourth-last and third-last
// characters equal the first two characters of the last kept token's final
// four is taken as another form of that number and skipped.
std::string CleanUpPhoneText(std::string_view phoneText);

// Notes HTML to text, in this order, each rule replacing every occurrence
// without rescanning what it inserted: &#39; &quot; &lt; &gt; &nbsp; &amp;
// become ' " < > space &; "<div>" becomes a line break, "</div>" is removed,
// "<br>" becomes a line break. Nothing else is touched.
std::string HtmlToText(std::string_view html);

// Replaces every occurrence of `from` (not empty) by `to`, scanning on after
// each inserted replacement.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// "Chat_" followed by the lower-case hex MD5 digest of the user name's bytes.
std::string WeChatTableName(std::string_view userName);

}  // namespace corvyn::decoders
