// The Notes store of iOS 9 and later: the protocol buffer and gzip readers
// under the note bodies, a builder-made store with known notes (locked,
// in the trash, marked for deletion, deleted and carved), stores whose schema
// is not the one expected, and the two real stores checked against SQL run
// on copies.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/TextFormat.h"
#include "decoders/Decoders.h"
#include "decoders/GzipReader.h"
#include "decoders/NoteStoreBody.h"
#include "decoders/ProtobufWire.h"
#include "tests/decoders/SampleFiles.h"
#include "tests/decoders/SqlOnCopy.h"
#include "tests/support/sqlite_fixtures/AppDatabase.h"
#include "tests/support/sqlite_fixtures/NoteStoreBuilder.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::decoders {
namespace {

namespace fs = std::filesystem;
using testing::GzipBytes;
using testing::NoteBodyMessage;
using testing::TempFolder;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int value : values) out.push_back(static_cast<char>(value));
  return out;
}

TEST(ProtobufWire, WalksFieldsOfEveryWireType) {
  // 1: varint 150; 2: "hi"; 3: fixed32; 4: fixed64.
  const std::string message =
      Bytes({0x08, 0x96, 0x01, 0x12, 0x02, 'h', 'i', 0x1D, 1, 0, 0, 0, 0x21, 2, 0, 0, 0, 0, 0, 0, 0});
  protobuf::WireReader reader(message);
  protobuf::Field field;
  ASSERT_TRUE(reader.Next(field));
  EXPECT_EQ(field.number, 1u);
  EXPECT_EQ(field.value, 150u);
  ASSERT_TRUE(reader.Next(field));
  EXPECT_EQ(field.type, protobuf::WireType::kLengthDelimited);
  EXPECT_EQ(field.bytes, "hi");
  ASSERT_TRUE(reader.Next(field));
  EXPECT_EQ(field.value, 1u);
  ASSERT_TRUE(reader.Next(field));
  EXPECT_EQ(field.value, 2u);
  EXPECT_FALSE(reader.Next(field));
  EXPECT_FALSE(reader.Failed());
}

