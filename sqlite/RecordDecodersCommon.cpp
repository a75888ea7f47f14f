#include "sqlite/RecordDecodersCommon.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "core/TextFormat.h"
#include "core/Utf8.h"

namespace corvyn::sqlite::detail {
namespace {

std::string_view TextBytes(const ColumnValue* column) {
  return column != nullptr && column->IsText() ? column->Text() : std::string_view();
}

}  // namespace

Status ParseForDecoder(const SqliteDbReader& reader, const RecordLocation& record, const CarvedLayout& layout,
                       uint32_t lastColumn, ParsedRecord& out) {
  const Status parsed = record.mode == RecordMode::kCarved
                            ? ParseCarvedRecord(record, layout.columnCount, out)
                            : ParseCell(reader, record, out);
  if (parsed != kOk) return parsed;
  const std::size_t end = std::min<std::size_t>(out.columns.size(), std::size_t{lastColumn} + 1);
  for (std::size_t number = out.firstColumn; number < end; ++number) {
    if (!out.columns[number].present) return kInvalidData;
  }
  return kOk;
}

namespace {

// Serial types 10 and 11 are reserved: SQLite never writes them, so a
// carved record showing one was read from bytes that are no record.
bool HoldsReservedType(const ParsedRecord& record) {
  return std::any_of(record.columns.begin(), record.columns.end(), [](const ColumnValue& value) {
    return value.serialType == 10 || value.serialType == 11;
  });
}

bool TakenColumnsFit(const ParsedRecord& record, const std::vector<TakenColumn>& taken) {
  if (HoldsReservedType(record)) return false;
  for (const TakenColumn& column : taken) {
    const ColumnValue* value = record.Column(column.number);
    if (value == nullptr || value->IsNull()) continue;
    // Text a person wrote holds no NUL byte: one read from a record comes
    // from zeroed or misaligned bytes.
    const bool fits = column.storage == Storage::kText
                          ? value->IsText() && value->Text().find('\0') == std::string_view::npos
                      : column.storage == Storage::kInteger ? value->IsInteger()
                      : column.storage == Storage::kBlob    ? value->IsBlob() || value->IsText()
                                                            : value->IsInteger() || value->IsFloat();
    if (!fits) return false;
  }
  return true;
}

}  // namespace

Status ParseTakenColumns(const SqliteDbReader& reader, const RecordLocation& record,
                         const TableProfile& profile, ParsedRecord& out) {
  const std::vector<TakenColumn>& taken = profile.taken;
  uint32_t lastColumn = 0;
  for (const TakenColumn& column : taken) lastColumn = std::max(lastColumn, column.number);
  const CarvedLayout layout{profile.CarvedColumnCount()};
  Status status = ParseForDecoder(reader, record, layout, lastColumn, out);
  if (record.deleted != 0 && !(status == kOk && TakenColumnsFit(out, taken))) {
    // A carved record whose first byte is not 0 was read as having lost its
    // first column. In a table whose column 0 is not the rowid (a constant or
    // a number stored in the record) that byte may be column 0's own serial
    // type: read the record whole before refusing it.
    bool readWhole = false;
    if (record.mode == RecordMode::kCarved && !record.headerIntact && out.firstColumn == 1) {
      RecordLocation whole = record;
      whole.headerIntact = true;
      readWhole =
          ParseForDecoder(reader, whole, layout, lastColumn, out) == kOk && TakenColumnsFit(out, taken);
    }
    if (!readWhole) return status != kOk ? status : kInvalidData;
    status = kOk;
  }
  if (status != kOk) return status;
  if (profile.rowFilter && TextValue(out.Column(profile.rowFilter->number)) != profile.rowFilter->text)
    return kInvalidData;
  return kOk;
}

std::optional<int64_t> IntegerValue(const ColumnValue* column) {
  if (column == nullptr || !column->IsInteger()) return std::nullopt;
  return column->integer;
}

int32_t Int32Value(const ColumnValue* column) {
  const std::optional<int64_t> value = IntegerValue(column);
  if (!value || *value < std::numeric_limits<int32_t>::min() ||
      *value > std::numeric_limits<int32_t>::max()) {
    return 0;
  }
  return static_cast<int32_t>(*value);
}

int32_t WholeNumber32(const ColumnValue* column) {
  if (column != nullptr && column->IsFloat()) {
    if (!std::isfinite(column->real) || std::fabs(column->real) > std::numeric_limits<int32_t>::max())
      return 0;
    return static_cast<int32_t>(column->real);
  }
  return Int32Value(column);
}

bool HoldsInteger(const ColumnValue* column, int64_t value) {
  const std::optional<int64_t> held = IntegerValue(column);
  return held && *held == value;
}

std::string TextValue(const ColumnValue* column) {
  return ToValidUtf8(TextBytes(column));
}

std::optional<std::string> StrictTextValue(const ColumnValue* column) {
  const std::string_view bytes = TextBytes(column);
  if (!IsValidUtf8(bytes) || bytes.find('\0') != std::string_view::npos ||
      ContainsReplacementCharacter(bytes)) {
    return std::nullopt;
  }
  return std::string(bytes);
}

std::string UnixDateText(const ColumnValue* column) {
  const std::optional<int64_t> value = IntegerValue(column);
  return value ? DateText(*value) : std::string();
}

std::string CocoaDateText(const ColumnValue* column, bool nanosecondsAllowed) {
  if (column != nullptr && column->IsFloat()) {
    constexpr double kLimit = 9.0e18;
    if (!std::isfinite(column->real) || std::fabs(column->real) > kLimit) return {};
    return DateTextFromCocoa(static_cast<int64_t>(std::floor(column->real)));
  }
  std::optional<int64_t> value = IntegerValue(column);
  if (!value) return {};
  constexpr int64_t kNanosecondThreshold = 1'000'000'000'000;
  if (nanosecondsAllowed && (*value > kNanosecondThreshold || *value < -kNanosecondThreshold)) {
    *value /= 1'000'000'000;
  }
  return DateTextFromCocoa(*value);
}

}  // namespace corvyn::sqlite::detail
