// Contacts of the ABPerson/ABMultiValue address book and calls of the
// by-name ZCALLRECORD table (iOS 9 and later): built databases with deleted
// rows and known ground truth, and the real address books compared with SQL
// on copies.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/TextFormat.h"
#include "decoders/AddressBook.h"
#include "decoders/CallRecordTable.h"
#include "decoders/ContactNameIndex.h"
#include "decoders/Decoders.h"
#include "tests/decoders/SampleFiles.h"
#include "tests/decoders/SqlOnCopy.h"
#include "tests/support/sqlite_fixtures/ModernAppBuilders.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

using testing::CopySample;
using testing::ExternalTestData;
using testing::FixtureBlob;
using testing::FixtureValue;
using testing::TempFolder;

std::string CocoaDate(const FixtureValue& value) {
  if (const auto* real = std::get_if<double>(&value)) return DateTextFromCocoa(static_cast<int64_t>(*real));
  return DateTextFromCocoa(std::get<int64_t>(value));
}

std::string AddressText(const FixtureValue& value) {
  if (const auto* blob = std::get_if<FixtureBlob>(&value))
    return std::string(blob->bytes.begin(), blob->bytes.end());
  return std::get<std::string>(value);
}

int32_t Whole(const FixtureValue& value) {
  if (const auto* real = std::get_if<double>(&value)) return static_cast<int32_t>(*real);
  return static_cast<int32_t>(std::get<int64_t>(value));
}

using CallKey = std::tuple<int32_t, std::string, std::string, int32_t, int32_t, std::string>;

CallKey KeyOf(const CallRecord& call) {
  return {call.deleted, call.date, call.number, call.duration, call.incoming, call.callType};
}

class NamedCallTable : public ::testing::TestWithParam<int> {};

// Every live row comes back with its type; the deleted rows come back carved
// and nothing else does.
TEST_P(NamedCallTable, LiveAndDeletedCallsMatchGroundTruth) {
  const int columns = GetParam();
  TempFolder folder;
  std::string error;
  auto db = testing::BuildModernCallHistory(folder.Path() / "CallHistory.storedata", columns, &error);
  ASSERT_TRUE(db) << error;

  const bool hasProvider = columns == 21;
  const std::size_t type = hasProvider ? 5 : 4, originated = hasProvider ? 10 : 8,
                    date = hasProvider ? 12 : 10, duration = date + 1, provider = 18, address = columns - 1;
  std::multiset<CallKey> expected;
  for (const auto* rows : {&db->Truth().live.at("ZCALLRECORD"), &db->Truth().deleted.at("ZCALLRECORD")}) {
    for (const auto& [rowId, row] : *rows) {
      const auto& v = row.values;
      const std::string serviceProvider = hasProvider ? std::get<std::string>(v[provider]) : "";
      expected.insert({rows == &db->Truth().live.at("ZCALLRECORD") ? 0 : 1, CocoaDate(v[date]),
                       AddressText(v[address]), Whole(v[duration]),
                       std::get<int64_t>(v[originated]) == 0 ? 1 : 0,
                       CallTypeText(std::get<int64_t>(v[type]), serviceProvider)});
    }
  }
  ASSERT_EQ(db->Truth().deleted.at("ZCALLRECORD").size(), 3u);

  std::vector<CallRecord> calls;
  ASSERT_EQ(DecodeCallHistory(calls, db->Path(), folder.Path() / "no-address-book"), kOk);
  std::multiset<CallKey> got;
  for (const CallRecord& call : calls) got.insert(KeyOf(call));
  EXPECT_EQ(got, expected);
  // Dates ascend, as for the older tables.
  EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end(),
                             [](const CallRecord& a, const CallRecord& b) { return a.date < b.date; }));
}

INSTANTIATE_TEST_SUITE_P(Ios9AndLater, NamedCallTable, ::testing::Values(18, 21));

TEST(CallTypes, FromTypeAndProvider) {
  const struct {
    int64_t type;
    const char* provider;
    const char* text;
  } cases[] = {{1, "com.apple.Telephony", "Phone"},
               {8, "com.apple.FaceTime", "FaceTime Video"},
               {16, "com.apple.FaceTime", "FaceTime Audio"},
               {0, "net.whatsapp.WhatsApp", "net.whatsapp.WhatsApp"},
               {0, "", ""}};
  for (const auto& c : cases) EXPECT_EQ(CallTypeText(c.type, c.provider), c.text) << c.type;
}

