#include "decoders/AddressBook.h"

#include <algorithm>
#include <map>

#include "decoders/NamedColumnScan.h"
#include "platform/Ascii.h"
#include "sqlite/RecordDecodersCommon.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {
namespace {

using sqlite::Storage;

constexpr int64_t kPhoneProperty = 3;
constexpr int64_t kEmailProperty = 4;
constexpr int64_t kUrlProperty = 22;

bool Declares(const std::vector<std::string>& columns, std::string_view name) {
  return std::any_of(columns.begin(), columns.end(),
                     [&](const std::string& column) { return platform::EqualsIgnoringCase(column, name); });
}

void AppendLine(std::string& text, const std::string& value) {
  if (value.empty()) return;
  if (!text.empty()) text += '\n';
  text += value;
}

struct Person {
  int32_t deleted = 0;
  std::string name;
  std::string company;
};

struct Value {
  int32_t deleted = 0;
  int64_t person = 0;
  int64_t property = 0;
  std::string text;
};

// Each person's values, live and deleted apart.
struct Values {
  ContactRecord live;
  ContactRecord deleted;
};

void AddValue(ContactRecord& contact, const Value& value) {
  if (value.property == kPhoneProperty) AppendLine(contact.phones, value.text);
  if (value.property == kEmailProperty) AppendLine(contact.email, value.text);
  if (value.property == kUrlProperty) AppendLine(contact.url, value.text);
}

bool HasValues(const ContactRecord& contact) {
  return !contact.phones.empty() || !contact.email.empty() || !contact.url.empty();
}

}  // namespace

AddressBookLayout DetectAddressBookLayout(const sqlite::SqliteDbReader& reader) {
  const std::vector<std::string> fullText = DeclaredColumns(reader, "ABPersonFullTextSearch_content");
  // ABMultiValue rows carry a guid from iOS 7 or so on; the address books
  // of the first systems (no full-text table, no guid) are left as they
  // always were: without contacts.
  const bool hasPerson = !DeclaredColumns(reader, "ABPerson").empty() &&
                         Declares(DeclaredColumns(reader, "ABMultiValue"), "guid");
  // Newer full-text tables (c16Phone) are only an index of ABPerson; the
  // older one is the only source the older readers had.
  if (hasPerson && (fullText.empty() || Declares(fullText, "c16Phone"))) return AddressBookLayout::kPerson;
  if (!fullText.empty() || !DeclaredColumns(reader, "ABPerson").empty()) return AddressBookLayout::kFullText;
  return AddressBookLayout::kUnknown;
}

std::string DisplayLabel(std::string_view stored) {
  constexpr std::string_view kOpen = "_$!<";
  constexpr std::string_view kClose = ">!$_";
  if (stored.size() >= kOpen.size() + kClose.size() && stored.starts_with(kOpen) && stored.ends_with(kClose))
    stored = stored.substr(kOpen.size(), stored.size() - kOpen.size() - kClose.size());
  return std::string(stored);
}

