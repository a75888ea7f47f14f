#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "decoders/FirstFailure.h"
#include "decoders/NoteStore.h"
#include "decoders/NoteStoreBody.h"
#include "sqlite/CreateTableParser.h"
#include "sqlite/RecordDecodersCommon.h"
#include "sqlite/RecordParser.h"
#include "sqlite/TableProfile.h"

namespace corvyn::decoders {
namespace {

using sqlite::ColumnValue;
using sqlite::ParsedRecord;
using sqlite::RecordLocation;
using sqlite::SqliteDbReader;

constexpr std::string_view kObjectTable = "ZICCLOUDSYNCINGOBJECT";
constexpr std::string_view kNoteDataTable = "ZICNOTEDATA";
constexpr std::string_view kEntityTable = "Z_PRIMARYKEY";

// Core Data seconds of 2100-01-01: later values (and negative ones) are no
// date a note row holds.
constexpr double kLatestCocoaSeconds = 3'155'760'000.0;

// A table's declared columns, looked up by name.
struct Schema {
  uint32_t columnCount = 0;
  sqlite::TableProfile names;  // only declaredColumns is used

  std::optional<uint32_t> operator[](std::string_view name) const { return names.DeclaredIndex(name); }
};

std::optional<Schema> ReadSchema(const SqliteDbReader& reader, std::string_view table) {
  std::string sql;
  Schema schema;
  if (reader.FindTableSql(table, sql) != kOk || sql.empty() ||
      !sqlite::ParseCreateTableColumns(sql, schema.names.declaredColumns) ||
      schema.names.declaredColumns.empty()) {
    return std::nullopt;
  }
  schema.columnCount = static_cast<uint32_t>(schema.names.declaredColumns.size());
  return schema;
}

// Visits every record of a table: live cells, and when `carve` also cells of
// free pages and carved records read with the declared column count. `take`
// answers whether it accepted the record.
using RecordTaker = std::function<bool(const ParsedRecord&, int32_t deleted)>;

Status ScanRecords(SqliteDbReader& reader, std::string_view table, const Schema& schema, bool carve,
                   const RecordTaker& take) {
  sqlite::TableProfile profile;
  profile.tableName = std::string(table);
  profile.columnCount = carve ? schema.columnCount : 0;  // 0: live rows only
  const sqlite::detail::CarvedLayout layout{schema.columnCount};
  return reader.ScanTable(profile, [&](SqliteDbReader& r, const RecordLocation& record) {
    ParsedRecord parsed;
    if (const Status status =
            sqlite::detail::ParseForDecoder(r, record, layout, schema.columnCount - 1, parsed);
        status != kOk) {
      return status;
    }
    return take(parsed, record.deleted) ? kOk : Status(kInvalidData);
  });
}

const ColumnValue* ValueOf(const ParsedRecord& record, std::optional<uint32_t> column) {
  return column ? record.Column(*column) : nullptr;
}

bool IsNull(const ColumnValue* value) {
  return value == nullptr || value->IsNull();
}
bool TextOrNull(const ColumnValue* value) {
  return IsNull(value) || value->IsText();
}
bool IntegerOrNull(const ColumnValue* value) {
  return IsNull(value) || value->IsInteger();
}

// A date column that is NULL or holds plausible Core Data seconds.
bool DateOrNull(const ColumnValue* value) {
  if (IsNull(value)) return true;
  double seconds = 0;
  if (value->IsFloat())
    seconds = value->real;
  else if (value->IsInteger())
    seconds = static_cast<double>(value->integer);
  else
    return false;
  return std::isfinite(seconds) && seconds >= 0 && seconds < kLatestCocoaSeconds;
}

int64_t IntegerOf(const ColumnValue* value) {
  return sqlite::detail::IntegerValue(value).value_or(0);
}

std::string DateOf(const ColumnValue* value) {
  return DateOrNull(value) ? sqlite::detail::CocoaDateText(value) : std::string();
}

// Entity numbers by entity name.
Status ReadEntities(SqliteDbReader& reader, std::map<std::string, int64_t, std::less<>>& entities) {
  const std::optional<Schema> schema = ReadSchema(reader, kEntityTable);
  if (!schema || !(*schema)["Z_ENT"] || !(*schema)["Z_NAME"])
    return Status(kInvalidData, "the notes database has no readable entity table (Z_PRIMARYKEY)");
  const uint32_t entColumn = *(*schema)["Z_ENT"];
  const uint32_t nameColumn = *(*schema)["Z_NAME"];
  return ScanRecords(reader, kEntityTable, *schema, false, [&](const ParsedRecord& record, int32_t) {
    const ColumnValue* name = record.Column(nameColumn);
    // Z_ENT is the table's integer primary key: the rowid holds it.
    const ColumnValue* entValue = record.Column(entColumn);
    const std::optional<int64_t> ent =
        IsNull(entValue) ? std::optional<int64_t>(record.rowId) : sqlite::detail::IntegerValue(entValue);
    if (name == nullptr || !name->IsText() || !ent) return false;
    entities.emplace(std::string(name->Text()), *ent);
    return true;
  });
}

// One note or folder row of ZICCLOUDSYNCINGOBJECT.
struct ObjectRow {
  int32_t deleted = 0;
  int64_t key = 0;  // Z_PK; 0 for carved rows
  int64_t entity = 0;
  std::string title;   // ZTITLE1 (notes)
  std::string name;    // ZTITLE2 (folders)
  int64_t folder = 0;  // the note's folder key
  int64_t noteData = 0;
  std::string created;
  std::string modified;
  bool locked = false;
  bool markedForDeletion = false;
  int64_t folderType = 0;  // 1: the "Recently Deleted" folder
};

struct ObjectColumns {
  std::optional<uint32_t> entity, title, name, folder, noteData, created3, created1, modified, locked, marked,
      folderType;

