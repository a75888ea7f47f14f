#include "tests/support/sqlite_fixtures/NoteStoreBuilder.h"

#include <zlib.h>

#include <stdexcept>

#include "core/TextFormat.h"
#include "tests/support/sqlite_fixtures/AppDatabase.h"

namespace corvyn::testing {
namespace {

void PutVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

void PutVarintField(std::string& out, uint32_t number, uint64_t value) {
  PutVarint(out, uint64_t{number} << 3);
  PutVarint(out, value);
}

void PutBytesField(std::string& out, uint32_t number, std::string_view bytes) {
  PutVarint(out, (uint64_t{number} << 3) | 2);
  PutVarint(out, bytes.size());
  out.append(bytes);
}

FixtureBlob Blob(std::string_view bytes) {
  return FixtureBlob{std::vector<uint8_t>(bytes.begin(), bytes.end())};
}

// Entity numbers of this store; real stores number them otherwise.
constexpr int64_t kNoteEntity = 21;
constexpr int64_t kFolderEntity = 22;
constexpr int64_t kAccountEntity = 23;
constexpr int64_t kNoteDataEntity = 30;

TableSchema EntityTable() {
  return {
      "Z_PRIMARYKEY",
      {{"Z_ENT", "INTEGER PRIMARY KEY"}, {"Z_NAME", "VARCHAR"}, {"Z_SUPER", "INTEGER"}, {"Z_MAX", "INTEGER"}},
      {}};
}

TableSchema ObjectTable() {
  return {"ZICCLOUDSYNCINGOBJECT",
          {{"Z_PK", "INTEGER PRIMARY KEY"},
           {"Z_ENT", "INTEGER"},
           {"Z_OPT", "INTEGER"},
           {"ZFOLDERTYPE", "INTEGER"},
           {"ZISPINNED", "INTEGER"},
           {"ZMARKEDFORDELETION", "INTEGER"},
           {"ZISPASSWORDPROTECTED", "INTEGER"},
           {"ZACCOUNT4", "INTEGER"},
           {"ZNOTEDATA", "INTEGER"},
           {"ZFOLDER", "INTEGER"},
           {"ZPARENT", "INTEGER"},
           {"ZCREATIONDATE1", "TIMESTAMP"},
           {"ZCREATIONDATE3", "TIMESTAMP"},
           {"ZMODIFICATIONDATE1", "TIMESTAMP"},
           {"ZIDENTIFIER", "VARCHAR"},
           {"ZNAME", "VARCHAR"},
           {"ZSNIPPET", "VARCHAR"},
           {"ZTITLE1", "VARCHAR"},
           {"ZTITLE2", "VARCHAR"},
           {"ZCRYPTOSALT", "BLOB"}},
          {}};
}

TableSchema NoteDataTable() {
  return {"ZICNOTEDATA",
          {{"Z_PK", "INTEGER PRIMARY KEY"},
           {"Z_ENT", "INTEGER"},
           {"Z_OPT", "INTEGER"},
           {"ZNOTE", "INTEGER"},
           {"ZCRYPTOINITIALIZATIONVECTOR", "BLOB"},
           {"ZCRYPTOTAG", "BLOB"},
           {"ZDATA", "BLOB"}},
          {}};
}

}  // namespace

std::string NoteBodyMessage(std::string_view text) {
  std::string note;
  PutVarintField(note, 1, 0);
  PutBytesField(note, 2, text);
  std::string document;
  PutVarintField(document, 1, 0);
  PutVarintField(document, 2, 1);
  PutBytesField(document, 3, note);
  std::string message;
  PutVarintField(message, 1, 0);
  PutBytesField(message, 2, document);
  return message;
}

std::string GzipBytes(std::string_view bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&stream, bytes.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

std::vector<ExpectedNote> BuildNoteStore(const std::filesystem::path& path) {
  AppDatabase db(path);
  db.Create({EntityTable(), ObjectTable(), NoteDataTable()});
  const std::vector<std::pair<int64_t, std::string>> entities = {{kNoteEntity, "ICNote"},
                                                                 {kFolderEntity, "ICFolder"},
                                                                 {kAccountEntity, "ICAccount"},
                                                                 {kNoteDataEntity, "ICNoteData"}};
  for (const auto& [number, name] : entities)
    db.Insert("Z_PRIMARYKEY", NamedValues{{"Z_NAME", name}, {"Z_SUPER", int64_t{0}}}, number);

  db.Insert("ZICCLOUDSYNCINGOBJECT", NamedValues{{"Z_ENT", kAccountEntity}, {"ZNAME", std::string("iCloud")}},
            1);
  const auto folder = [&](int64_t key, const std::string& name, int64_t type) {
    db.Insert("ZICCLOUDSYNCINGOBJECT",
              NamedValues{{"Z_ENT", kFolderEntity}, {"ZTITLE2", name}, {"ZFOLDERTYPE", type}}, key);
  };
  folder(2, "Notes", 0);
  folder(3, "Recently Deleted", 1);
  folder(4, "Private", 0);

  std::vector<ExpectedNote> expected;
  // created and modified are Core Data seconds; whole numbers are stored as
  // integers, as Core Data's TIMESTAMP affinity does.
  const auto note = [&](int64_t key, const std::string& title, int64_t folderKey, const FixtureValue& created,
                        const FixtureValue& modified, int64_t locked, int64_t marked,
                        const std::string& data) {
    db.Insert("ZICCLOUDSYNCINGOBJECT",
              NamedValues{{"Z_ENT", kNoteEntity},
                          {"ZTITLE1", title.empty() ? FixtureValue(nullptr) : FixtureValue(title)},
                          {"ZFOLDER", folderKey},
                          {"ZACCOUNT4", int64_t{1}},
                          {"ZNOTEDATA", key + 100},
                          {"ZCREATIONDATE3", created},
                          {"ZMODIFICATIONDATE1", modified},
                          {"ZISPASSWORDPROTECTED", locked},
                          {"ZMARKEDFORDELETION", marked}},
              key);
    db.Insert("ZICNOTEDATA", NamedValues{{"Z_ENT", kNoteDataEntity}, {"ZNOTE", key}, {"ZDATA", Blob(data)}},
              key + 100);
  };
  const auto packed = [](std::string_view text) { return GzipBytes(NoteBodyMessage(text)); };

  const std::string groceries = "Groceries\nMilk, eggs\nand bread \xE2\x9C\x93";
  note(10, "Groceries", 2, 700000000.25, int64_t{700000100}, 0, 0, packed(groceries));
  expected.push_back(
      {"Groceries", "Notes", groceries, 0, 0, DateTextFromCocoa(700000100), DateTextFromCocoa(700000000)});

  // Deleted with both its rows, which lie between live ones: only their
  // bytes remain, in freeblocks.
  const std::string secret = "Secret meeting\nAt noon by the old mill, bring the map";
  note(14, "Secret meeting", 2, int64_t{690000000}, int64_t{690000900}, 0, 0, packed(secret));
  const ExpectedNote secretNote{
      "Secret meeting", "Notes", secret, 1, 0, DateTextFromCocoa(690000900), DateTextFromCocoa(690000000)};

  // A locked body is ciphertext: neither gzip nor text.
  note(11, "Diary", 4, int64_t{600000000}, int64_t{600000500}, 1, 0,
       std::string("\x9a\x11\x00\x42\xfe\x07", 6));
  expected.push_back(
      {"Diary", "Private", "", 0, 1, DateTextFromCocoa(600000500), DateTextFromCocoa(600000000)});

  const std::string oldPlan = "Old plan\nMove the piano";
  note(12, "Old plan", 3, int64_t{650000000}, int64_t{650000300}, 0, 1, packed(oldPlan));
  expected.push_back({"Old plan", "Recently Deleted", oldPlan, 1, 0, DateTextFromCocoa(650000300),
                      DateTextFromCocoa(650000000)});

  // Marked for deletion outside the trash, without a title: the first line names it.
  const std::string untitled = "\n  Call the plumber\nTuesday";
  note(13, "", 2, int64_t{660000000}, int64_t{660000000}, 0, 1, packed(untitled));
  expected.push_back({"Call the plumber", "Notes", untitled, 1, 0, DateTextFromCocoa(660000000),
                      DateTextFromCocoa(660000000)});

  db.Delete("ZICCLOUDSYNCINGOBJECT", 14);
  db.Delete("ZICNOTEDATA", 114);
  expected.push_back(secretNote);
  db.Close();
  return expected;
}

}  // namespace corvyn::testing
