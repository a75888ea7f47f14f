// Value-list (CSV) lines of the `message` and `ABPersonFullTextSearch_content`
// tables: one line per live, free-page or carved row, built by the record
// decoder contract of sqlite/SqliteDbReader.h, and the file they go to.
//
// A line is the entries of the row's columns in column order, each carrying
// its own trailing comma, followed by "\r\n". The first entry is the rowid
// ("%d" of its low 32 bits); carved rows and rows with rowid 0 are numbered on
// from the reader's rowid counter (message or contact). A carved record that
// lost its first column starts at column 1, whose entry takes the rowid's
// place. Columns past the table's expected count are not written.
//
//   | serial type     | message entry                        | contact entry                         |
//   |-----------------|--------------------------------------|---------------------------------------|
//   | 0 NULL          | column 0: "," after the rowid;       | column 0: "," after the rowid;        |
//   |                 | else "NULL,"                         | else "NULL" (+"," unless last column) |
//   | 1..4            | "%d,"                                | "%d,"                                 |
//   | 5, 6, 7         | ","                                  | ","                                   |
//   | 8, 9            | "0," / "1," (no comma when last)     | none                                  |
//   | 10, 11, 12      | none                                 | none                                  |
//   | 13 empty text   | "NULL,"                              | "NULL" (+"," unless last column)      |
//   | text            | "\"text\"," quotes (" and ') doubled | "\"text\"" (+"," unless last), strict |
//   | blob            | as text                              | none                                  |
//
// Message rows: column 2 must be UTF-8 without a zero character that does not
// begin with an invalid sequence; column 8 is written as lower-case hex bytes
// and a comma. Deleted message rows need a 36-character column 13 of
// characters '-' to 'z', get the guid "27B99F78-F6F0-475F-8BA1-" + rowid as
// 12 hex digits in column 1, "1," in column 19, the current time in seconds
// since 2001 in column 15, and "0," in columns 16 and 26 when column 21 is 1,
// else column 15's time in column 16 and "1," in column 26.
// Text is written up to its first zero character.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::sqlite {

inline constexpr uint32_t kMessageValueColumns = 38;
inline constexpr uint32_t kContactValueColumns = 24;

// The numbering state of one value-list file: rows without a rowid of
// their own (carved ones) take the next number after `lastRowid`.
struct ValueListNumbering {
  uint64_t lastRowid = 0;
  // Column count of the last full cell written (0 before the first); carved
  // contact records read that many serial types when it is set.
  int32_t liveColumnCount = 0;
};

// The line of one message record into `line` (cleared first). Returns kOk,
// kInvalidData for a refused row, or a read error while gathering overflow
// pages; `line` is empty unless kOk is returned. nowCocoaSeconds is the
// current time in seconds since 2001-01-01.
Status BuildMessageValueLine(SqliteDbReader& reader, const RecordLocation& record, int64_t nowCocoaSeconds,
                             ValueListNumbering& numbering, std::string& line);

// The line of one contact record. Records the column count of full cells in
// numbering.liveColumnCount, which carved records then follow (as the
// contact decoder does).
Status BuildContactValueLine(SqliteDbReader& reader, const RecordLocation& record,
                             ValueListNumbering& numbering, std::string& line);

// An output file opened once in append mode for a whole scan.
class ValueListFile {
 public:
  ValueListFile() = default;
  ~ValueListFile();
  ValueListFile(const ValueListFile&) = delete;
  ValueListFile& operator=(const ValueListFile&) = delete;

  // A system error naming the path when the file cannot be opened.
  Status Open(const std::filesystem::path& path);
  // Appends the bytes; after the first failure nothing more is written and
  // Result() keeps that failure.
  void Write(const std::string& bytes);
  // Flushes and closes; returns the first failure of writing or closing.
  Status Close();
  Status Result() const { return status_; }

 private:
  std::FILE* file_ = nullptr;
  Status status_ = kOk;
  std::string path_;
};

}  // namespace corvyn::sqlite