TEST(ProtobufWire, StopsAtBrokenBytesWithoutReadingPastThem) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"length past the end", Bytes({0x12, 0x05, 'a', 'b'})},
      {"huge length", Bytes({0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
      {"varint of 11 bytes", Bytes({0x08, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01})},
      {"varint cut short", Bytes({0x08, 0x80})},
      {"field number 0", Bytes({0x02, 0x00})},
      {"group start", Bytes({0x0B})},
      {"wire type 7", Bytes({0x0F})},
      {"fixed64 cut short", Bytes({0x09, 1, 2, 3})},
  };
  for (const auto& c : cases) {
    protobuf::WireReader reader(c.bytes);
    protobuf::Field field;
    while (reader.Next(field)) {
    }
    EXPECT_TRUE(reader.Failed()) << c.what;
    EXPECT_FALSE(protobuf::FindBytes(c.bytes, {2}).has_value()) << c.what;
  }
}

TEST(ProtobufWire, FindsNestedBytesAndSkipsOtherFields) {
  const std::string message = NoteBodyMessage("Hello\nworld");
  EXPECT_EQ(protobuf::FindBytes(message, {2, 3, 2}), std::optional<std::string_view>("Hello\nworld"));
  EXPECT_FALSE(protobuf::FindBytes(message, {2, 4}).has_value());
  EXPECT_FALSE(protobuf::FindBytes(message, {1}).has_value());  // a varint, not bytes
}

TEST(GzipReader, UnpacksAndRefusesDamagedOrOversizedStreams) {
  const std::string text(5000, 'n');
  const std::string packed = GzipBytes(text);
  std::string out;
  ASSERT_EQ(Gunzip(packed, out), kOk);
  EXPECT_EQ(out, text);

  std::string damaged = packed;
  damaged[damaged.size() / 2] ^= 0x55;
  damaged[damaged.size() - 6] ^= 0x55;  // the CRC as well, whichever part the flip breaks
  const struct {
    const char* what;
    std::string bytes;
    std::size_t limit;
  } refused[] = {
      {"cut short", packed.substr(0, packed.size() - 9), kMaxGunzippedSize},
      {"damaged", damaged, kMaxGunzippedSize},
      {"not gzip", "plain text", kMaxGunzippedSize},
      {"over the limit", packed, 4999},
  };
  for (const auto& c : refused) {
    const Status status = Gunzip(c.bytes, out, c.limit);
    EXPECT_EQ(status, kInvalidData) << c.what;
    EXPECT_FALSE(status.Message().empty()) << c.what;
    EXPECT_TRUE(out.empty()) << c.what;
  }
}

TEST(NoteStoreBody, TellsTextEncryptedAndUnreadableBodiesApart) {
  std::string noteWithoutText;  // store > document > note with only field 1
  {
    const std::string note = Bytes({0x08, 0x00});
    std::string document = Bytes({0x1A, static_cast<int>(note.size())}) + note;
    noteWithoutText = Bytes({0x12, static_cast<int>(document.size())}) + document;
  }
  const struct {
    const char* what;
    std::string data;
    NoteBodyKind kind;
    std::string text;
  } cases[] = {
      {"text", GzipBytes(NoteBodyMessage("Shopping\nmilk \xC3\xA9")), NoteBodyKind::kText,
       "Shopping\nmilk \xC3\xA9"},
      {"emptied note", GzipBytes(noteWithoutText), NoteBodyKind::kText, ""},
      {"invalid UTF-8 repaired", GzipBytes(NoteBodyMessage("a\xFF")), NoteBodyKind::kText, "a\xEF\xBF\xBD"},
      {"no bytes", "", NoteBodyKind::kNone, ""},
      {"ciphertext", Bytes({0x62, 0x70, 0x6C, 0x69, 0x73, 0x74}), NoteBodyKind::kEncrypted, ""},
      {"gzip of another message", GzipBytes(Bytes({0x08, 0x01})), NoteBodyKind::kUnreadable, ""},
      {"damaged gzip", GzipBytes(NoteBodyMessage("x")).substr(0, 12), NoteBodyKind::kUnreadable, ""},
  };
  for (const auto& c : cases) {
    const NoteBody body = ReadNoteBody(c.data);
    EXPECT_EQ(body.kind, c.kind) << c.what;
    EXPECT_EQ(body.text, c.text) << c.what;
  }
}

std::string Describe(const NoteRecord& note) {
  return "[" + note.title + "|" + note.folder + "|deleted " + std::to_string(note.deleted) + "|locked " +
         std::to_string(note.locked) + "|" + note.date + "|" + note.created + "|" + note.content + "]";
}

TEST(NoteStore, BuiltStoreGivesEveryNoteWithFolderLockAndDeletion) {
  TempFolder folder;
  const fs::path path = folder / "NoteStore.sqlite";
  const std::vector<testing::ExpectedNote> expected = testing::BuildNoteStore(path);
  std::vector<NoteRecord> notes;
  ASSERT_EQ(DecodeNotes(notes, path), kOk);

  std::vector<std::string> want;
  for (const auto& note : expected) {
    NoteRecord record;
    record.title = note.title;
    record.folder = note.folder;
    record.content = note.content;
    record.deleted = note.deleted;
    record.locked = note.locked;
    record.date = note.date;
    record.created = note.created;
    want.push_back(Describe(record));
  }
  std::vector<std::string> got;
  for (const auto& note : notes) got.push_back(Describe(note));
  EXPECT_EQ(got, want);
}

TEST(NoteStore, UnknownSchemaIsAnErrorInWords) {
  const struct {
    const char* what;
    std::vector<std::string> sql;
    const char* named;
  } cases[] = {
      {"no note tables", {"CREATE TABLE ZOTHER (Z_PK INTEGER PRIMARY KEY, ZTEXT VARCHAR)"}, "note"},
      {"no title column",
       {"CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX "
        "INTEGER)",
        "INSERT INTO Z_PRIMARYKEY VALUES (11, 'ICNote', 0, 0)",
        "CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZNOTEDATA INTEGER)",
        "CREATE TABLE ZICNOTEDATA (Z_PK INTEGER PRIMARY KEY, ZNOTE INTEGER, ZDATA BLOB)"},
       "ZTITLE1"},
      {"no entity table",
       {"CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZTITLE1 VARCHAR)"},
       "Z_PRIMARYKEY"},
      {"no note entity",
       {"CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, Z_SUPER INTEGER, Z_MAX "
        "INTEGER)",
        "INSERT INTO Z_PRIMARYKEY VALUES (3, 'ICFolder', 0, 0)",
        "CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, ZTITLE1 VARCHAR)"},
       "ICNote"},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    const fs::path path = folder / "notes.db";
    {
      testing::AppDatabase db(path);
      for (const auto& statement : c.sql) db.Exec(statement);
    }
    std::vector<NoteRecord> notes;
    const Status status = DecodeNotes(notes, path);
    EXPECT_EQ(status, kInvalidData) << c.what;
    EXPECT_NE(status.Message().find(c.named), std::string::npos) << c.what << ": " << status.Message();
    EXPECT_TRUE(notes.empty()) << c.what;
  }
}

// --- Real stores ---------------------------------------------------------------

// Copies only the main file: the SQL below and the reader then see the same
// state (the write-ahead log beside a device's store is another reader's part).
fs::path CopyMainFile(const fs::path& sample, const fs::path& folder) {
  const fs::path copy = folder / "NoteStore.sqlite";
  fs::copy_file(sample, copy);
  fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
  return copy;
}

void Query(const fs::path& copy, const std::string& sql,
           const std::function<void(const std::vector<std::string>&)>& row) {
  testing::QueryCopy(copy, sql, row, testing::CopyOpen::kImmutable);
}

std::string CocoaDate(const std::string& stored) {
  return stored.empty() ? std::string() : DateTextFromCocoa(static_cast<int64_t>(std::stod(stored)));
}

std::string OneSpaced(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool space = c == ' ' || c == '\n' || c == '\t';
    if (!space)
      out.push_back(c);
    else if (!out.empty() && out.back() != ' ')
      out.push_back(' ');
  }
  return out;
}

