// The table scans over today's database layouts (Messages of iOS 16 and 17,
// the 21-column call log, the Notes store, the address book, WhatsApp's
// store) with ground truth, each table at two sizes with rows deleted at
// random, in runs and as whole pages (secure delete off): each live row is
// found live, at least a floor of the deleted rows still present in the file
// comes back, strays and live rows reported as deleted stay under their
// ceilings. A deleted row counts as present when every text and blob value
// it holds is still in the file's bytes. Tables with a scan of their own use
// it (message, chat); the others go through the generic carver. Prints
// "recall <table>: recovered/present ..." per table and the present rows
// that were missed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "decoders/CallRecordTable.h"
#include "decoders/ModernWhatsApp.h"
#include "decoders/TypedStream.h"
#include "sqlite/GenericCarve.h"
#include "sqlite/MessageScans.h"
#include "tests/support/sqlite_fixtures/ModernAppBuilders.h"
#include "tests/support/sqlite_fixtures/ModernSmsDb.h"
#include "tests/support/sqlite_fixtures/NoteStoreBuilder.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::sqlite {
namespace {

namespace fx = corvyn::testing;

struct Found {
  int32_t deleted = 0;
  std::string key;
};

// What a scan gives: items with their key, and (for the carver, which
// reports live rows only by number) the count of live rows.
struct ScanResult {
  std::vector<Found> found;
  std::size_t liveCount = 0;
  bool liveByKey = true;
};

using Scanner = std::function<Status(SqliteDbReader&, const std::string&, ScanResult&)>;
using KeyOf = std::function<std::string(const fx::FixtureRow&)>;
using Customize = std::function<void(const fx::TableSchema&, int64_t, std::vector<fx::FixtureValue>&)>;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bytes of a text or blob value; nothing for the other kinds.
std::optional<std::string> BytesOf(const fx::FixtureValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* blob = std::get_if<fx::FixtureBlob>(&value))
    return std::string(blob->bytes.begin(), blob->bytes.end());
  return std::nullopt;
}

// A row identified by all its text and blob values in column order (the
// carver gives no other handle on a deleted row whose rowid was lost).
std::string ValuesKey(const fx::FixtureRow& row) {
  std::string key;
  for (const fx::FixtureValue& value : row.values)
    if (const auto bytes = BytesOf(value); bytes && !bytes->empty()) key += *bytes + '\x1f';
  return key;
}

// A key for a failure line: printable bytes as they are, others as \xNN,
// cut after 80 bytes.
std::string Shown(const std::string& key) {
  std::string shown;
  for (std::size_t i = 0; i < key.size() && i < 80; ++i) {
    const unsigned char c = static_cast<unsigned char>(key[i]);
    if (c >= 0x20 && c < 0x7f) {
      shown += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      shown += hex;
    }
  }
  return shown + (key.size() > 80 ? "... (" + std::to_string(key.size()) + " bytes)" : "");
}

Scanner Carving() {
  return [](SqliteDbReader& reader, const std::string& table, ScanResult& out) {
    CarveResult result;
    const Status status = CarveDeletedRows(reader, table, result);
    out.liveByKey = false;
    for (const CarvedTable& carved : result.tables) {
      if (carved.name != table) continue;
      out.liveCount += carved.liveRows;
      for (const CarvedRow& row : carved.deleted) {
        std::string key;
        for (const CarvedValue& value : row.values)
          if ((value.kind == CarvedValueKind::kText || value.kind == CarvedValueKind::kBlob) &&
              !value.bytes.empty())
            key += value.bytes + '\x1f';
        out.found.push_back({1, key});
      }
    }
    return status;
  };
}

Scanner ScanningMessages() {
  return [](SqliteDbReader& reader, const std::string&, ScanResult& out) {
    std::vector<MessageRecord> rows;
    uint64_t highest = 0;
    const Status status = ScanModernMessages(reader, &decoders::TypedStreamText, rows, highest);
    for (const MessageRecord& m : rows) out.found.push_back({m.deleted, m.text});
    return status;
  };
}

Scanner ScanningCalls() {
  return [](SqliteDbReader& reader, const std::string&, ScanResult& out) {
    std::vector<CallRecord> rows;
    const Status status = decoders::ScanNamedCallRecords(reader, rows);
    for (const CallRecord& c : rows) out.found.push_back({c.deleted, c.number});
    return status;
  };
}

Scanner ScanningWhatsApp(bool chats) {
  return [chats](SqliteDbReader& reader, const std::string&, ScanResult& out) {
    std::vector<WhatsAppRecord> messages;
    std::vector<WhatsAppChatRow> sessions;
    std::vector<WhatsAppMemberRow> members;
    const Status status = decoders::ScanNamedWhatsApp(reader, messages, sessions, members);
    if (chats) {
      for (const WhatsAppChatRow& c : sessions) out.found.push_back({c.deleted, c.partnerName});
    } else {
      for (const WhatsAppRecord& m : messages) out.found.push_back({m.deleted, m.text});
    }
    return status;
  };
}

