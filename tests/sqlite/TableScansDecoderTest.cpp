// Record decoders on hand-built records: column positions, the carved-record
// rules, the refusals (strict text, control characters, the QQ contact
// filter), dates and signed integers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "sqlite/RecordDecoders.h"
#include "tests/sqlite/TableScansRecordBuilder.h"

namespace corvyn::sqlite {
namespace {

using testing::CarvedAt;
using testing::Columns;
using testing::EncodeCarved;
using testing::EncodeCell;
using testing::FullCellAt;
using testing::Value;

// Dates are local time; the expected texts below are written for UTC.
class DecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    if (tz != nullptr) savedTz_ = tz;
    hadTz_ = tz != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (hadTz_) {
      setenv("TZ", savedTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  SqliteDbReader reader_;
  TableProfile profile_;
  uint64_t highestRowid_ = 0;

 private:
  std::string savedTz_;
  bool hadTz_ = false;
};

// 2016-02-29 00:00:00 UTC in seconds since 2001: a day that a "31 years
// added to the year" conversion cannot even express (2016-31 = 1985 has no
// 29 February).
constexpr int64_t kLeapDay2001 = 478396800;

TEST_F(DecoderTest, CarvedRecordsReadTheirColumnsWhetherOrNotTheFirstColumnWasLost) {
  profile_ = ProfileFor("handle");
  const std::vector<Value> handle =
      Columns(5, {{1, Value::Text("+4915112345678")}, {2, Value::Text("de")}, {3, Value::Text("SMS")}});
  for (const bool lost : {false, true}) {
    SCOPED_TRACE(lost ? "first column lost" : "first column kept");
    const std::vector<uint8_t> bytes = EncodeCarved(handle, lost);
    std::vector<HandleRow> out;
    ASSERT_EQ(DecodeHandleRecord(reader_, profile_, CarvedAt(bytes), out), kOk);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].address, "+4915112345678");
    EXPECT_EQ(out[0].deleted, 1);
    EXPECT_EQ(out[0].rowId, 0);
  }
}

TEST_F(DecoderTest, HandleAndAttachmentRowsWithoutTextAreLeftOut) {
  profile_ = ProfileFor("handle");
  std::vector<HandleRow> handles;
  const std::vector<uint8_t> empty = EncodeCell(4, Columns(5, {{1, Value::Text("")}}));
  const std::vector<uint8_t> number = EncodeCell(5, Columns(5, {{1, Value::Text("12345")}}));
  EXPECT_EQ(DecodeHandleRecord(reader_, profile_, FullCellAt(empty), handles), kOk);
  EXPECT_EQ(DecodeHandleRecord(reader_, profile_, FullCellAt(number), handles), kOk);
  ASSERT_EQ(handles.size(), 1u);
  EXPECT_EQ(handles[0].rowId, 5);
  EXPECT_EQ(handles[0].deleted, 0);

  profile_ = ProfileFor("attachment");
  std::vector<AttachmentRow> attachments;
  const std::vector<uint8_t> file =
      EncodeCell(9, Columns(9, {{4, Value::Text("~/Library/SMS/Attachments/a.jpg")}}));
  const std::vector<uint8_t> noFile = EncodeCell(10, Columns(9, {{3, Value::Int(5)}}));
  EXPECT_EQ(DecodeAttachmentRecord(reader_, profile_, FullCellAt(file), attachments), kOk);
  EXPECT_EQ(DecodeAttachmentRecord(reader_, profile_, FullCellAt(noFile), attachments), kOk);
  ASSERT_EQ(attachments.size(), 1u);
  EXPECT_EQ(attachments[0].fileName, "~/Library/SMS/Attachments/a.jpg");
  EXPECT_EQ(attachments[0].rowId, 9);
}

TEST_F(DecoderTest, IntegersAreSignedAtEveryWidth) {
  struct Case {
    Value stored;
    int32_t expected;
  };
  const Case cases[] = {
      {Value::IntAs(-1, 1), -1},
      {Value::IntAs(-300, 2), -300},
      {Value::IntAs(-70000, 3), -70000},
      {Value::IntAs(INT32_MIN, 4), INT32_MIN},
      {Value::IntAs(200, 2), 200},
      {Value::Int(1), 1},  // constant 1
      {Value::Int(0), 0},
      {Value::IntAs(-2, 5), -2},
      {Value::Int(int64_t{1} << 40), 0},  // too wide
  };
  profile_ = ProfileFor("message_attachment_join");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const std::vector<uint8_t> bytes = EncodeCell(1, {c.stored, c.stored});
    std::vector<MessageAttachmentJoinRow> out;
    ASSERT_EQ(DecodeJoinRecord(reader_, profile_, FullCellAt(bytes), out), kOk);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].messageId, c.expected);
    EXPECT_EQ(out[0].attachmentId, c.expected);
  }
}