  explicit ObjectColumns(const Schema& schema)
      : entity(schema["Z_ENT"]),
        title(schema["ZTITLE1"]),
        name(schema["ZTITLE2"]),
        folder(schema["ZFOLDER"]),
        noteData(schema["ZNOTEDATA"]),
        created3(schema["ZCREATIONDATE3"]),
        created1(schema["ZCREATIONDATE1"]),
        modified(schema["ZMODIFICATIONDATE1"]),
        locked(schema["ZISPASSWORDPROTECTED"]),
        marked(schema["ZMARKEDFORDELETION"]),
        folderType(schema["ZFOLDERTYPE"]) {}
};

// Reads a row of the note or folder entity; a deleted record is refused
// unless every column read holds the storage class the table keeps there and
// a carved note has a title.
bool ReadObjectRow(const ParsedRecord& record, int32_t deleted, const ObjectColumns& columns,
                   int64_t noteEntity, int64_t folderEntity, std::vector<ObjectRow>& out) {
  const ColumnValue* entity = ValueOf(record, columns.entity);
  if (entity == nullptr || !entity->IsInteger()) return false;
  if (entity->integer != noteEntity && entity->integer != folderEntity) return deleted == 0;
  const ColumnValue* title = ValueOf(record, columns.title);
  const ColumnValue* name = ValueOf(record, columns.name);
  const ColumnValue* folder = ValueOf(record, columns.folder);
  const ColumnValue* noteData = ValueOf(record, columns.noteData);
  const ColumnValue* created3 = ValueOf(record, columns.created3);
  const ColumnValue* created1 = ValueOf(record, columns.created1);
  const ColumnValue* modified = ValueOf(record, columns.modified);
  const ColumnValue* locked = ValueOf(record, columns.locked);
  const ColumnValue* marked = ValueOf(record, columns.marked);
  const ColumnValue* folderType = ValueOf(record, columns.folderType);
  if (deleted != 0) {
    const bool fits = TextOrNull(title) && TextOrNull(name) && IntegerOrNull(folder) &&
                      IntegerOrNull(noteData) && DateOrNull(created3) && DateOrNull(created1) &&
                      DateOrNull(modified) && IntegerOrNull(locked) && IntegerOrNull(marked) &&
                      IntegerOrNull(folderType);
    const ColumnValue* shown = entity->integer == noteEntity ? title : name;
    if (!fits || IsNull(shown) || shown->Text().empty()) return false;
  }
  ObjectRow row;
  row.deleted = deleted;
  row.key = record.rowId;
  row.entity = entity->integer;
  row.title = sqlite::detail::TextValue(title);
  row.name = sqlite::detail::TextValue(name);
  row.folder = IntegerOf(folder);
  row.noteData = IntegerOf(noteData);
  // Up to iOS 14 a note's creation date is ZCREATIONDATE1, later ZCREATIONDATE3.
  row.created = DateOf(IsNull(created3) ? created1 : created3);
  row.modified = DateOf(modified);
  row.locked = IntegerOf(locked) != 0;
  row.markedForDeletion = IntegerOf(marked) != 0;
  row.folderType = IntegerOf(folderType);
  out.push_back(std::move(row));
  return true;
}

// One ZICNOTEDATA row.
struct DataRow {
  int32_t deleted = 0;
  int64_t key = 0;
  int64_t note = 0;
  NoteBody body;
  bool used = false;
};

bool ReadDataRow(const ParsedRecord& record, int32_t deleted, const Schema& schema,
                 std::optional<int64_t> dataEntity, std::vector<DataRow>& out) {
  const ColumnValue* note = ValueOf(record, schema["ZNOTE"]);
  const ColumnValue* data = ValueOf(record, schema["ZDATA"]);
  const ColumnValue* entity = ValueOf(record, schema["Z_ENT"]);
  DataRow row;
  row.deleted = deleted;
  row.key = record.rowId;
  row.note = IntegerOf(note);
  if (data != nullptr && (data->IsBlob() || data->IsText())) row.body = ReadNoteBody(data->Text());
  if (deleted != 0) {
    // Only bodies that unpack to text count: other bytes could be anything.
    const bool fits = IntegerOrNull(note) &&
                      (!dataEntity || IsNull(entity) || sqlite::detail::HoldsInteger(entity, *dataEntity));
    if (!fits || row.body.kind != NoteBodyKind::kText || row.body.text.empty()) return false;
  }
  out.push_back(std::move(row));
  return true;
}

// The first non-blank line of a text, trimmed, for notes without a title.
std::string FirstLine(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.remove_suffix(1);
    if (!line.empty()) return std::string(line);
    start = end + 1;
  }
  return {};
}

}  // namespace