KeyOf TextNamed(const fx::TableSchema& schema, const std::string& column) {
  const int index = schema.ColumnIndex(column);
  return [index](const fx::FixtureRow& row) {
    const auto* text = std::get_if<std::string>(&row.values.at(static_cast<std::size_t>(index)));
    return text != nullptr ? *text : std::string();
  };
}

// Text columns other than `kept` become NULL, as most are on a phone.
Customize KeepingText(std::set<std::string> kept) {
  return [kept](const fx::TableSchema& schema, int64_t, std::vector<fx::FixtureValue>& row) {
    for (std::size_t i = 0; i < row.size(); ++i)
      if (std::holds_alternative<std::string>(row[i]) && !kept.count(schema.columns[i].name))
        row[i] = nullptr;
  };
}

// The schemas, read from the files the layout builders write.
struct Schemas {
  std::map<std::string, fx::TableSchema> tables;
  explicit Schemas(const std::filesystem::path& dir) {
    fx::ModernSmsTruth sms;
    fx::BuildModernSmsDb(dir / "sms.db", sms);
    fx::BuildModernCallHistory(dir / "calls.db", 21);
    fx::BuildNoteStore(dir / "notes.db");
    fx::BuildModernAddressBook(dir / "ab.db");
    fx::BuildModernChatStorage(dir / "wa.db");
    for (const char* t : {"message", "chat", "handle", "attachment"}) Take(dir / "sms.db", t);
    Take(dir / "calls.db", "ZCALLRECORD");
    Take(dir / "notes.db", "ZICCLOUDSYNCINGOBJECT");
    Take(dir / "notes.db", "ZICNOTEDATA");
    Take(dir / "ab.db", "ABPerson");
    Take(dir / "ab.db", "ABMultiValue");
    Take(dir / "wa.db", "ZWAMESSAGE");
    Take(dir / "wa.db", "ZWACHATSESSION");
  }
  void Take(const std::filesystem::path& file, const std::string& table) {
    tables[table] = fx::TableSchemaOf(file, table);
  }
};

struct Bounds {
  std::size_t minimumRecovered;          // deleted rows still present in the file that must come back
  std::size_t maximumStray;              // items that are no row of the table
  std::size_t maximumLiveAsDeleted = 0;  // live rows reported a second time, as deleted
};

struct TableCase {
  std::string table;
  std::string scanName;  // which scan reads it
  std::size_t columns;   // the layout's declared column count
  Scanner scan;
  // Set up per build (the message texts a row's key needs).
  std::function<std::pair<Customize, KeyOf>(const fx::TableSchema&)> prepare;
  Bounds small;  // 200 rows
  Bounds large;  // 500 rows
};

std::pair<Customize, KeyOf> ByValues(Customize customize = nullptr) {
  return {std::move(customize), &ValuesKey};
}