std::vector<Value> MessageRow(Value text, Value date, Value fromMe = Value::Int(0)) {
  return Columns(38, {{1, Value::Text("6A1B1D44-5C58-4D5E-9A0B-3A4C88E1F0D2")},
                      {2, std::move(text)},
                      {5, Value::Int(3)},
                      {15, std::move(date)},
                      {21, std::move(fromMe)}});
}

TEST_F(DecoderTest, MessageTextMustBeCleanUtf8) {
  struct Case {
    const char* name;
    Value text;
    Status status;
  };
  const Case cases[] = {
      {"plain", Value::Text("See you at 8"), kOk},
      {"accents and emoji",
       Value::Text("Gr\xC3\xBC\xC3\x9F"
                   "e \xF0\x9F\x98\x80"),
       kOk},
      {"no text (attachment only)", Value::Null(), kOk},
      {"invalid byte", Value::Text("caf\xE9"), kInvalidData},
      {"truncated sequence at the start", Value::Text("\xE2\x82 euro"), kInvalidData},
      {"replacement character", Value::Text("odd \xEF\xBF\xBD"), kInvalidData},
      {"zero character", Value::Text(std::string("before\0after", 12)), kInvalidData},
  };
  profile_ = ProfileFor("message");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = EncodeCell(12, MessageRow(c.text, Value::Int(kLeapDay2001)));
    std::vector<MessageRecord> out;
    EXPECT_EQ(DecodeMessageRecord(reader_, profile_, FullCellAt(bytes), out, highestRowid_), c.status);
    EXPECT_EQ(out.size(), c.status == kOk ? 1u : 0u);
    if (!out.empty()) {
      EXPECT_EQ(out[0].text, c.text.bytes);
    }
  }
}

TEST_F(DecoderTest, MessageFieldsAndRowidCounter) {
  profile_ = ProfileFor("message");
  highestRowid_ = 40;
  std::vector<MessageRecord> out;
  const std::vector<uint8_t> sent =
      EncodeCell(77, MessageRow(Value::Text("hi"), Value::Int(kLeapDay2001), Value::Int(1)));
  const std::vector<uint8_t> older = EncodeCell(12, MessageRow(Value::Text("yo"), Value::Int(kLeapDay2001)));
  const std::vector<uint8_t> carved = EncodeCarved(MessageRow(Value::Text("gone"), Value::Int(kLeapDay2001)));
  ASSERT_EQ(DecodeMessageRecord(reader_, profile_, FullCellAt(sent), out, highestRowid_), kOk);
  ASSERT_EQ(DecodeMessageRecord(reader_, profile_, FullCellAt(older), out, highestRowid_), kOk);
  ASSERT_EQ(DecodeMessageRecord(reader_, profile_, CarvedAt(carved), out, highestRowid_), kOk);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].messageId, 77);
  EXPECT_EQ(out[0].handleId, 3);
  EXPECT_EQ(out[0].sent, 1);
  EXPECT_EQ(out[1].sent, 0);
  EXPECT_EQ(out[2].messageId, 0);
  EXPECT_EQ(out[2].deleted, 1);
  EXPECT_EQ(out[2].text, "gone");
  EXPECT_EQ(highestRowid_, 77u);
}

