#include <deque>
#include <unordered_map>

#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "decoders/FirstFailure.h"
#include "decoders/NoteStore.h"
#include "decoders/TextRules.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {

std::vector<NoteRecord> PairNotes(const std::vector<sqlite::NoteBodyRow>& bodies,
                                  const std::vector<sqlite::NoteRow>& noteRows) {
  std::vector<NoteRecord> paired;
  paired.reserve(bodies.size() + noteRows.size());

  // Note id -> indexes of the note rows not yet paired, in scan order.
  std::unordered_map<int32_t, std::deque<std::size_t>> unpaired;
  for (std::size_t index = 0; index < noteRows.size(); ++index)
    unpaired[noteRows[index].noteId].push_back(index);
  std::vector<bool> taken(noteRows.size(), false);

  for (const auto& body : bodies) {
    NoteRecord record;
    record.deleted = body.deleted;
    record.noteId = body.noteId;
    record.content = body.html;
    if (auto rows = unpaired.find(body.noteId); rows != unpaired.end() && !rows->second.empty()) {
      const std::size_t index = rows->second.front();
      rows->second.pop_front();
      taken[index] = true;
      record.title = noteRows[index].title;
      // The note row's date is the only date a note has; the body carries none.
      record.date = noteRows[index].date;
    }
    paired.push_back(std::move(record));
  }
  for (std::size_t index = 0; index < noteRows.size(); ++index) {
    if (taken[index] || noteRows[index].title.empty()) continue;
    const auto& row = noteRows[index];
    NoteRecord record;
    record.deleted = row.deleted;
    record.noteId = row.noteId;
    record.date = row.date;
    record.title = row.title;
    paired.push_back(std::move(record));
  }

  std::vector<NoteRecord> result;
  result.reserve(paired.size());
  for (auto& record : paired) {
    if (record.content.empty() && record.title.empty()) continue;
    record.content = HtmlToText(record.content);
    record.title = HtmlToText(record.title);
    result.push_back(std::move(record));
  }
  return result;
}

Status DecodeNotes(std::vector<NoteRecord>& notes, const std::filesystem::path& notesDb) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(notesDb); opened != kOk) return opened;
  if (IsNoteStore(reader)) return DecodeNoteStore(notes, reader);
  std::string noteSql, bodySql;
  if (reader.FindTableSql("ZNOTE", noteSql) == kOk && reader.FindTableSql("ZNOTEBODY", bodySql) == kOk &&
      noteSql.empty() && bodySql.empty()) {
    return Status(kInvalidData,
                  "the notes database has neither the older note tables (ZNOTE, ZNOTEBODY) nor the "
                  "newer ones (ZICCLOUDSYNCINGOBJECT)");
  }
  std::vector<sqlite::NoteBodyRow> bodies;
  std::vector<sqlite::NoteRow> noteRows;
  FirstFailure failure;
  failure.Note(sqlite::ScanNoteBodies(reader, bodies), "ZNOTEBODY");
  failure.Note(sqlite::ScanNotes(reader, noteRows), "ZNOTE");
  std::vector<NoteRecord> decoded = PairNotes(bodies, noteRows);
  notes.insert(notes.end(), std::make_move_iterator(decoded.begin()), std::make_move_iterator(decoded.end()));
  return failure.status();
}

}  // namespace corvyn::decoders
