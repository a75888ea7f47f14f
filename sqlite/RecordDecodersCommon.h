// Shared steps of the per-table record decoders and value-list writers:
// parsing a record for the columns a decoder takes, and turning column values
// into integers, dates and texts. Internal to the table scans; the decoders'
// entry points are in sqlite/RecordDecoders.h, the record format in
// sqlite/RecordParser.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/Status.h"
#include "sqlite/RecordParser.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableProfile.h"

namespace corvyn::sqlite::detail {

inline constexpr uint32_t kAllColumns = UINT32_MAX;

// How a carved record's serial types are found (see ParseCarvedRecord).
struct CarvedLayout {
  uint32_t columnCount = 0;  // serial types of a complete record
};

// Parses a full cell (overflow gathered) or a carved record. kInvalidData when the
// record cannot be parsed or a column up to lastColumn that the record holds
// lies (even partly) outside the available bytes; columns past lastColumn may
// be cut off.
Status ParseForDecoder(const SqliteDbReader& reader, const RecordLocation& record, const CarvedLayout& layout,
                       uint32_t lastColumn, ParsedRecord& out);

// ParseForDecoder up to the last of the profile's taken columns, carved
// records with profile.CarvedColumnCount() serial types. A deleted record
// (carved, or a cell of a free page) is also refused with kInvalidData when a
// taken column holds another storage class than the table keeps there, so
// bytes of other tables and stray candidates are not passed off as rows. Any
// record is refused when the profile's row filter does not match it.
Status ParseTakenColumns(const SqliteDbReader& reader, const RecordLocation& record,
                         const TableProfile& profile, ParsedRecord& out);

// Integer of types 1..6 (sign-extended) and the constants 8 and 9.
std::optional<int64_t> IntegerValue(const ColumnValue* column);
// Integer value that fits a 32-bit field, else 0.
int32_t Int32Value(const ColumnValue* column);
// An integer, or the whole part of a double (durations); 0 when neither fits.
int32_t WholeNumber32(const ColumnValue* column);
bool HoldsInteger(const ColumnValue* column, int64_t value);

// Text column as valid UTF-8 (invalid sequences become U+FFFD); empty for
// NULL, numbers and blobs.
std::string TextValue(const ColumnValue* column);
// Text that must be clean: std::nullopt when the bytes are not valid UTF-8 or
// hold a zero character or U+FFFD; empty for columns that are not text.
std::optional<std::string> StrictTextValue(const ColumnValue* column);

// Date text of a 1970-based integer column; empty when it holds no integer.
std::string UnixDateText(const ColumnValue* column);
// Date text of a 2001-based (Core Data) column: an integer, or a double taken
// as the seconds it is. When nanosecondsAllowed, integers beyond +-1e12 are
// nanoseconds since 2001 (what message databases store from iOS 11 on).
std::string CocoaDateText(const ColumnValue* column, bool nanosecondsAllowed = false);

}  // namespace corvyn::sqlite::detail