TEST_F(DecoderTest, DatesAreCountedFrom2001OrFrom1970AsTheTableStoresThem) {
  struct Case {
    const char* name;
    Value date;
    const char* expected;
  };
  const Case cocoaCases[] = {
      {"reference date", Value::Int(0), "2001-01-01 00:00:00"},
      {"leap day", Value::Int(kLeapDay2001), "2016-02-29 00:00:00"},
      {"double with a fraction", Value::Real(kLeapDay2001 + 59.75), "2016-02-29 00:00:59"},
      {"double before 2009", Value::Real(126230400.5), "2005-01-01 00:00:00"},
      {"double after 2018", Value::Real(730987200.25), "2024-03-01 12:00:00"},
      {"before 2001", Value::IntAs(-86400, 3), "2000-12-31 00:00:00"},
      {"no date", Value::Null(), ""},
  };
  profile_ = ProfileFor("ZNOTE");
  for (const Case& c : cocoaCases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes =
        EncodeCell(2, Columns(19, {{11, Value::Int(4)}, {13, c.date}, {14, Value::Text("Shopping")}}));
    std::vector<NoteRow> out;
    ASSERT_EQ(DecodeNoteRecord(reader_, profile_, FullCellAt(bytes), out), kOk);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].date, c.expected);
    EXPECT_EQ(out[0].noteId, 4);
    EXPECT_EQ(out[0].title, "Shopping");
  }

  // Message dates are nanoseconds from iOS 11 on.
  const Case messageCases[] = {
      {"seconds", Value::Int(kLeapDay2001), "2016-02-29 00:00:00"},
      {"nanoseconds", Value::Int(kLeapDay2001 * 1'000'000'000 + 999'999'999), "2016-02-29 00:00:00"},
  };
  profile_ = ProfileFor("message");
  for (const Case& c : messageCases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = EncodeCell(3, MessageRow(Value::Text("x"), c.date));
    std::vector<MessageRecord> out;
    ASSERT_EQ(DecodeMessageRecord(reader_, profile_, FullCellAt(bytes), out, highestRowid_), kOk);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].date, c.expected);
  }

  // The older call table counts from 1970.
  profile_ = ProfileFor("call");
  const std::vector<uint8_t> call = EncodeCell(
      1, Columns(13, {{1, Value::Text("6508870260")}, {2, Value::Int(1339531490)}, {3, Value::Int(20)}}));
  std::vector<CallRecord> calls;
  ASSERT_EQ(DecodeCallRecord(reader_, profile_, FullCellAt(call), calls), kOk);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].date, "2012-06-12 20:04:50");
}

std::vector<Value> OldCallRow(std::string number, int64_t flags) {
  return Columns(13, {{1, Value::Text(std::move(number))},
                      {2, Value::Int(1339531490)},
                      {3, Value::Int(56)},
                      {4, Value::Int(flags)},
                      {5, Value::Int(-1)}});
}

TEST_F(DecoderTest, OldCallTableRefusesNumbersWithControlCharacters) {
  struct Case {
    const char* name;
    std::string number;
    Status status;
  };
  const Case cases[] = {
      {"number", "+15713083236", kOk},
      {"line feed", "+1571\n3083236", kInvalidData},
      {"tab at the end", "7038296191\t", kInvalidData},
      {"escape", "\x1B[2J", kInvalidData},
  };
  profile_ = ProfileFor("call");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = EncodeCell(1, OldCallRow(c.number, 4));
    std::vector<CallRecord> out;
    EXPECT_EQ(DecodeCallRecord(reader_, profile_, FullCellAt(bytes), out), c.status);
    EXPECT_EQ(out.size(), c.status == kOk ? 1u : 0u);
  }
}

TEST_F(DecoderTest, CallRecordsNeedANumberAndADate) {
  profile_ = ProfileFor("ZCALLRECORD");
  const auto row = [](Value date, Value originated, Value duration, Value address) {
    return Columns(17, {{8, std::move(originated)},
                        {10, std::move(date)},
                        {11, std::move(duration)},
                        {12, std::move(address)}});
  };
  std::vector<CallRecord> out;
  const std::vector<uint8_t> incoming = EncodeCell(1, row(Value::Real(kLeapDay2001 + 0.5), Value::Int(0),
                                                          Value::Real(83.9), Value::Text("+4915112345678")));
  const std::vector<uint8_t> outgoing =
      EncodeCell(2, row(Value::Int(kLeapDay2001), Value::Int(1), Value::Int(12), Value::Text("112")));
  const std::vector<uint8_t> noNumber =
      EncodeCell(3, row(Value::Int(kLeapDay2001), Value::Int(0), Value::Int(1), Value::Null()));
  const std::vector<uint8_t> noDate =
      EncodeCell(4, row(Value::Null(), Value::Int(0), Value::Int(1), Value::Text("+1555")));
  for (const auto* cell : {&incoming, &outgoing, &noNumber, &noDate}) {
    ASSERT_EQ(DecodeCallRecord(reader_, profile_, FullCellAt(*cell), out), kOk);
  }
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].incoming, 1);
  EXPECT_EQ(out[0].duration, 83);
  EXPECT_EQ(out[0].date, "2016-02-29 00:00:00");
  EXPECT_EQ(out[0].number, "+4915112345678");
  EXPECT_EQ(out[1].incoming, 0);
  EXPECT_EQ(out[1].duration, 12);
}

