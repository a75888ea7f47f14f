// Value-list (CSV) lines of message and contact rows, exact to the byte, and
// the output file: opened once, failures reported.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sqlite/TableScans.h"
#include "sqlite/ValueListWriter.h"
#include "tests/sqlite/TableScansRecordBuilder.h"
#include "tests/support/sqlite_fixtures/AppSchemas.h"

namespace corvyn::sqlite {
namespace {

using testing::CarvedAt;
using testing::EncodeCarved;
using testing::EncodeCell;
using testing::FullCellAt;
using testing::Value;

constexpr int64_t kNow = 789012345;  // seconds since 2001
constexpr const char* kAccountGuid = "0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9";

// A message row and, beside it, the entry each column gives in a live line.
struct MessageFixture {
  std::vector<Value> values;
  std::vector<std::string> entries;
};

MessageFixture MessageColumns(Value fromMe) {
  MessageFixture f;
  f.values.resize(38);
  f.entries.assign(38, "NULL,");
  const auto set = [&](std::size_t column, Value value, std::string entry) {
    f.values[column] = std::move(value);
    f.entries[column] = std::move(entry);
  };
  f.entries[0] = ",";  // NULL rowid alias: a comma after the rowid entry
  set(1, Value::Text("6A1B1D44-5C58"), "\"6A1B1D44-5C58\",");
  set(2, Value::Text("He said \"hi\" & it's"), "\"He said \"\"hi\"\" & it''s\",");
  set(4, Value::Text(""), "NULL,");
  set(5, Value::Int(3), "3,");
  set(6, Value::IntAs(-1, 1), "-1,");
  set(8, Value::Blob(std::string("\x01\xAB\x00", 3)), "01ab00,");
  set(9, Value::Int(10), "10,");
  set(10, Value::Int(0), "0,");
  set(11, Value::Text("SMS"), "\"SMS\",");
  set(13, Value::Text(kAccountGuid), std::string("\"") + kAccountGuid + "\",");
  set(15, Value::Int(478396800), "478396800,");
  set(16, Value::Real(1.5), ",");
  set(17, Value::Int(int64_t{1} << 40), ",");
  set(18, Value::Int(1), "1,");
  set(20, Value::IntAs(0, 10), "");  // reserved type: no entry
  const bool sent = fromMe.kind == Value::Kind::kInteger && fromMe.integer == 1;
  set(21, std::move(fromMe), sent ? "1," : "0,");
  set(37, Value::Int(0), "0");  // a constant in the last column has no comma
  return f;
}

std::string Join(const std::vector<std::string>& entries, std::size_t from = 0) {
  std::string line;
  for (std::size_t i = from; i < entries.size(); ++i) line += entries[i];
  return line + "\r\n";
}

TEST(MessageValueLineTest, LiveRowsKeepTheirRowidAndEveryColumn) {
  SqliteDbReader reader;
  ValueListNumbering numbering;
  const MessageFixture f = MessageColumns(Value::Int(1));
  const std::vector<uint8_t> cell = EncodeCell(7, f.values);
  std::string line;
  ASSERT_EQ(BuildMessageValueLine(reader, FullCellAt(cell), kNow, numbering, line), kOk);
  EXPECT_EQ(line, "7" + Join(f.entries));

  // A live row without a rowid is numbered on from the counter.
  numbering.lastRowid = 90;
  const std::vector<uint8_t> noRowId = EncodeCell(0, f.values);
  ASSERT_EQ(BuildMessageValueLine(reader, FullCellAt(noRowId), kNow, numbering, line), kOk);
  EXPECT_EQ(line, "91" + Join(f.entries));
  EXPECT_EQ(numbering.lastRowid, 91u);
}

TEST(MessageValueLineTest, DeletedRowsGetTheRecoveryGuidAndTodaysDate) {
  struct Case {
    const char* name;
    bool sent;
    bool firstColumnLost;
  };
  const Case cases[] = {
      {"received", false, false},
      {"sent", true, false},
      {"received, first column lost", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SqliteDbReader reader;
    ValueListNumbering numbering;
    numbering.lastRowid = 41;
    MessageFixture f = MessageColumns(Value::Int(c.sent ? 1 : 0));
    const std::vector<uint8_t> carved = EncodeCarved(f.values, c.firstColumnLost);
    std::string line;
    ASSERT_EQ(BuildMessageValueLine(reader, CarvedAt(carved), kNow, numbering, line), kOk);
    EXPECT_EQ(numbering.lastRowid, 42u);

    f.entries[1] = "\"27B99F78-F6F0-475F-8BA1-00000000002A\",";
    f.entries[15] = "789012345,";
    f.entries[16] = c.sent ? "0," : "789012345,";
    f.entries[19] = "1,";
    f.entries[26] = c.sent ? "0," : "1,";
    // Without column 0 the line starts with column 1, which takes the rowid's place.
    EXPECT_EQ(line, c.firstColumnLost ? Join(f.entries, 1) : "42" + Join(f.entries));
  }
}

TEST(MessageValueLineTest, RefusedRowsWriteNothing) {
  struct Case {
    const char* name;
    std::size_t column;
    Value value;
    int32_t deleted;
    Status status;
  };
  const Case cases[] = {
      {"text starts with an invalid byte", 2, Value::Text("\xFFhello"), 0, kInvalidData},
      {"text holds a zero character", 2, Value::Text(std::string("a\0b", 3)), 0, kInvalidData},
      {"invalid byte later in the text is written", 2, Value::Text("hello\xFF"), 0, kOk},
      {"deleted row, account guid one short", 13, Value::Text(std::string(kAccountGuid).substr(1)), 1,
       kInvalidData},
      {"deleted row, account guid with a space", 13, Value::Text("0A1B2C3D 4E5F-6071-8293-A4B5C6D7E8F9"), 1,
       kInvalidData},
      {"deleted row, no account guid", 13, Value::Null(), 1, kInvalidData},
      {"live row, no account guid", 13, Value::Null(), 0, kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SqliteDbReader reader;
    ValueListNumbering numbering;
    MessageFixture f = MessageColumns(Value::Int(0));
    f.values[c.column] = c.value;
    const std::vector<uint8_t> cell = EncodeCell(5, f.values);
    std::string line = "stale";
    EXPECT_EQ(BuildMessageValueLine(reader, FullCellAt(cell, c.deleted), kNow, numbering, line), c.status);
    EXPECT_EQ(line.empty(), c.status != kOk);
  }
}

std::vector<Value> ContactColumns(Value last) {
  std::vector<Value> values(24);
  values[1] = Value::Text("Anna");
  values[2] = Value::Text("O'Neil \"Nan\"");
  values[4] = Value::Text("");
  values[5] = Value::Int(7);
  values[6] = Value::Int(1);            // constant: no entry
  values[7] = Value::Real(2.5);         // float: empty value
  values[8] = Value::Blob("\x01\x02");  // blob: no entry
  values[16] = Value::Text("+4915112345678 ");
  values[23] = std::move(last);
  return values;
}

TEST(ContactValueLineTest, LinesEndAsTheLastColumnSays) {
  const std::string start = "5,\"Anna\",\"O''Neil \"\"Nan\"\"\",NULL,NULL,7,,";
  const std::string middle =
      "NULL,NULL,NULL,NULL,NULL,NULL,NULL,\"+4915112345678 \",NULL,NULL,NULL,NULL,NULL,NULL,";
  struct Case {
    const char* name;
    Value last;
    std::string ending;
  };
  const Case cases[] = {
      {"NULL", Value::Null(), "NULL\r\n"},
      {"empty text", Value::Text(""), "NULL\r\n"},
      {"integer", Value::Int(5), "5,\r\n"},
      {"text", Value::Text("2014-05-13"), "\"2014-05-13\"\r\n"},
      {"64-bit integer", Value::Int(int64_t{1} << 50), ",\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SqliteDbReader reader;
    ValueListNumbering numbering;
    const std::vector<uint8_t> cell = EncodeCell(5, ContactColumns(c.last));
    std::string line;
    ASSERT_EQ(BuildContactValueLine(reader, FullCellAt(cell), numbering, line), kOk);
    EXPECT_EQ(line, start + middle + c.ending);
  }
}

// A text a spreadsheet would run as a formula starts with an apostrophe; phone
// numbers keep their form.
TEST(ContactValueLineTest, FormulasNeverRunButPhoneNumbersStay) {
  const struct {
    const char* text;
    const char* written;
  } rows[] = {
      {"=1+1", "\"'=1+1\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"+cmd|' /C calc'!A0", "\"'+cmd|'' /C calc''!A0\""},
      {"-2+3+cmd", "\"'-2+3+cmd\""},
      {"+49 (151) 1234-5678", "\"+49 (151) 1234-5678\""},
      {"Anna", "\"Anna\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    SqliteDbReader reader;
    ValueListNumbering numbering;
    std::vector<Value> values = ContactColumns(Value::Null());
    values[16] = Value::Text(row.text);
    const std::vector<uint8_t> cell = EncodeCell(5, values);
    std::string line;
    ASSERT_EQ(BuildContactValueLine(reader, FullCellAt(cell), numbering, line), kOk);
    EXPECT_NE(line.find(std::string(",") + row.written + ","), std::string::npos) << line;
  }
}

TEST(ContactValueLineTest, CarvedRowsAreNumberedAndStrictTextIsEnforced) {
  SqliteDbReader reader;
  ValueListNumbering numbering;
  numbering.lastRowid = 9;
  std::string line;
  const std::vector<Value> row = ContactColumns(Value::Null());
  const std::vector<uint8_t> live = EncodeCell(5, row);
  ASSERT_EQ(BuildContactValueLine(reader, FullCellAt(live), numbering, line), kOk);
  EXPECT_EQ(numbering.liveColumnCount, 24);

  const std::vector<uint8_t> carved = EncodeCarved(row);
  ASSERT_EQ(BuildContactValueLine(reader, CarvedAt(carved), numbering, line), kOk);
  EXPECT_TRUE(line.starts_with("10,\"Anna\",")) << line;
  EXPECT_EQ(numbering.lastRowid, 10u);

  std::vector<Value> bad = row;
  bad[17] = Value::Text("anna\xC0@example.com");
  const std::vector<uint8_t> badCell = EncodeCell(6, bad);
  EXPECT_EQ(BuildContactValueLine(reader, FullCellAt(badCell), numbering, line), kInvalidData);
  EXPECT_TRUE(line.empty());
}

// --- The output file, over a real database. ---

class ValueListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("corvyn-valuelist-" + std::to_string(std::random_device()()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    corvyn::testing::DeletionPlan plan;
    plan.overflowRow = false;
    std::string error;
    // Every message gets a well-formed account guid, so deleted rows qualify.
    database_ = corvyn::testing::BuildDatabase(
        dir_ / "sms.db", {{corvyn::testing::MessageTable(), 60, -1, plan}}, {}, &error,
        [](const corvyn::testing::TableSchema&, int64_t n, std::vector<corvyn::testing::FixtureValue>& row) {
          char guid[40];
          std::snprintf(guid, sizeof guid, "0A1B2C3D-4E5F-6071-8293-%012llX",
                        static_cast<unsigned long long>(n));
          row[13] = std::string(guid);
        });
    ASSERT_NE(database_, nullptr) << error;
    ASSERT_EQ(reader_.Open(dir_ / "sms.db"), kOk);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::vector<std::string> Lines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::vector<std::string> lines;
    const std::string text = all.str();
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find("\r\n", start);
      if (end == std::string::npos) {
        lines.push_back(text.substr(start));  // an unterminated last line
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  std::filesystem::path dir_;
  std::unique_ptr<corvyn::testing::FixtureDatabase> database_;
  SqliteDbReader reader_;
};

TEST_F(ValueListFileTest, EveryLiveRowAndTheRecoveredRowsBecomeLines) {
  const std::filesystem::path csv = dir_ / "sms.csv";
  ASSERT_EQ(WriteMessageValueList(reader_, csv, 1000), kOk);
  const std::vector<std::string> lines = Lines(csv);
  const auto live = database_->Truth().LiveRowIds("message");
  std::size_t liveLines = 0, deletedLines = 0;
  for (const std::string& line : lines) {
    if (line.find("\"27B99F78-F6F0-475F-8BA1-") != std::string::npos) {
      ++deletedLines;
    } else {
      ++liveLines;
    }
  }
  EXPECT_EQ(liveLines, live.size());
  EXPECT_GT(deletedLines, 0u);
  for (const int64_t rowId : live) {
    EXPECT_NE(
        std::find_if(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.starts_with(std::to_string(rowId) + ",\""); }),
        lines.end())
        << rowId;
  }

  // The file is appended to, never truncated.
  SqliteDbReader again;
  ASSERT_EQ(again.Open(dir_ / "sms.db"), kOk);
  ASSERT_EQ(WriteMessageValueList(again, csv, 1000), kOk);
  EXPECT_EQ(Lines(csv).size(), 2 * lines.size());
}

TEST_F(ValueListFileTest, AnOutputThatCannotBeWrittenFailsTheWriter) {
  struct Case {
    const char* name;
    std::filesystem::path path;
    Status status;
  };
  const Case cases[] = {
      {"missing folder", dir_ / "missing" / "sms.csv", Status::System(ENOENT, "")},
      {"a folder", dir_, Status::System(EISDIR, "")},
      {"full device", "/dev/full", Status::System(ENOSPC, "")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.path == "/dev/full" && !std::filesystem::exists(c.path)) continue;
    EXPECT_EQ(WriteMessageValueList(reader_, c.path, 0), c.status);
    // The contact writer fails on opening even when the table has no row.
    if (c.status.systemError() != ENOSPC) {
      EXPECT_EQ(WriteContactValueList(reader_, c.path, 0), c.status);
    }
  }
}

}  // namespace
}  // namespace corvyn::sqlite
