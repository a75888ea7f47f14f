#include "sqlite/RecordParser.h"

#include <bit>
#include <cstring>

#include "sqlite/Carving.h"

namespace corvyn::sqlite {
namespace {

void Reset(ParsedRecord& out) {
  out.rowId = 0;
  out.payloadLength = 0;
  out.headerLength = 0;
  out.firstColumn = 0;
  out.overflowed = false;
  out.truncated = false;
  out.columns.clear();
}

// Reads `count` serial types (or, when count is 0, as many as fill
// typeBytes) from types, numbering them from firstColumn, then lays the
// bodies out from body[0]. Returns false when a serial type does not end
// inside `types`.
bool ReadColumns(ByteSpan types, std::size_t count, std::size_t typeBytes, uint32_t firstColumn, ByteSpan body,
                 ParsedRecord& out) {
  out.columns.assign(firstColumn, ColumnValue{});
  std::size_t position = 0;
  uint64_t bodyPosition = 0;
  while (count != 0 ? out.columns.size() - firstColumn < count : position < typeBytes) {
    if (position >= types.size()) return false;
    const Varint serialType = ReadVarint(types.subspan(position));
    if (!serialType.complete) return false;
    position += serialType.length;
    ColumnValue value;
    value.serialType = serialType.value;
    const uint64_t size = SerialTypeBodySize(serialType.value);
    if (bodyPosition <= body.size() && size <= body.size() - bodyPosition) {
      DecodeColumnValue(serialType.value, body.subspan(bodyPosition, size), value);
      value.present = true;
    } else {
      out.truncated = true;
    }
    bodyPosition += size;
    out.columns.push_back(value);
    if (count == 0 && position > typeBytes) return false;
  }
  return true;
}

}  // namespace

void DecodeColumnValue(uint64_t serialType, ByteSpan body, ColumnValue& value) {
  value.serialType = serialType;
  value.body = body;
  value.integer = 0;
  value.real = 0.0;
  const uint64_t size = SerialTypeBodySize(serialType);
  if (body.size() < size) return;
  if (serialType >= 1 && serialType <= 6) {
    uint64_t bits = 0;
    for (uint64_t i = 0; i < size; ++i) bits = bits << 8 | body[i];
    const unsigned unused = static_cast<unsigned>(64 - 8 * size);
    // Shift the sign bit to the top and back to extend it.
    value.integer = unused == 0 ? static_cast<int64_t>(bits) : static_cast<int64_t>(bits << unused) >> unused;
  } else if (serialType == 7) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | body[i];
    value.real = std::bit_cast<double>(bits);
  } else if (serialType == 9) {
    value.integer = 1;
  }
}

Status ParseRecordPayload(ByteSpan payload, ParsedRecord& out) {
  const Varint header = ReadVarint(payload);
  if (!header.complete || header.value < header.length || header.value > payload.size()) return kInvalidData;
  out.headerLength = header.value;
  const std::size_t headerLength = static_cast<std::size_t>(header.value);
  const ByteSpan types = payload.subspan(header.length, headerLength - header.length);
  if (!ReadColumns(types, 0, types.size(), 0, payload.subspan(headerLength), out)) return kInvalidData;
  return kOk;
}

Status ParseCell(const SqliteDbReader& reader, const RecordLocation& record, ParsedRecord& out) {
  Reset(out);
  const Varint payload = ReadVarint(record.bytes);
  if (!payload.complete) return kInvalidData;
  const Varint rowid = ReadVarint(record.bytes.subspan(payload.length));
  if (!rowid.complete) return kInvalidData;
  out.payloadLength = payload.value;
  const int64_t rowId = static_cast<int64_t>(rowid.value);
  const std::size_t prefix = payload.length + rowid.length;

  bool overflowed = false;
  const Status gathered = reader.GatherOverflowCell(record, out.storage, overflowed);
  if (gathered != kOk && gathered != kInvalidData) return gathered;
  ByteSpan cell = record.bytes;
  if (overflowed) {
    if (out.storage.size() < prefix) return kInvalidData;
    cell = out.storage;
  }
  const uint64_t available = cell.size() - prefix;
  ByteSpan payloadBytes = cell.subspan(prefix, static_cast<std::size_t>(std::min<uint64_t>(available, payload.value)));
  const Status parsed = ParseRecordPayload(payloadBytes, out);
  out.rowId = rowId;
  out.payloadLength = payload.value;
  out.overflowed = overflowed;
  if (payloadBytes.size() < payload.value) out.truncated = true;
  return parsed;
}

namespace {
Status ParseCarved(ByteSpan bytes, uint32_t columnCount, ParsedRecord& out, uint32_t serialTypeBytes,
                   bool headerIntact) {
  Reset(out);
  if (columnCount == 0 || bytes.empty()) return kInvalidData;
  const uint32_t firstColumn = !headerIntact && bytes[0] != 0 ? 1 : 0;
  const std::size_t count = columnCount - firstColumn;
  std::size_t typeBytes;
  if (serialTypeBytes != 0) {
    typeBytes = serialTypeBytes - std::min<uint32_t>(firstColumn, serialTypeBytes);
    if (typeBytes == 0 || typeBytes > bytes.size()) return kInvalidData;
  } else {
    typeBytes = VarintRunLength(bytes, count);
    if (count != 0 && typeBytes == 0) return kInvalidData;
  }
  const ByteSpan types = bytes.subspan(0, typeBytes);
  if (!ReadColumns(types, serialTypeBytes != 0 ? 0 : count, typeBytes, firstColumn, bytes.subspan(typeBytes), out)) {
    return kInvalidData;
  }
  out.firstColumn = firstColumn;
  out.headerLength = typeBytes;
  return kOk;
}
}  // namespace

Status ParseCarvedRecord(ByteSpan bytes, uint32_t columnCount, ParsedRecord& out, uint32_t serialTypeBytes) {
  return ParseCarved(bytes, columnCount, out, serialTypeBytes, false);
}

Status ParseCarvedRecord(const RecordLocation& record, uint32_t columnCount, ParsedRecord& out,
                         uint32_t serialTypeBytes) {
  return ParseCarved(record.bytes, columnCount, out, serialTypeBytes, record.headerIntact);
}

Status ParseRecord(SqliteDbReader& reader, const RecordLocation& record, ParsedRecord& out) {
  if (record.mode == RecordMode::kFullCell) return ParseCell(reader, record, out);
  return ParseCarvedRecord(record, ExpectedColumnCount(reader, reader.CurrentTableName()), out);
}

}  // namespace corvyn::sqlite