TEST_F(DecoderTest, CarvedCallsReadTheColumnCountOfTheLastFullCell) {
  // The iOS 4 call table has 8 columns, not 13: the full cells tell. A long
  // name takes a two-byte serial type, so the header is longer than the
  // column count.
  profile_ = ProfileFor("call");
  const std::vector<Value> live = Columns(8, {{1, Value::Text("6508870260")},
                                              {2, Value::Int(1339531490)},
                                              {6, Value::Text(std::string(70, 'N'))},
                                              {7, Value::Text("310")}});
  const std::vector<Value> deleted = Columns(
      8,
      {{1, Value::Text("7038296191")}, {2, Value::Int(1339534334)}, {3, Value::Int(56)}, {4, Value::Int(4)}});
  const std::vector<uint8_t> carved = EncodeCarved(deleted);
  std::vector<CallRecord> out;
  EXPECT_NE(DecodeCallRecord(reader_, profile_, CarvedAt(carved), out), kOk);  // no full cell seen yet
  EXPECT_TRUE(out.empty());

  const std::vector<uint8_t> liveCell = EncodeCell(1, live);
  ASSERT_EQ(DecodeCallRecord(reader_, profile_, FullCellAt(liveCell), out), kOk);
  EXPECT_EQ(profile_.liveColumnCount, 8u);
  for (const bool lost : {false, true}) {
    SCOPED_TRACE(lost ? "first column lost" : "first column kept");
    const std::vector<uint8_t> bytes = EncodeCarved(deleted, lost);
    ASSERT_EQ(DecodeCallRecord(reader_, profile_, CarvedAt(bytes), out), kOk);
    EXPECT_EQ(out.back().deleted, 1);
    EXPECT_EQ(out.back().number, "7038296191");
    EXPECT_EQ(out.back().duration, 56);
    EXPECT_EQ(out.back().date, "2012-06-12 20:52:14");
  }
  EXPECT_EQ(out.size(), 3u);
}

TEST_F(DecoderTest, DeletedRecordsMustHoldTheTableStorageClassesInTheColumnsTaken) {
  struct Case {
    const char* name;
    Value handleId;
    Value text;
    int32_t deleted;
    Status status;
  };
  const Case cases[] = {
      {"deleted row as stored", Value::Int(7), Value::Text("ok"), 1, kOk},
      {"deleted row with NULLs", Value::Null(), Value::Null(), 1, kOk},
      {"text where the handle id belongs", Value::Text("7"), Value::Text("ok"), 1, kInvalidData},
      {"number where the text belongs", Value::Int(7), Value::Int(12), 1, kInvalidData},
      {"blob where the text belongs", Value::Int(7), Value::Blob("ok"), 1, kInvalidData},
      {"live rows are taken as they are", Value::Text("7"), Value::Int(12), 0, kOk},
  };
  profile_ = ProfileFor("message");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Value> row = MessageRow(c.text, Value::Int(kLeapDay2001));
    row[5] = c.handleId;
    const std::vector<uint8_t> bytes = EncodeCell(4, row);
    std::vector<MessageRecord> out;
    EXPECT_EQ(DecodeMessageRecord(reader_, profile_, FullCellAt(bytes, c.deleted), out, highestRowid_),
              c.status);
    EXPECT_EQ(out.size(), c.status == kOk ? 1u : 0u);
  }
}

std::vector<Value> ContactRow(std::string phones, std::string email = "anna@example.com") {
  return Columns(24, {{1, Value::Text("Anna")},
                      {2, Value::Text("Berg")},
                      {7, Value::Text("Acme")},
                      {16, Value::Text(std::move(phones))},
                      {17, Value::Text(std::move(email))},
                      {18, Value::Text("Main St 1")},
                      {19, Value::Text("@anna")},
                      {20, Value::Text("https://example.com")}});
}

