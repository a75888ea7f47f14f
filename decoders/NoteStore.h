// Notes of the Notes app of iOS 9 and later (NoteStore.sqlite, a Core Data
// store). Notes, folders and accounts share ZICCLOUDSYNCINGOBJECT, told apart
// by their entity number, which Z_PRIMARYKEY gives by entity name (ICNote,
// ICFolder); every column is found by its declared name, since positions and
// numbered suffixes move between iOS versions. Bodies live in ZICNOTEDATA.ZDATA
// (gzip around a protocol buffer, see decoders/NoteStoreBody.h).
//
// Each note keeps its title, dates, folder name and body text. A
// password-protected note keeps its title with `locked` set and no text. A
// note in the "Recently Deleted" folder (folder type 1), one marked for
// deletion, a row from a free page or carved, and a body whose note row is
// gone are all reported deleted; a carved row or body that repeats a live
// note is left out.
#pragma once

#include <filesystem>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::decoders {

// True when the opened database has the ZICCLOUDSYNCINGOBJECT table.
bool IsNoteStore(const sqlite::SqliteDbReader& reader);

// Appends the notes of an opened NoteStore database. kInvalidData in words
// when the database lacks the tables or columns the notes are read from (its
// schema is not one this program knows); otherwise kOk or the first table
// that could not be read to its end (what was read is kept).
Status DecodeNoteStore(std::vector<NoteRecord>& notes, sqlite::SqliteDbReader& reader);

}  // namespace corvyn::decoders