std::vector<TableCase> Cases() {
  const auto message = [](const fx::TableSchema& schema) -> std::pair<Customize, KeyOf> {
    // Every second message keeps its text only in attributedBody.
    auto texts = std::make_shared<std::map<int64_t, std::string>>();
    const Customize keep =
        KeepingText({"guid", "text", "service", "account", "account_guid", "destination_caller_id"});
    const int textColumn = schema.ColumnIndex("text");
    const int bodyColumn = schema.ColumnIndex("attributedBody");
    Customize customize = [=](const fx::TableSchema& t, int64_t n, std::vector<fx::FixtureValue>& row) {
      keep(t, n, row);
      const std::string text = std::get<std::string>(row.at(static_cast<std::size_t>(textColumn)));
      (*texts)[n] = text;
      const std::vector<uint8_t> body = fx::AttributedBodyBytes(text);
      row.at(static_cast<std::size_t>(bodyColumn)) = fx::FixtureBlob{body};
      if (n % 2 == 0) row.at(static_cast<std::size_t>(textColumn)) = nullptr;
    };
    KeyOf key = [texts](const fx::FixtureRow& row) { return texts->at(row.rowId); };
    return {customize, key};
  };
  const auto noteData = [](const fx::TableSchema& schema) {
    const int data = schema.ColumnIndex("ZDATA");
    return ByValues([data](const fx::TableSchema&, int64_t n, std::vector<fx::FixtureValue>& row) {
      const std::string packed = fx::GzipBytes(fx::NoteBodyMessage(
          "Shopping list " + std::to_string(n) + ": milk, bread, two lemons and the paper on the way home"));
      row.at(static_cast<std::size_t>(data)) =
          fx::FixtureBlob{std::vector<uint8_t>(packed.begin(), packed.end())};
    });
  };
  const auto keeping = [](std::set<std::string> kept) {
    return [kept](const fx::TableSchema&) { return ByValues(KeepingText(kept)); };
  };
  const auto all = [](const fx::TableSchema&) { return ByValues(); };
  // Floors are the present rows recovered when they were set. chat goes
  // through the carver: the Messages scan takes only chat rows whose rowid is
  // known (a conversation names its chat by rowid), so its own scan is no
  // measure of what is in the file. A message whose receiver is its sender holds
  // that text twice; when a later cell overwrote the second copy the row is
  // not present, though its text still is (the WhatsApp scan, keyed by the
  // message text alone, still brings two or three such rows back).
  return {
      {"message", "own scan", 82, ScanningMessages(), message, {38, 0}, {105, 0}},
      {"chat",
       "carver",
       16,
       Carving(),
       keeping({"guid", "chat_identifier", "service_name", "account_login", "display_name"}),
       {41, 0},
       {97, 0}},
      {"handle", "carver", 6, Carving(), all, {41, 0}, {103, 0}},
      {"attachment",
       "carver",
       12,
       Carving(),
       keeping({"guid", "filename", "uti", "mime_type", "transfer_name"}),
       {26, 0},
       {93, 0}},
      {"ZCALLRECORD", "carver", 21, Carving(), all, {49, 0}, {115, 0}},
      {"ZICCLOUDSYNCINGOBJECT", "carver", 20, Carving(), all, {43, 0}, {106, 0}},
      {"ZICNOTEDATA", "carver", 7, Carving(), noteData, {41, 0}, {102, 0}},
      {"ABPerson",
       "carver",
       51,
       Carving(),
       keeping({"First", "Last", "Organization", "Note", "guid", "DisplayName"}),
       {31, 0},
       {97, 0}},
      {"ABMultiValue", "carver", 7, Carving(), all, {23, 0}, {83, 0}},
      {"ZWAMESSAGE",
       "carver",
       34,
       Carving(),
       keeping({"ZFROMJID", "ZSTANZAID", "ZTEXT", "ZTOJID", "ZPUSHNAME"}),
       {36, 0},
       {106, 0}},
      {"ZWACHATSESSION",
       "carver",
       25,
       Carving(),
       keeping({"ZCONTACTJID", "ZLASTMESSAGETEXT", "ZPARTNERNAME"}),
       {32, 0},
       {100, 0}},
      {"ZCALLRECORD",
       "call log scan",
       21,
       ScanningCalls(),
       [](const fx::TableSchema& schema) {
         return std::pair<Customize, KeyOf>{nullptr, TextNamed(schema, "ZADDRESS")};
       },
       {46, 0},
       {96, 0}},
      {"ZWAMESSAGE",
       "WhatsApp scan",
       34,
       ScanningWhatsApp(false),
       [](const fx::TableSchema& schema) {
         return std::pair<Customize, KeyOf>{
             KeepingText({"ZFROMJID", "ZSTANZAID", "ZTEXT", "ZTOJID", "ZPUSHNAME"}),
             TextNamed(schema, "ZTEXT")};
       },
       {43, 0},
       {98, 0}},
      {"ZWACHATSESSION",
       "WhatsApp scan",
       25,
       ScanningWhatsApp(true),
       [](const fx::TableSchema& schema) {
         return std::pair<Customize, KeyOf>{KeepingText({"ZCONTACTJID", "ZLASTMESSAGETEXT", "ZPARTNERNAME"}),
                                            TextNamed(schema, "ZPARTNERNAME")};
       },
       {42, 0},
       {105, 0}},
  };
}

constexpr int kSizes[] = {200, 500};

class ModernTableScanFixtureTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ModernTableScanFixtureTest, FindsEveryLiveRowAndRecoversDeletedRows) {
  const std::vector<TableCase> cases = Cases();
  const TableCase& c = cases.at(GetParam() / 2);
  const int size = kSizes[GetParam() % 2];
  const Bounds bounds = GetParam() % 2 == 0 ? c.small : c.large;
  const std::string name = c.table + " (" + c.scanName + ", " + std::to_string(size) + " rows)";
  SCOPED_TRACE(name);
  const fx::TempFolder folder("modern-" + std::to_string(GetParam()));
  const std::filesystem::path& dir = folder.Path();
  const Schemas schemas(dir);
  const fx::TableSchema& schema = schemas.tables.at(c.table);
  ASSERT_EQ(schema.columns.size(), c.columns);
  const auto [customize, key] = c.prepare(schema);
  std::string error;
  const std::unique_ptr<fx::FixtureDatabase> database = fx::BuildTableWithDeletions(
      dir / "fixture.db", schema, size, static_cast<uint32_t>(GetParam() + 1), &error, customize);
  ASSERT_NE(database, nullptr) << error;
  const fx::GroundTruth& truth = database->Truth();
  ASSERT_TRUE(truth.deleted.count(c.table)) << "the fixture deleted nothing";