TEST_F(DecoderTest, ContactsTakeStrictTextsAndRefuseControlCharactersInPhones) {
  struct Case {
    const char* name;
    std::vector<Value> row;
    Status status;
  };
  const Case cases[] = {
      {"complete", ContactRow("+4915112345678 015112345678 "), kOk},
      {"line feed in phones", ContactRow("+49151\n12345678 "), kInvalidData},
      {"invalid e-mail bytes", ContactRow("+4915112345678 ", "anna\xFF@example.com"), kInvalidData},
  };
  profile_ = ProfileFor("ABPersonFullTextSearch_content");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes = EncodeCell(31, c.row);
    std::vector<ContactRecord> out;
    EXPECT_EQ(DecodeContactRecord(reader_, profile_, FullCellAt(bytes), out, highestRowid_), c.status);
    ASSERT_EQ(out.size(), c.status == kOk ? 1u : 0u);
    if (out.empty()) continue;
    EXPECT_EQ(out[0].name, "AnnaBerg");
    EXPECT_EQ(out[0].company, "Acme");
    EXPECT_EQ(out[0].phones, "+4915112345678 015112345678 ");
    EXPECT_EQ(out[0].email, "anna@example.com");
    EXPECT_EQ(out[0].address, "Main St 1");
    EXPECT_EQ(out[0].social, "@anna");
    EXPECT_EQ(out[0].url, "https://example.com");
  }
  EXPECT_EQ(highestRowid_, 31u);
}

TEST_F(DecoderTest, CarvedContactsReadTheColumnCountOfTheLastFullCell) {
  profile_ = ProfileFor("ABPersonFullTextSearch_content");
  // The live row's long note takes a two-byte serial type; the deleted row's
  // long phone text does, at another column.
  std::vector<Value> liveRow = ContactRow("+4915112345678 ");
  liveRow[9] = Value::Text(std::string(80, 'n'));
  const std::vector<uint8_t> live = EncodeCell(3, liveRow);
  std::vector<ContactRecord> out;
  ASSERT_EQ(DecodeContactRecord(reader_, profile_, FullCellAt(live), out, highestRowid_), kOk);
  EXPECT_EQ(profile_.liveColumnCount, 24u);
  const std::vector<Value> row =
      ContactRow("+4915112345678 015112345678 15112345678 +4917612345678 017612345678 ");

  for (const bool lost : {false, true}) {
    SCOPED_TRACE(lost ? "first column lost" : "first column kept");
    const std::vector<uint8_t> carved = EncodeCarved(row, lost);
    ASSERT_EQ(DecodeContactRecord(reader_, profile_, CarvedAt(carved), out, highestRowid_), kOk);
    EXPECT_EQ(out.back().deleted, 1);
    EXPECT_EQ(out.back().phones, "+4915112345678 015112345678 15112345678 +4917612345678 017612345678 ");
    EXPECT_EQ(out.back().url, "https://example.com");
  }
}

TEST_F(DecoderTest, QqRowsOfOtherContactsAreRefusedWhileTheContactFilterIsSet) {
  struct Case {
    const char* name;
    std::string filter;
    std::string contact;
    Status status;
  };
  const Case cases[] = {
      {"no filter", "", "10001", kOk},
      {"filter matches", "10001", "10001", kOk},
      {"other contact", "10001", "20002", kInvalidData},
      {"prefix only", "10001", "100011", kInvalidData},
  };
  profile_ = ProfileFor("tb_c2cMsg_10001");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    profile_.rowFilter.reset();
    if (!std::string(c.filter).empty())
      profile_.rowFilter = TextMatch{profile_.Column(kC2cContactId), c.filter};
    const std::vector<uint8_t> bytes = EncodeCell(8, Columns(50, {{1, Value::Text(c.contact)},
                                                                  {2, Value::Int(1400000000)},
                                                                  {4, Value::Int(0)},
                                                                  {6, Value::Text("ni hao")}}));
    std::vector<ChatMessageRecord> out;
    EXPECT_EQ(DecodeC2cMessageRecord(reader_, profile_, FullCellAt(bytes, 1), out), c.status);
    ASSERT_EQ(out.size(), c.status == kOk ? 1u : 0u);
    if (out.empty()) continue;
    EXPECT_EQ(out[0].contactId, c.contact);
    EXPECT_EQ(out[0].sent, 1);  // column 4 holds 0
    EXPECT_EQ(out[0].rowId, 8);
    EXPECT_EQ(out[0].date, "2014-05-13 16:53:20");
  }
}