bool IsNoteStore(const SqliteDbReader& reader) {
  std::string sql;
  return reader.FindTableSql(kObjectTable, sql) == kOk && !sql.empty();
}

Status DecodeNoteStore(std::vector<NoteRecord>& notes, SqliteDbReader& reader) {
  std::map<std::string, int64_t, std::less<>> entities;
  if (const Status status = ReadEntities(reader, entities); status != kOk) return status;
  const auto noteEntity = entities.find("ICNote");
  const auto folderEntity = entities.find("ICFolder");
  if (noteEntity == entities.end())
    return Status(kInvalidData, "the notes database does not name a note entity (ICNote) in Z_PRIMARYKEY");
  std::optional<int64_t> dataEntity;
  if (const auto found = entities.find("ICNoteData"); found != entities.end()) dataEntity = found->second;

  const std::optional<Schema> objectSchema = ReadSchema(reader, kObjectTable);
  const std::optional<Schema> dataSchema = ReadSchema(reader, kNoteDataTable);
  if (!objectSchema || !dataSchema || !(*objectSchema)["Z_ENT"] || !(*objectSchema)["ZTITLE1"] ||
      !(*objectSchema)["ZNOTEDATA"] || !(*dataSchema)["ZDATA"]) {
    return Status(kInvalidData,
                  "the notes database lacks the note columns this program reads "
                  "(ZICCLOUDSYNCINGOBJECT with Z_ENT, ZTITLE1 and ZNOTEDATA; ZICNOTEDATA with ZDATA)");
  }

  FirstFailure failure;
  std::vector<ObjectRow> objects;
  const ObjectColumns columns(*objectSchema);
  const int64_t folderNumber = folderEntity != entities.end() ? folderEntity->second : -1;
  failure.Note(ScanRecords(reader, kObjectTable, *objectSchema, true,
                           [&](const ParsedRecord& record, int32_t deleted) {
                             return ReadObjectRow(record, deleted, columns, noteEntity->second, folderNumber,
                                                  objects);
                           }),
               kObjectTable);
  std::vector<DataRow> bodies;
  failure.Note(ScanRecords(reader, kNoteDataTable, *dataSchema, true,
                           [&](const ParsedRecord& record, int32_t deleted) {
                             return ReadDataRow(record, deleted, *dataSchema, dataEntity, bodies);
                           }),
               kNoteDataTable);

  struct Folder {
    std::string name;
    bool trash = false;
  };
  std::unordered_map<int64_t, Folder> folders;
  for (const ObjectRow& row : objects) {
    if (row.entity == folderNumber && row.deleted == 0)
      folders[row.key] = Folder{row.name, row.folderType == 1};
  }
  std::unordered_map<int64_t, std::size_t> bodyOfKey;
  std::unordered_map<int64_t, std::size_t> bodyOfNote;
  for (std::size_t index = 0; index < bodies.size(); ++index) {
    if (bodies[index].deleted != 0) continue;
    bodyOfKey.emplace(bodies[index].key, index);
    if (bodies[index].note != 0) bodyOfNote.emplace(bodies[index].note, index);
  }

  std::vector<NoteRecord> found;
  std::set<std::pair<std::string, std::string>> liveTitles;  // (title, modified) of live notes
  std::set<std::string> liveTexts;
  for (const ObjectRow& row : objects) {
    if (row.entity != noteEntity->second) continue;
    if (row.deleted != 0 && liveTitles.count({row.title, row.modified}) != 0) continue;
    NoteRecord note;
    note.noteId = static_cast<int32_t>(std::clamp<int64_t>(row.key, 0, std::numeric_limits<int32_t>::max()));
    note.date = row.modified.empty() ? row.created : row.modified;
    note.created = row.created;
    note.title = row.title;
    bool inTrash = false;
    if (const auto folder = folders.find(row.folder); folder != folders.end()) {
      note.folder = folder->second.name;
      inTrash = folder->second.trash;
    }
    DataRow* body = nullptr;
    if (row.deleted == 0) {
      if (const auto byKey = bodyOfKey.find(row.noteData); byKey != bodyOfKey.end())
        body = &bodies[byKey->second];
      else if (const auto byNote = bodyOfNote.find(row.key); byNote != bodyOfNote.end())
        body = &bodies[byNote->second];
    } else {
      // A carved row has lost its key: its body is the deleted one whose
      // first line is its title, as the app titles notes.
      for (DataRow& candidate : bodies) {
        if (!candidate.used && candidate.deleted != 0 && FirstLine(candidate.body.text) == row.title) {
          body = &candidate;
          break;
        }
      }
    }
    if (body != nullptr) body->used = true;
    note.locked = row.locked || (body != nullptr && body->body.kind == NoteBodyKind::kEncrypted) ? 1 : 0;
    if (note.locked == 0 && body != nullptr) note.content = body->body.text;
    if (note.title.empty()) note.title = FirstLine(note.content);
    note.deleted = row.deleted != 0 || row.markedForDeletion || inTrash ? 1 : 0;
    if (row.deleted == 0) {
      liveTitles.emplace(row.title, row.modified);
      liveTexts.insert(note.content);
    }
    found.push_back(std::move(note));
  }
  // Bodies no note row claims: their note was deleted.
  for (DataRow& body : bodies) {
    if (body.used || body.body.kind != NoteBodyKind::kText || body.body.text.empty()) continue;
    if (body.deleted != 0 && liveTexts.count(body.body.text) != 0) continue;
    NoteRecord note;
    note.deleted = 1;
    note.noteId =
        static_cast<int32_t>(std::clamp<int64_t>(body.note, 0, std::numeric_limits<int32_t>::max()));
    note.title = FirstLine(body.body.text);
    note.content = body.body.text;
    liveTexts.insert(note.content);
    found.push_back(std::move(note));
  }
  notes.insert(notes.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
  return failure.status();
}

}  // namespace corvyn::decoders