struct RealCounts {
  std::size_t notes, locked, withText, deleted;
};

void ExpectStoreMatchesSql(const fs::path& relative, const RealCounts& counts) {
  const fs::path root = testing::ExternalTestData();
  if (root.empty() || !fs::exists(root / relative))
    GTEST_SKIP() << "external test data not found at " << (root / relative);
  TempFolder folder;
  const fs::path copy = CopyMainFile(root / relative, folder.Path());
  std::vector<NoteRecord> notes;
  ASSERT_EQ(DecodeNotes(notes, copy), kOk);
  std::map<int32_t, const NoteRecord*> live;
  for (const auto& note : notes) {
    if (note.noteId != 0 && !live.emplace(note.noteId, &note).second)
      ADD_FAILURE() << "twice: " << note.noteId;
  }

  std::size_t rows = 0, locked = 0, withText = 0, deleted = 0;
  Query(copy,
        "SELECT n.Z_PK, n.ZTITLE1, f.ZTITLE2, n.ZISPASSWORDPROTECTED, "
        "       n.ZMARKEDFORDELETION OR f.ZFOLDERTYPE = 1, n.ZMODIFICATIONDATE1, "
        "       coalesce(n.ZCREATIONDATE3, n.ZCREATIONDATE1), n.ZSNIPPET "
        "FROM ZICCLOUDSYNCINGOBJECT n LEFT JOIN ZICCLOUDSYNCINGOBJECT f ON f.Z_PK = n.ZFOLDER "
        "WHERE n.Z_ENT = (SELECT Z_ENT FROM Z_PRIMARYKEY WHERE Z_NAME = 'ICNote')",
        [&](const std::vector<std::string>& v) {
          ++rows;
          const auto found = live.find(std::stoi(v[0]));
          ASSERT_NE(found, live.end()) << "note " << v[0];
          const NoteRecord& note = *found->second;
          SCOPED_TRACE("note " + v[0] + " " + v[1]);
          if (!v[1].empty()) {
            EXPECT_EQ(note.title, v[1]);
          }
          EXPECT_EQ(note.folder, v[2]);
          EXPECT_EQ(note.locked, v[3] == "1" ? 1 : 0);
          EXPECT_EQ(note.deleted, v[4] == "1" ? 1 : 0);
          EXPECT_EQ(note.date, CocoaDate(v[5]));
          EXPECT_EQ(note.created, CocoaDate(v[6]));
          if (note.locked != 0) {
            EXPECT_TRUE(note.content.empty());
          }
          // The snippet is the text after the title's line, each run of spaces and line breaks one space.
          if (!v[7].empty()) {
            EXPECT_NE(OneSpaced(note.content).find(OneSpaced(v[7])), std::string::npos)
                << "snippet '" << v[7] << "' in '" << note.content << "'";
          }
          locked += note.locked;
          withText += note.content.empty() ? 0 : 1;
          deleted += note.deleted;
        });
  EXPECT_EQ(rows, counts.notes);
  EXPECT_EQ(live.size(), counts.notes);
  EXPECT_EQ(locked, counts.locked);
  EXPECT_EQ(withText, counts.withText);
  EXPECT_EQ(deleted, counts.deleted);
}

TEST(NoteStoreRealData, IOS17StoreMatchesSql) {
  // 14 notes: 6 locked (newer wrapped keys), 2 in "Recently Deleted" (one
  // without a body, one emptied), 6 with text.
  ExpectStoreMatchesSql(
      "abrignoni__iLEAPP/admin/test/cases/data/notes/testdata.notes.notes.josh_ios17_ffs/"
      "filesystem1/private/var/mobile/Containers/Shared/AppGroup/"
      "72DA7FCC-4DD6-458D-A328-D7CD7ED267D2/NoteStore.sqlite",
      {14, 6, 6, 2});
}

TEST(NoteStoreRealData, IOS15ModelStoreMatchesSql) {
  // 8 notes: 4 locked (AES-GCM ciphertext), 1 marked for deletion (its text
  // emptied, only the edit history left in the body), 3 with text.
  ExpectStoreMatchesSql("log2timeline__plaso/test_data/ios/NoteStore.sqlite", {8, 4, 3, 1});
}

}  // namespace
}  // namespace corvyn::decoders