TEST_F(DecoderTest, ChatRowsWithoutTextAreLeftOut) {
  profile_ = ProfileFor("Chat_0123456789abcdef0123456789abcdef");
  std::vector<ChatMessageRecord> out;
  const std::vector<uint8_t> received =
      EncodeCell(5, Columns(9, {{3, Value::Int(1400000000)}, {4, Value::Text("hello")}, {8, Value::Int(1)}}));
  const std::vector<uint8_t> image =
      EncodeCell(6, Columns(9, {{3, Value::Int(1400000001)}, {8, Value::Int(0)}}));
  ASSERT_EQ(DecodeChatMessageRecord(reader_, profile_, FullCellAt(received), out), kOk);
  ASSERT_EQ(DecodeChatMessageRecord(reader_, profile_, FullCellAt(image), out), kOk);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].text, "hello");
  EXPECT_EQ(out[0].sent, 0);
  EXPECT_EQ(out[0].rowId, 5);

  profile_ = ProfileFor("tb_c2cTables");
  std::vector<C2cTableRow> tables;
  for (const char* name : {"tb_c2cMsg_10001", "tb_c2cMsg_group_2002", "plain"}) {
    const std::vector<uint8_t> bytes = EncodeCell(1, {Value::Text(name)});
    ASSERT_EQ(DecodeC2cTableRecord(reader_, profile_, FullCellAt(bytes), tables), kOk);
  }
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(tables[0].friendKey, "10001");
  EXPECT_EQ(tables[1].friendKey, "2002");
  EXPECT_EQ(tables[2].friendKey, "");
}

// Every column holds 1000 + its number, except the text and the from-me flag,
// so the values read show which columns the decoder took.
std::vector<Value> NumberedRow(std::size_t count, uint32_t textColumn, std::optional<uint32_t> flagColumn) {
  std::vector<Value> values;
  for (std::size_t i = 0; i < count; ++i) values.push_back(Value::Int(static_cast<int64_t>(1000 + i)));
  values[textColumn] = Value::Text("column text");
  if (flagColumn) values[*flagColumn] = Value::Int(1);
  return values;
}

TEST_F(DecoderTest, WhatsAppMessageColumnsFollowTheColumnCount) {
  struct Case {
    int32_t count;
    uint32_t session, member, fromMe, text;
    const char* date;  // column 17, 20 or 21 holds 1017, 1020 or 1021 seconds
  };
  const Case cases[] = {
      {27, 12, 13, 7, 21, "2001-01-01 00:16:57"},
      {28, 14, 15, 10, 26, "2001-01-01 00:17:00"},
      {29, 15, 16, 10, 27, "2001-01-01 00:17:01"},
      {31, 12, 13, 7, 21, "2001-01-01 00:16:57"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    profile_ = ProfileFor("ZWAMESSAGE", c.count);
    const std::vector<uint8_t> bytes =
        EncodeCell(60, NumberedRow(static_cast<std::size_t>(c.count), c.text, c.fromMe));
    std::vector<WhatsAppRecord> out;
    ASSERT_EQ(DecodeWhatsAppMessageRecord(reader_, profile_, FullCellAt(bytes), out), kOk);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].text, "column text");
    EXPECT_EQ(out[0].sessionId, static_cast<int32_t>(1000 + c.session));
    EXPECT_EQ(out[0].memberKey, static_cast<int32_t>(1000 + c.member));
    EXPECT_EQ(out[0].date, c.date);
    EXPECT_EQ(out[0].sent, 1);
    EXPECT_EQ(out[0].messageKey, 60);
  }
}

