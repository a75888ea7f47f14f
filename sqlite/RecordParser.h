// Parses one SQLite record into its column values: a full leaf cell (payload
// length, rowid, record; overflow pages followed) or a carved record that
// starts at its first serial type. Every read is bounded by the bytes given.
//
//   serial type | body bytes | value
//   ------------|------------|-----------------------------------------------
//   0           | 0          | NULL
//   1, 2, 3, 4  | 1, 2, 3, 4 | big-endian two's-complement integer (sign-extended)
//   5, 6        | 6, 8       | big-endian two's-complement integer
//   7           | 8          | big-endian IEEE 754 double
//   8, 9        | 0          | the integers 0 and 1
//   10, 11      | 0          | reserved, taken as NULL
//   N >= 12 even| (N-12)/2   | blob
//   N >= 13 odd | (N-13)/2   | text (UTF-8 as stored, not validated here)
//
// Carved records: with an expected column count C, when the first byte is
// not 0 the first column is taken as lost (its serial type and the header
// length were overwritten): C - 1 serial types are read, numbered from column
// 1, and column 0 is absent. Otherwise C serial types are read from column 0.
// The body starts right after the serial types, or after a remembered
// serial-type byte count when one is given. The rowid of a carved record is 0.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::sqlite {

struct ColumnValue {
  uint64_t serialType = 0;
  // False when the column is absent: the lost first column of a carved
  // record, or a body that lies (even partly) outside the record's bytes.
  bool present = false;
  int64_t integer = 0;  // serial types 1 to 6, and 8 (0) and 9 (1)
  double real = 0.0;    // serial type 7
  ByteSpan body;        // the body bytes (text, blob, or the number's bytes)

  bool IsNull() const { return present && (serialType == 0 || serialType == 10 || serialType == 11); }
  bool IsInteger() const {
    return present && ((serialType >= 1 && serialType <= 6) || serialType == 8 || serialType == 9);
  }
  bool IsFloat() const { return present && serialType == 7; }
  bool IsText() const { return present && serialType >= 13 && (serialType & 1) == 1; }
  bool IsBlob() const { return present && serialType >= 12 && (serialType & 1) == 0; }
  // Text and blob bytes as a string view (empty for other types).
  std::string_view Text() const {
    return (IsText() || IsBlob()) ? std::string_view(reinterpret_cast<const char*>(body.data()), body.size())
                                  : std::string_view();
  }
};

struct ParsedRecord {
  ParsedRecord() = default;
  ParsedRecord(const ParsedRecord&) = delete;
  ParsedRecord& operator=(const ParsedRecord&) = delete;
  ParsedRecord(ParsedRecord&&) = default;
  ParsedRecord& operator=(ParsedRecord&&) = default;

  int64_t rowId = 0;                 // 0 for carved records
  uint64_t payloadLength = 0;        // 0 for carved records
  uint64_t headerLength = 0;         // full cells: the header-length value; carved: serial-type bytes
  uint32_t firstColumn = 0;          // 1 when the first column of a carved record was lost
  bool overflowed = false;           // the payload was gathered from overflow pages
  bool truncated = false;            // some column bodies lie outside the available bytes
  std::vector<ColumnValue> columns;  // indexed by column number (from 0)
  std::vector<uint8_t> storage;      // the gathered cell when overflowed; bodies point into it

  // The column, or nullptr when it is absent or beyond the record.
  const ColumnValue* Column(std::size_t number) const {
    return number < columns.size() && columns[number].present ? &columns[number] : nullptr;
  }
};

// The value of one column body of the given serial type (body.size() must be
// at least the type's body size; shorter bodies leave the value 0).
void DecodeColumnValue(uint64_t serialType, ByteSpan body, ColumnValue& value);

// A record whose header-length varint is at payload[0]. kInvalidData when the header
// does not fit or its serial types do not end inside it.
Status ParseRecordPayload(ByteSpan payload, ParsedRecord& out);

// A full leaf table cell at record.bytes[0]: payload length, rowid, record.
// A payload that does not fit on the page is gathered from its overflow chain
// (a broken chain gives the columns that could be read, marked truncated; a
// failed page read returns its error). The local payload ends at the page.
Status ParseCell(const SqliteDbReader& reader, const RecordLocation& record, ParsedRecord& out);

// A carved record at bytes[0] (its first serial type) with columnCount
// expected columns, applying the first-column-lost rule. When serialTypeBytes
// is not 0 the serial types fill that many bytes (less 1 when the first
// column is lost) and the body follows them. kInvalidData when columnCount is 0 or the
// serial types do not end inside bytes.
Status ParseCarvedRecord(ByteSpan bytes, uint32_t columnCount, ParsedRecord& out,
                         uint32_t serialTypeBytes = 0);

// The same for a carved record location: when record.headerIntact the first
// byte's value says nothing about a lost column and all columnCount serial
// types are read from column 0 (a table whose column 0 is not the rowid, such
// as message_attachment_join, then reads right). Decoders should prefer this.
Status ParseCarvedRecord(const RecordLocation& record, uint32_t columnCount, ParsedRecord& out,
                         uint32_t serialTypeBytes = 0);

// Either of the above by record.mode; carved records are read with
// carvedColumnCount serial types.
Status ParseRecord(const SqliteDbReader& reader, const RecordLocation& record, uint32_t carvedColumnCount,
                   ParsedRecord& out);

}  // namespace corvyn::sqlite
