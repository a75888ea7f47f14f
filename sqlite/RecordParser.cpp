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

uint64_t BigEndian(const uint8_t* bytes, int size) {
  uint64_t bits = 0;
  for (int i = 0; i < size; ++i) bits = bits << 8 | bytes[i];
  return bits;
}

// The value of a number column of serial type 1 to 9 whose body (of the
// type's size) is at bytes.
inline void DecodeNumber(uint64_t serialType, const uint8_t* bytes, ColumnValue& value) {
  switch (serialType) {
    case 1:
      value.integer = static_cast<int8_t>(bytes[0]);
      break;
    case 2:
      value.integer = static_cast<int16_t>(BigEndian(bytes, 2));
      break;
    case 3:
      value.integer = static_cast<int32_t>(BigEndian(bytes, 3) << 8) >> 8;
      break;
    case 4:
      value.integer = static_cast<int32_t>(BigEndian(bytes, 4));
      break;
    case 5:
      value.integer = static_cast<int64_t>(BigEndian(bytes, 6) << 16) >> 16;
      break;
    case 6:
      value.integer = static_cast<int64_t>(BigEndian(bytes, 8));
      break;
    case 7:
      value.real = std::bit_cast<double>(BigEndian(bytes, 8));
      break;
    case 9:
      value.integer = 1;
      break;
    default:
      break;
  }
}

// Reads `count` serial types (or, when count is 0, as many as fill
// typeBytes) from types, numbering them from firstColumn, then lays the
// bodies out from body[0]. Returns false when a serial type does not end
// inside `types`. One-byte serial types (nearly all) take a short path.
bool ReadColumns(ByteSpan types, std::size_t count, std::size_t typeBytes, uint32_t firstColumn,
                 ByteSpan body, ParsedRecord& out) {
  out.columns.clear();
  if (firstColumn) out.columns.emplace_back();
  const uint8_t* typeData = types.data();
  const std::size_t typeSize = types.size();
  const std::size_t bodySize = body.size();
  std::size_t position = 0;
  uint64_t bodyPosition = 0;
  std::size_t read = 0;
  while (count != 0 ? read < count : position < typeBytes) {
    if (position >= typeSize) return false;
    uint64_t serialType = typeData[position];
    if (serialType < 0x80) {
      ++position;
    } else {
      const Varint varint = ReadVarint(types.subspan(position));
      if (!varint.complete) return false;
      serialType = varint.value;
      position += varint.length;
    }
    ++read;
    ColumnValue& value = out.columns.emplace_back();
    value.serialType = serialType;
    const uint64_t size = SerialTypeBodySize(serialType);
    if (bodyPosition <= bodySize && size <= bodySize - bodyPosition) {
      value.body = body.subspan(static_cast<std::size_t>(bodyPosition), static_cast<std::size_t>(size));
      value.present = true;
      if (serialType >= 1 && serialType <= 9) DecodeNumber(serialType, value.body.data(), value);
    } else {
      out.truncated = true;
    }
    bodyPosition += size;
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
  if (serialType >= 1 && serialType <= 9 && body.size() >= SerialTypeBodySize(serialType)) {
    DecodeNumber(serialType, body.data(), value);
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
  ByteSpan payloadBytes =
      cell.subspan(prefix, static_cast<std::size_t>(std::min<uint64_t>(available, payload.value)));
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
  if (!ReadColumns(types, serialTypeBytes != 0 ? 0 : count, typeBytes, firstColumn, bytes.subspan(typeBytes),
                   out)) {
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

Status ParseRecord(const SqliteDbReader& reader, const RecordLocation& record, uint32_t carvedColumnCount,
                   ParsedRecord& out) {
  if (record.mode == RecordMode::kFullCell) return ParseCell(reader, record, out);
  return ParseCarvedRecord(record, carvedColumnCount, out);
}

}  // namespace corvyn::sqlite