TEST_F(DecoderTest, WhatsAppChatAndMemberColumnsFollowTheColumnCount) {
  struct Case {
    int32_t count;
    std::size_t chatColumns, contact, partner;
    std::size_t memberColumns, chatId, name, memberId;
  };
  const Case cases[] = {{27, 18, 14, 16, 10, 5, 7, 9}, {28, 20, 16, 18, 11, 6, 8, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    profile_ = ProfileFor("ZWACHATSESSION", c.count);
    std::vector<Value> chat = NumberedRow(c.chatColumns, static_cast<uint32_t>(c.contact), std::nullopt);
    chat[c.contact] = Value::Text("4915112345678@s.whatsapp.net");
    chat[c.partner] = Value::Text("Anna");
    const std::vector<uint8_t> chatBytes = EncodeCell(3, chat);
    std::vector<WhatsAppChatRow> chats;
    ASSERT_EQ(DecodeWhatsAppChatRecord(reader_, profile_, FullCellAt(chatBytes), chats), kOk);
    ASSERT_EQ(chats.size(), 1u);
    EXPECT_EQ(chats[0].contactId, "4915112345678");
    EXPECT_EQ(chats[0].partnerName, "Anna");
    EXPECT_EQ(chats[0].rowId, 3);

    profile_ = ProfileFor("ZWAGROUPMEMBER", c.count);
    std::vector<Value> member = NumberedRow(c.memberColumns, static_cast<uint32_t>(c.name), std::nullopt);
    member[c.name] = Value::Text("Ben");
    member[c.memberId] = Value::Text("4917612345678@s.whatsapp.net");
    const std::vector<uint8_t> memberBytes = EncodeCell(4, member);
    std::vector<WhatsAppMemberRow> members;
    ASSERT_EQ(DecodeWhatsAppMemberRecord(reader_, profile_, FullCellAt(memberBytes), members), kOk);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].chatId, static_cast<int32_t>(1000 + c.chatId));
    EXPECT_EQ(members[0].memberName, "Ben");
    EXPECT_EQ(members[0].memberId, "4917612345678");
  }
}

TEST_F(DecoderTest, IdentifiersAreCutAtTheAtSign) {
  profile_ = ProfileFor("ZWACHATSESSION", 28);
  std::vector<WhatsAppChatRow> chats;
  const std::vector<uint8_t> group =
      EncodeCell(1, Columns(20, {{16, Value::Text("4915112345678-1400000000@g.us")}}));
  const std::vector<uint8_t> bare = EncodeCell(2, Columns(20, {{16, Value::Text("status")}}));
  ASSERT_EQ(DecodeWhatsAppChatRecord(reader_, profile_, FullCellAt(group), chats), kOk);
  ASSERT_EQ(DecodeWhatsAppChatRecord(reader_, profile_, FullCellAt(bare), chats), kOk);
  ASSERT_EQ(chats.size(), 2u);
  EXPECT_EQ(chats[0].contactId, "4915112345678-1400000000");
  EXPECT_EQ(chats[1].contactId, "");  // a chat id without '@' gives none

  profile_ = ProfileFor("ZWAGROUPMEMBER");
  std::vector<WhatsAppMemberRow> members;
  const std::vector<uint8_t> bareMember = EncodeCell(1, Columns(11, {{10, Value::Text("4917612345678")}}));
  ASSERT_EQ(DecodeWhatsAppMemberRecord(reader_, profile_, FullCellAt(bareMember), members), kOk);
  ASSERT_EQ(members.size(), 1u);
  EXPECT_EQ(members[0].memberId, "4917612345678");  // a member id without '@' is kept whole
}

TEST_F(DecoderTest, CarvedRecordsWhoseColumnZeroIsStoredAreReadWhole) {
  // Column 0 of a WeChat chat table is a version number, stored as the
  // constant 1: a carved record starts with serial type 9, which alone looks
  // like a lost first column.
  profile_ = ProfileFor("Chat_0123456789abcdef0123456789abcdef");
  const std::vector<Value> row = Columns(9, {{0, Value::Int(1)},
                                             {2, Value::Int(7)},
                                             {3, Value::Int(1400000000)},
                                             {4, Value::Text("see you")},
                                             {8, Value::Int(0)}});
  const std::vector<uint8_t> bytes = EncodeCarved(row);
  ASSERT_EQ(bytes[0], 9);
  std::vector<ChatMessageRecord> out;
  ASSERT_EQ(DecodeChatMessageRecord(reader_, profile_, CarvedAt(bytes), out), kOk);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].text, "see you");
  EXPECT_EQ(out[0].date, "2014-05-13 16:53:20");
  EXPECT_EQ(out[0].sent, 1);
}

