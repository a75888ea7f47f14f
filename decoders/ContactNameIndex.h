// Puts names to addresses: the first contact, in address-book scan order,
// whose phone text contains the address (exact, case-sensitive substring)
// gives its name. The answer is the one a linear search over the contacts
// gives, found through an index of the 4-byte substrings of every phone text
// and cached per distinct address, so naming N messages costs about one
// lookup per distinct address rather than N times the contact count.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"

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

// The contacts that lend names to messages and calls, read from an address
// book of either layout. Phones of the person layout, stored as typed, also
// get their digits alone and with a leading '+' on their line (space
// separated), so addresses stored in dialable form find them. Contacts read
// before a failure are kept.
Status ReadContactsForNames(const std::filesystem::path& addressBookDb, std::vector<ContactRecord>& contacts);

// "(919) 888-7386" gives "(919) 888-7386 9198887386 +9198887386"; a number
// already in one of those forms is not repeated.
std::string PhoneWithDialableForms(const std::string& typed);

}  // namespace corvyn::decoders
