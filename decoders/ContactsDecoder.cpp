#include "core/Utf8.h"
#include "decoders/AddressBook.h"
#include "decoders/ContactNameIndex.h"
#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "decoders/TextRules.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {

namespace {

// Drops contacts without phones, names the nameless and sorts by name. The
// full-text layout's phone column holds every number in several forms and is
// cut to one number per line; the person layout's phones are already so.
void CleanUpContacts(std::vector<ContactRecord>& contacts, bool phonesFromFullText) {
  std::vector<ContactRecord> kept;
  kept.reserve(contacts.size());
  for (auto& contact : contacts) {
    if (contact.phones.empty()) continue;
    if (contact.name.empty()) contact.name = "No Name";
    if (phonesFromFullText) contact.phones = CleanUpPhoneText(contact.phones);
    kept.push_back(std::move(contact));
  }
  contacts = std::move(kept);
  if (contacts.size() > 1) {
    StableSortByText(contacts, [](const ContactRecord& c) -> const std::string& { return c.name; });
  }
}

}  // namespace

void CleanUpContacts(std::vector<ContactRecord>& contacts) {
  CleanUpContacts(contacts, true);
}

void NameCalls(std::vector<CallRecord>& calls, const std::vector<ContactRecord>& contacts) {
  ContactNameIndex names(contacts);
  for (auto& call : calls) {
    call.name.clear();
    if (Utf16Length(call.number) <= 4) continue;  // short codes are never named
    if (const std::string* name = names.FindName(call.number)) call.name = *name;
  }
}

Status DecodeContacts(std::vector<ContactRecord>& contacts, const std::filesystem::path& addressBookDb,
                      int64_t& highestRowId) {
  sqlite::SqliteDbReader reader;
  Status result = reader.Open(addressBookDb);
  uint64_t highestContactRowid = 0;
  bool phonesFromFullText = true;
  // Rows read before a failed page read are kept and the failure is reported.
  if (result == kOk) {
    phonesFromFullText = DetectAddressBookLayout(reader) != AddressBookLayout::kPerson;
    result = ReadAddressBook(reader, contacts, highestContactRowid, /*withLabels=*/true)
                 .WithContext("reading the address book");
  }
  CleanUpContacts(contacts, phonesFromFullText);
  highestRowId = static_cast<int64_t>(highestContactRowid);
  return result;
}

Status WriteContactsCsv(const std::filesystem::path& addressBookDb, const std::filesystem::path& csvPath,
                        int64_t startingRowId) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(addressBookDb); opened != kOk) return opened;
  return sqlite::WriteContactValueList(reader, csvPath,
                                       static_cast<uint64_t>(startingRowId < 0 ? 0 : startingRowId));
}

}  // namespace corvyn::decoders
