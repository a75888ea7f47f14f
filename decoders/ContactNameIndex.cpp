#include "decoders/ContactNameIndex.h"

#include "decoders/AddressBook.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::decoders {
namespace {

uint32_t GramAt(std::string_view text, std::size_t position) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(text[position])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(text[position + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(text[position + 2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(text[position + 3]));
}

}  // namespace

ContactNameIndex::ContactNameIndex(const std::vector<ContactRecord>& contacts) : contacts_(contacts) {}

void ContactNameIndex::BuildGrams() {
  gramsBuilt_ = true;
  for (std::size_t index = 0; index < contacts_.size(); ++index) {
    const std::string& phones = contacts_[index].phones;
    for (std::size_t position = 0; position + kGramLength <= phones.size(); ++position) {
      std::vector<uint32_t>& list = contactsByGram_[GramAt(phones, position)];
      if (list.empty() || list.back() != index) list.push_back(static_cast<uint32_t>(index));
    }
  }
}

int64_t ContactNameIndex::LinearSearch(std::string_view address,
                                       const std::vector<uint32_t>* candidates) const {
  if (candidates == nullptr) {
    for (std::size_t index = 0; index < contacts_.size(); ++index) {
      if (contacts_[index].phones.find(address) != std::string::npos) return static_cast<int64_t>(index);
    }
    return -1;
  }
  // Candidates are ascending, so the first hit is the first contact in order.
  for (const uint32_t index : *candidates) {
    if (contacts_[index].phones.find(address) != std::string::npos) return index;
  }
  return -1;
}

int64_t ContactNameIndex::FindContact(std::string_view address) {
  if (address.empty()) return -1;
  const std::string key(address);
  if (const auto cached = cache_.find(key); cached != cache_.end()) return cached->second;

  int64_t found = -1;
  if (address.size() < kGramLength) {
    found = LinearSearch(address, nullptr);
  } else {
    if (!gramsBuilt_) BuildGrams();
    // Every contact that contains the address holds all of its grams, so the
    // shortest of their lists holds every candidate.
    const std::vector<uint32_t>* shortest = nullptr;
    for (std::size_t position = 0; position + kGramLength <= address.size(); ++position) {
      const auto list = contactsByGram_.find(GramAt(address, position));
      if (list == contactsByGram_.end()) {
        shortest = nullptr;
        break;
      }
      if (shortest == nullptr || list->second.size() < shortest->size()) shortest = &list->second;
    }
    if (shortest != nullptr) found = LinearSearch(address, shortest);
  }
  cache_.emplace(key, found);
  return found;
}

const std::string* ContactNameIndex::FindName(std::string_view address) {
  const int64_t index = FindContact(address);
  return index < 0 ? nullptr : &contacts_[static_cast<std::size_t>(index)].name;
}

std::string PhoneWithDialableForms(const std::string& typed) {
  std::string digits;
  for (const char c : typed) {
    if (c >= '0' && c <= '9') digits += c;
  }
  std::string line = typed;
  if (digits.empty()) return line;
  if (digits != typed) line += ' ' + digits;
  if ("+" + digits != typed) line += " +" + digits;
  return line;
}

Status ReadContactsForNames(const std::filesystem::path& addressBookDb,
                            std::vector<ContactRecord>& contacts) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(addressBookDb); opened != kOk) return opened;
  uint64_t highestRowid = 0;
  const Status read = ReadAddressBook(reader, contacts, highestRowid);
  if (DetectAddressBookLayout(reader) != AddressBookLayout::kPerson) return read;
  for (ContactRecord& contact : contacts) {
    std::string phones;
    std::size_t start = 0;
    while (start <= contact.phones.size()) {
      std::size_t end = contact.phones.find('\n', start);
      if (end == std::string::npos) end = contact.phones.size();
      if (end > start) {
        if (!phones.empty()) phones += '\n';
        phones += PhoneWithDialableForms(contact.phones.substr(start, end - start));
      }
      start = end + 1;
    }
    contact.phones = std::move(phones);
  }
  return read;
}

}  // namespace corvyn::decoders
