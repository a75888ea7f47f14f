// Reads the contacts of an address book in either of its layouts: the older
// one, whose full-text table holds each person's names and numbers in one
// row, and the newer one, where ABPerson holds the names and ABMultiValue the
// phone numbers, e-mail addresses and web addresses (one row per value,
// labelled through ABMultiValueLabel).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::decoders {

enum class AddressBookLayout {
  kUnknown,   // neither table: not an address book this program reads
  kFullText,  // ABPersonFullTextSearch_content with the phone in c15Phone, or the first systems' ABPerson
  kPerson,    // ABPerson + ABMultiValue
};

AddressBookLayout DetectAddressBookLayout(const sqlite::SqliteDbReader& reader);

// ABPerson + ABMultiValue into contacts: one per person (live or deleted),
// with its live values; the deleted values of a person form one more,
// deleted, contact under the person's name. Phones one per line as typed,
// e-mail addresses and web addresses one per line. Values whose person is
// gone become a deleted contact without a name. highestRowid gets the
// largest person rowid. withLabels: each labelled value is followed by its
// label, "(919) 888-7386 (Mobile)" (for showing; the name index matches
// bare numbers).
Status ScanPersonContacts(sqlite::SqliteDbReader& reader, std::vector<ContactRecord>& out,
                          uint64_t& highestRowid, bool withLabels = false);

// The contacts of either layout (unsorted, not cleaned up); kInvalidData in
// words when the database holds neither layout's tables.
Status ReadAddressBook(sqlite::SqliteDbReader& reader, std::vector<ContactRecord>& out,
                       uint64_t& highestRowid, bool withLabels = false);

// Label text for display: "_$!<Mobile>!$_" gives "Mobile", a custom label
// stays as typed.
std::string DisplayLabel(std::string_view stored);

}  // namespace corvyn::decoders