TEST(PersonAddressBook, ContactsWithLiveAndDeletedValues) {
  TempFolder folder;
  std::string error;
  auto db = testing::BuildModernAddressBook(folder.Path() / "AddressBook.sqlitedb", &error);
  ASSERT_TRUE(db) << error;

  std::vector<ContactRecord> contacts;
  int64_t highest = 0;
  ASSERT_EQ(DecodeContacts(contacts, db->Path(), highest), kOk);
  EXPECT_EQ(highest, 4);
  std::set<std::tuple<int32_t, std::string, std::string, std::string, std::string>> got;
  for (const ContactRecord& c : contacts) got.insert({c.deleted, c.name, c.phones, c.email, c.company});
  // Contacts without phones are left out as in the older layout (the deleted
  // person 3 survives as a carved row without values, person 4 has only an
  // e-mail); a deleted number forms a deleted contact of its person, one
  // whose person is gone a nameless one.
  const std::set<std::tuple<int32_t, std::string, std::string, std::string, std::string>> expected = {
      {0, "JaneRoe", "(919) 888-7386 (Mobile)", "jane@example.com (Home)", ""},
      {1, "JaneRoe", "+1 555 010 0202 (TextNow)", "", ""},
      {0, "MaxMuster", "030 1234567 (Home)\n0170 7654321 (Mobile)", "", "Acme Ltd"},
      {1, "No Name", "+44 20 7946 0000 (Mobile)", "", ""},
  };
  EXPECT_EQ(got, expected);
}

TEST(PersonAddressBook, NamesCallsByDialableForms) {
  TempFolder folder;
  auto db = testing::BuildModernAddressBook(folder.Path() / "AddressBook.sqlitedb");
  ASSERT_TRUE(db);
  std::vector<ContactRecord> contacts;
  ASSERT_EQ(ReadContactsForNames(db->Path(), contacts), kOk);
  ContactNameIndex names(contacts);
  const struct {
    const char* address;
    const char* name;
  } cases[] = {{"(919) 888-7386", "JaneRoe"},
               {"9198887386", "JaneRoe"},
               {"+19198887386", nullptr},
               {"01707654321", "MaxMuster"},
               {"+4930999", nullptr}};
  for (const auto& c : cases) {
    const std::string* name = names.FindName(c.address);
    if (c.name == nullptr) {
      EXPECT_EQ(name, nullptr) << c.address;
    } else {
      ASSERT_NE(name, nullptr) << c.address;
      EXPECT_EQ(*name, c.name) << c.address;
    }
  }
  EXPECT_EQ(PhoneWithDialableForms("+4930"), "+4930 4930");
  EXPECT_EQ(PhoneWithDialableForms("4930"), "4930 +4930");
  EXPECT_EQ(DisplayLabel("_$!<Mobile>!$_"), "Mobile");
  EXPECT_EQ(DisplayLabel("TextNow"), "TextNow");
}

TEST(UnknownSchemas, AreErrorsInWords) {
  TempFolder folder;
  auto db = testing::FixtureDatabase::Create(folder.Path() / "other.db");
  ASSERT_TRUE(db);
  ASSERT_TRUE(db->Exec("CREATE TABLE unrelated (a TEXT)"));
  db->Close();
  std::vector<ContactRecord> contacts;
  int64_t highest = 0;
  const Status status = DecodeContacts(contacts, db->Path(), highest);
  EXPECT_EQ(status, kInvalidData);
  EXPECT_NE(status.Message().find("ABPerson"), std::string::npos) << status.Message();
  std::vector<CallRecord> calls;
  const Status callStatus = DecodeCallHistory(calls, db->Path(), db->Path());
  EXPECT_EQ(callStatus, kInvalidData);
  EXPECT_NE(callStatus.Message().find("ZCALLRECORD"), std::string::npos) << callStatus.Message();
}

// ---- real address books ----

constexpr const char* kIos15Book =
    "abrignoni__iLEAPP/admin/test/cases/data/addressBook/testdata.addressBook.addressBook.josh_ios15_ffs/"
    "filesystem2/mobile/Library/AddressBook/AddressBook.sqlitedb";
constexpr const char* kIos14Book =
    "abrignoni__iLEAPP/admin/test/cases/data/addressBook/testdata.addressBook.addressBook.mvs_ios_2023/"
    "private/"
    "var/mobile/Library/AddressBook/AddressBook.sqlitedb";
constexpr const char* kIos16Book =
    "abrignoni__iLEAPP/admin/test/cases/data/addressBook/"
    "testdata.addressBook.addressBook.belkasoft_ctf6_ios_device1/private/var/mobile/Library/AddressBook/"
    "AddressBook.sqlitedb";

std::filesystem::path SampleOrEmpty(const char* relative) {
  const std::filesystem::path root = ExternalTestData();
  if (root.empty() || !std::filesystem::exists(root / relative)) return {};
  return root / relative;
}