  SqliteDbReader reader;
  ASSERT_EQ(reader.Open(database->Path()), kOk);
  ScanResult scanned;
  ASSERT_EQ(c.scan(reader, c.table, scanned), kOk);

  std::set<std::string> liveKeys, deletedKeys;
  std::size_t liveItems = 0;
  for (const Found& f : scanned.found) {
    (f.deleted ? deletedKeys : liveKeys).insert(f.key);
    liveItems += f.deleted == 0;
  }

  const auto& liveRows = truth.live.at(c.table);
  std::set<std::string> truthKeys, liveTruthKeys;
  for (const auto& [rowId, row] : liveRows) {
    truthKeys.insert(key(row));
    liveTruthKeys.insert(key(row));
    if (scanned.liveByKey) {
      EXPECT_TRUE(liveKeys.count(key(row))) << "live row " << rowId << " not found";
    }
  }
  const std::size_t liveFound = scanned.liveByKey ? liveItems : scanned.liveCount;
  EXPECT_EQ(liveFound, liveRows.size());

  const std::string fileBytes = ReadFile(database->Path());
  // Every text and blob value is in the file, a value the row holds twice
  // (a sender that is also the receiver) twice: a record whose last value a
  // later cell overwrote is not present because its first copy survived.
  const auto present = [&](const fx::FixtureRow& row) {
    std::map<std::string, std::size_t> wanted;
    for (const fx::FixtureValue& value : row.values)
      if (const auto bytes = BytesOf(value); bytes && !bytes->empty()) ++wanted[*bytes];
    for (const auto& [bytes, count] : wanted) {
      std::size_t seen = 0;
      for (std::size_t at = fileBytes.find(bytes); at != std::string::npos && seen < count;
           at = fileBytes.find(bytes, at + bytes.size()))
        ++seen;
      if (seen < count) return false;
    }
    return !wanted.empty();
  };
  std::size_t deletedCount = 0, presentCount = 0, recovered = 0, recoveredPresent = 0;
  std::vector<std::string> missed;
  for (const auto& [rowId, row] : truth.deleted.at(c.table)) {
    const std::string k = key(row);
    truthKeys.insert(k);
    ++deletedCount;
    const bool isPresent = present(row);
    const bool back = deletedKeys.count(k) > 0;
    presentCount += isPresent;
    recovered += back;
    recoveredPresent += isPresent && back;
    if (isPresent && !back) {
      // Where its first value lies: page number and offset in the page.
      const auto first = std::find_if(row.values.begin(), row.values.end(), [](const fx::FixtureValue& v) {
        const auto bytes = BytesOf(v);
        return bytes && !bytes->empty();
      });
      const std::size_t at = fileBytes.find(*BytesOf(*first));
      missed.push_back(std::to_string(rowId) + "@" + std::to_string(at / 4096 + 1) + "+" +
                       std::to_string(at % 4096));
    }
  }
  std::size_t stray = 0;
  for (const Found& f : scanned.found) {
    if (truthKeys.count(f.key)) continue;
    ++stray;
    std::printf("  stray (%s): %s\n", f.deleted ? "deleted" : "live", Shown(f.key).c_str());
  }
  std::size_t liveAsDeleted = 0;
  for (const std::string& k : deletedKeys) {
    if (!liveTruthKeys.count(k)) continue;
    ++liveAsDeleted;
    std::printf("  live row reported as deleted: %s\n", Shown(k).c_str());
  }
  const double share =
      presentCount == 0 ? 1.0 : static_cast<double>(recoveredPresent) / static_cast<double>(presentCount);
  std::printf(
      "recall %s: %zu/%zu deleted rows still present in the file recovered (%.1f%%%s); %zu/%zu deleted in "
      "all; live %zu/%zu; stray %zu; live as deleted %zu\n",
      name.c_str(), recoveredPresent, presentCount, 100.0 * share, share >= 0.95 ? "" : ", below 95%",
      recovered, deletedCount, liveFound, liveRows.size(), stray, liveAsDeleted);
  if (!missed.empty()) {
    std::string list;
    for (const std::string& id : missed) list += " " + id;
    std::printf("  missed present rows (rowid@page+offset of its first value):%s\n", list.c_str());
  }
  EXPECT_GE(recoveredPresent, bounds.minimumRecovered);
  EXPECT_LE(stray, bounds.maximumStray);
  EXPECT_LE(liveAsDeleted, bounds.maximumLiveAsDeleted);
  if (!std::getenv("CORVYN_KEEP_FIXTURES")) std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(TodaysTables, ModernTableScanFixtureTest,
                         ::testing::Range<std::size_t>(0, 2 * Cases().size()));

}  // namespace
}  // namespace corvyn::sqlite