TEST_F(DecoderTest, ColumnsThatRunPastThePageRefuseTheRecordOnlyWhenTheyAreNeeded) {
  profile_ = ProfileFor("handle");
  const std::vector<uint8_t> whole =
      EncodeCarved(Columns(5, {{1, Value::Text("12345")}, {4, Value::Text("uncanonicalized +1 234")}}));
  struct Case {
    const char* name;
    std::size_t cut;  // bytes cut off the end
    Status status;
  };
  const Case cases[] = {
      {"whole", 0, kOk},
      {"unneeded column 4 cut", 5, kOk},
      {"column 1 cut", std::string("uncanonicalized +1 234").size() + 1, kInvalidData},
      {"serial types cut", whole.size() - 2, kInvalidData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> bytes(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(c.cut));
    std::vector<HandleRow> out;
    EXPECT_EQ(DecodeHandleRecord(reader_, profile_, CarvedAt(bytes), out), c.status);
    ASSERT_EQ(out.size(), c.status == kOk ? 1u : 0u);
    if (!out.empty()) {
      EXPECT_EQ(out[0].address, "12345");
    }
  }
}

TEST_F(DecoderTest, NoteBodiesAndFriends) {
  profile_ = ProfileFor("ZNOTEBODY");
  std::vector<NoteBodyRow> bodies;
  const std::vector<uint8_t> body =
      EncodeCell(1, Columns(7, {{3, Value::Int(12)}, {4, Value::Text("<div>Milk</div>")}}));
  ASSERT_EQ(DecodeNoteBodyRecord(reader_, profile_, FullCellAt(body), bodies), kOk);
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0].noteId, 12);
  EXPECT_EQ(bodies[0].html, "<div>Milk</div>");

  profile_ = ProfileFor("Friend");
  std::vector<FriendRow> friends;
  const std::vector<uint8_t> wechatFriend =
      EncodeCell(1, Columns(13, {{1, Value::Text("wxid_abc")}, {2, Value::Text("Li")}, {6, Value::Int(3)}}));
  ASSERT_EQ(DecodeFriendRecord(reader_, profile_, FullCellAt(wechatFriend), friends), kOk);
  ASSERT_EQ(friends.size(), 1u);
  EXPECT_EQ(friends[0].userName, "wxid_abc");
  EXPECT_EQ(friends[0].nickName, "Li");
  EXPECT_EQ(friends[0].type, 3);
}

TEST(ExpectedColumnCountFor, NamesFollowTheirCaseRulesAndWhatsAppCountsSwitchAt28) {
  struct Case {
    const char* table;
    int32_t whatsAppColumns;
    uint32_t expected;
  };
  const Case cases[] = {
      {"znote", 28, 19},           {"MESSAGE", 28, 38},
      {"Chat_0123abcd", 28, 9},    {"chat_0123abcd", 28, 0},
      {"tb_c2cMsg_12345", 28, 50}, {"TB_C2CMSG_12345", 28, 0},
      {"ZWAMESSAGE", 29, 29},      {"ZWAMESSAGE", -1, 0},
      {"ZWACHATSESSION", 27, 18},  {"ZWACHATSESSION", 28, 20},
      {"ZWAGROUPMEMBER", 27, 10},  {"ZWAGROUPMEMBER", 28, 11},
      {"sqlite_sequence", 28, 0},  {"", 28, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpectedColumnCountFor(c.table, c.whatsAppColumns), c.expected)
        << c.table << " " << c.whatsAppColumns;
  }
}

TEST_F(DecoderTest, TakenColumnsMoveToWhereTheSchemaDeclaresThem) {
  // A message table with one more column before `text`: the declared names
  // move text, handle_id, date and is_from_me one place on.
  std::vector<std::string> declared(39, "unused");
  declared[3] = "text";
  declared[6] = "handle_id";
  declared[16] = "date";
  declared[22] = "IS_FROM_ME";  // names compare ignoring case
  struct Case {
    const char* name;
    std::vector<std::string> declared;
    uint32_t textColumn;
  };
  const Case cases[] = {{"schema read", declared, 3}, {"no schema", {}, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    profile_ = ProfileFor("message");
    profile_.declaredColumns = c.declared;
    profile_.ResolveTakenColumns();
    EXPECT_EQ(profile_.Column(kMessageText), c.textColumn);
    const uint32_t shift = c.textColumn - 2;
    const std::vector<uint8_t> bytes = EncodeCell(9, Columns(39, {{2 + shift, Value::Text("moved")},
                                                                  {5 + shift, Value::Int(4)},
                                                                  {15 + shift, Value::Int(kLeapDay2001)},
                                                                  {21 + shift, Value::Int(1)}}));
    std::vector<MessageRecord> out;
    ASSERT_EQ(DecodeMessageRecord(reader_, profile_, FullCellAt(bytes), out, highestRowid_), kOk);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].text, "moved");
    EXPECT_EQ(out[0].handleId, 4);
    EXPECT_EQ(out[0].date, "2016-02-29 00:00:00");
    EXPECT_EQ(out[0].sent, 1);
  }
}

}  // namespace
}  // namespace corvyn::sqlite