// Runs a query on a copy (read-write: a main file copied without its log
// gets an empty one) and hands every row's texts (NULL as "") to `row`.
void Query(const std::filesystem::path& copy, const std::string& sql,
           const std::function<void(const std::vector<std::string>&)>& row) {
  testing::QueryCopy(copy, sql, row, testing::CopyOpen::kReadWrite);
}

// Live persons with phones as SQL sees them: name (First + Last) and phones
// one per line in value order, each followed by its label ("_$!<Mobile>!$_"
// shown as "Mobile") when it has one.
std::set<std::pair<std::string, std::string>> PersonsWithPhonesBySql(const std::filesystem::path& copy) {
  std::map<std::string, std::pair<std::string, std::string>> byPerson;
  Query(copy,
        "SELECT p.ROWID, ifnull(p.First,'') || ifnull(p.Last,''), v.value || ifnull(' (' || "
        "replace(replace(l.value, '_$!<', ''), '>!$_', '') || ')', '') FROM ABPerson p JOIN ABMultiValue v "
        "ON v.record_id = p.ROWID LEFT JOIN ABMultiValueLabel l ON l.ROWID = v.label "
        "WHERE v.property = 3 AND v.value <> '' ORDER BY v.UID",
        [&](const std::vector<std::string>& v) {
          auto& [name, phones] = byPerson[v[0]];
          name = v[1].empty() ? "No Name" : v[1];
          phones += (phones.empty() ? "" : "\n") + v[2];
        });
  std::set<std::pair<std::string, std::string>> persons;
  for (const auto& [id, person] : byPerson) persons.insert(person);
  return persons;
}

std::set<std::pair<std::string, std::string>> LiveContacts(const std::vector<ContactRecord>& contacts) {
  std::set<std::pair<std::string, std::string>> live;
  for (const ContactRecord& c : contacts) {
    if (c.deleted == 0) live.insert({c.name, c.phones});
  }
  return live;
}

// The main file alone (its log left behind), so the comparison holds with or
// without log replay in the reader.
TEST(RealAddressBook, Ios15MainFileMatchesSql) {
  const std::filesystem::path sample = SampleOrEmpty(kIos15Book);
  if (sample.empty()) GTEST_SKIP() << "external test data not found: " << kIos15Book;
  TempFolder folder;
  const std::filesystem::path copy = folder.Path() / "AddressBook.sqlitedb";
  std::filesystem::copy_file(sample, copy);

  std::vector<ContactRecord> contacts;
  int64_t highest = 0;
  ASSERT_EQ(DecodeContacts(contacts, copy, highest), kOk);
  const auto expected = PersonsWithPhonesBySql(copy);
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(LiveContacts(contacts), expected);
  int64_t maxRowId = 0;
  Query(copy, "SELECT MAX(ROWID) FROM ABPerson", [&](const auto& v) { maxRowId = std::stoll(v[0]); });
  EXPECT_EQ(highest, maxRowId);
}

// With the log beside the copy: what SQL sees once the log is applied (the
// iOS 14 and 16 main files hold no schema at all; everything is in the log).
TEST(RealAddressBook, WithLogMatchesSql) {
  for (const char* relative : {kIos14Book, kIos15Book, kIos16Book}) {
    SCOPED_TRACE(relative);
    const std::filesystem::path sample = SampleOrEmpty(relative);
    if (sample.empty()) GTEST_SKIP() << "external test data not found: " << relative;
    TempFolder folder;
    const std::filesystem::path copy = CopySample(sample, folder.Path());
    std::vector<ContactRecord> contacts;
    int64_t highest = 0;
    const Status status = DecodeContacts(contacts, copy, highest);
    ASSERT_EQ(status, kOk) << status.Message();
    EXPECT_EQ(LiveContacts(contacts), PersonsWithPhonesBySql(copy));
    int64_t maxRowId = 0;
    Query(copy, "SELECT ifnull(MAX(ROWID), 0) FROM ABPerson",
          [&](const auto& v) { maxRowId = std::stoll(v[0]); });
    EXPECT_EQ(highest, maxRowId);
  }
}

// The first systems' address book (no full-text table, ABMultiValue without
// guid) stays without contacts.
TEST(RealAddressBook, FirstSystemsBookStaysEmpty) {
  const std::filesystem::path sample =
      SampleOrEmpty("shamsulchowdhury__Unit-21-Homework-Final-Report/AddressBook.sqlitedb");
  if (sample.empty()) GTEST_SKIP() << "external test data not found";
  TempFolder folder;
  const std::filesystem::path copy = CopySample(sample, folder.Path());
  sqlite::SqliteDbReader reader;
  ASSERT_EQ(reader.Open(copy), kOk);
  EXPECT_EQ(DetectAddressBookLayout(reader), AddressBookLayout::kFullText);
}

}  // namespace
}  // namespace corvyn::decoders