Status ScanPersonContacts(sqlite::SqliteDbReader& reader, std::vector<ContactRecord>& out,
                          uint64_t& highestRowid, bool withLabels) {
  std::vector<std::pair<int64_t, Person>> persons;  // rowid 0 for carved persons
  Status result =
      ScanNamedColumns(reader, "ABPerson", {{"First"}, {"Last"}, {"Organization"}}, [&](const NamedRow& row) {
        std::optional<std::string> first = sqlite::detail::StrictTextValue(row.columns[0]);
        std::optional<std::string> last = sqlite::detail::StrictTextValue(row.columns[1]);
        std::optional<std::string> company = sqlite::detail::StrictTextValue(row.columns[2]);
        if (!first || !last || !company) return false;
        // A carved record without any name is more likely stray bytes.
        if (row.deleted != 0 && first->empty() && last->empty() && company->empty()) return false;
        Person person{row.deleted, *first + *last, *company};
        if (row.rowId > 0) highestRowid = std::max(highestRowid, static_cast<uint64_t>(row.rowId));
        persons.emplace_back(row.rowId, std::move(person));
        return true;
      });

  // Label texts by rowid (live rows only: a label row is shared by every
  // value that carries it).
  std::map<int64_t, std::string> labels;
  if (withLabels) {
    const Status labelsRead =
        ScanNamedColumns(reader, "ABMultiValueLabel", {{"value"}}, [&](const NamedRow& row) {
          const std::optional<std::string> text = sqlite::detail::StrictTextValue(row.columns[0]);
          if (row.deleted != 0 || row.rowId <= 0 || !text || text->empty()) return false;
          labels.emplace(row.rowId, DisplayLabel(*text));
          return true;
        });
    if (result == kOk) result = labelsRead;
  }

  std::vector<Value> values;
  const Status valuesRead = ScanNamedColumns(
      reader, "ABMultiValue",
      {{"record_id", Storage::kInteger},
       {"property", Storage::kInteger},
       {"value"},
       {"label", Storage::kInteger}},
      [&](const NamedRow& row) {
        const std::optional<int64_t> person = sqlite::detail::IntegerValue(row.columns[0]);
        const std::optional<int64_t> property = sqlite::detail::IntegerValue(row.columns[1]);
        std::optional<std::string> text = sqlite::detail::StrictTextValue(row.columns[2]);
        if (!person || !property || !text || text->empty()) return false;
        if (std::any_of(text->begin(), text->end(),
                        [](char c) { return static_cast<unsigned char>(c) < 32; }))
          return false;
        if (const std::optional<int64_t> label = sqlite::detail::IntegerValue(row.columns[3])) {
          if (const auto found = labels.find(*label); found != labels.end())
            *text += " (" + found->second + ")";
        }
        values.push_back(Value{row.deleted, *person, *property, std::move(*text)});
        return true;
      });
  if (result == kOk) result = valuesRead;

  std::map<int64_t, Values> valuesByPerson;
  for (const Value& value : values) {
    Values& held = valuesByPerson[value.person];
    AddValue(value.deleted != 0 ? held.deleted : held.live, value);
  }

  std::map<int64_t, const Person*> livePersons;
  for (const auto& [rowId, person] : persons) {
    if (rowId > 0 && person.deleted == 0) livePersons.emplace(rowId, &person);
  }
  for (const auto& [rowId, person] : persons) {
    ContactRecord contact;
    contact.deleted = person.deleted;
    contact.name = person.name;
    contact.company = person.company;
    // A person's values belong to its live row; a deleted copy of a row whose
    // person still lives (an older version of it) takes none.
    const auto held = valuesByPerson.find(rowId);
    if (rowId > 0 && held != valuesByPerson.end() && (person.deleted == 0 || !livePersons.contains(rowId))) {
      const ContactRecord& live = held->second.live;
      contact.phones = live.phones;
      contact.email = live.email;
      contact.url = live.url;
    }
    out.push_back(std::move(contact));
  }
  // Deleted values: under their person's name when it is known.
  for (auto& [personId, held] : valuesByPerson) {
    const auto person = livePersons.find(personId);
    const int64_t id = personId;  // a lambda may not capture a structured binding (C++20)
    const bool personKnown =
        person != livePersons.end() ||
        std::any_of(persons.begin(), persons.end(), [id](const auto& entry) { return entry.first == id; });
    if (!personKnown && HasValues(held.live)) {
      held.live.deleted = 1;
      out.push_back(held.live);
    }
    if (!HasValues(held.deleted)) continue;
    held.deleted.deleted = 1;
    if (person != livePersons.end()) {
      held.deleted.name = person->second->name;
      held.deleted.company = person->second->company;
    }
    out.push_back(held.deleted);
  }
  return result;
}

Status ReadAddressBook(sqlite::SqliteDbReader& reader, std::vector<ContactRecord>& out,
                       uint64_t& highestRowid, bool withLabels) {
  switch (DetectAddressBookLayout(reader)) {
    case AddressBookLayout::kPerson:
      return ScanPersonContacts(reader, out, highestRowid, withLabels);
    case AddressBookLayout::kFullText:
      return sqlite::ScanContacts(reader, out, highestRowid);
    case AddressBookLayout::kUnknown:
      break;
  }
  return Status(
      kInvalidData,
      "the address book holds neither ABPerson with ABMultiValue nor ABPersonFullTextSearch_content");
}

}  // namespace corvyn::decoders
