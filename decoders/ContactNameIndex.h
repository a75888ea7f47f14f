// Puts names to addresses: the first contact, in address-book scan order,
// whose phone text contains the address (exact, case-sensitive substring)
// gives its name. The answer is the one a linear search over the contacts
// gives, found through an index of the 4-byte substrings of every phone text
// and cached per distinct address, so naming N messages costs about one
// lookup per distinct address rather than N times the contact count.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Records.h"

namespace corvyn::decoders {

class ContactNameIndex {
 public:
  // Keeps a reference: the contacts must outlive the index and stay unchanged.
  explicit ContactNameIndex(const std::vector<ContactRecord>& contacts);

  // Index of the first contact whose phones contain `address`; -1 when none
  // does or the address is empty.
  int64_t FindContact(std::string_view address);

  // Name of that contact, or nullptr.
  const std::string* FindName(std::string_view address);

 private:
  static constexpr std::size_t kGramLength = 4;

  void BuildGrams();
  int64_t LinearSearch(std::string_view address, const std::vector<uint32_t>* candidates) const;

  const std::vector<ContactRecord>& contacts_;
  bool gramsBuilt_ = false;
  std::unordered_map<uint32_t, std::vector<uint32_t>> contactsByGram_;  // ascending, unique
  std::unordered_map<std::string, int64_t> cache_;
};

}  // namespace corvyn::decoders
