// Hand-built SQLite records for the record decoder and value-list tests: the
// bytes of one record (or one leaf cell, or one carved record that starts at
// its first serial type) made from a list of column values, encoded as the
// SQLite library encodes them (0 and 1 as the constants 8 and 9, integers in
// their smallest width) unless a serial type is forced.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sqlite/SqliteDbReader.h"

namespace corvyn::sqlite::testing {

struct Value {
  enum class Kind { kNull, kInteger, kReal, kText, kBlob };
  Kind kind = Kind::kNull;
  int64_t integer = 0;
  double real = 0.0;
  std::string bytes;
  std::optional<uint64_t> forcedType;  // integer width forced (1..6) or a reserved type (10, 11)

  static Value Null() { return {}; }
  static Value Int(int64_t v) { return {Kind::kInteger, v, 0.0, {}, std::nullopt}; }
  static Value IntAs(int64_t v, uint64_t type) { return {Kind::kInteger, v, 0.0, {}, type}; }
  static Value Real(double v) { return {Kind::kReal, 0, v, {}, std::nullopt}; }
  static Value Text(std::string v) { return {Kind::kText, 0, 0.0, std::move(v), std::nullopt}; }
  static Value Blob(std::string v) { return {Kind::kBlob, 0, 0.0, std::move(v), std::nullopt}; }
};

inline std::vector<uint8_t> EncodeVarint(uint64_t value) {
  if (value > 0x00FFFFFFFFFFFFFFull) {
    std::vector<uint8_t> out(9);
    out[8] = static_cast<uint8_t>(value);
    value >>= 8;
    for (int i = 7; i >= 0; --i, value >>= 7) out[i] = static_cast<uint8_t>((value & 0x7F) | 0x80);
    return out;
  }
  std::vector<uint8_t> reversed;
  reversed.push_back(static_cast<uint8_t>(value & 0x7F));
  for (value >>= 7; value != 0; value >>= 7) reversed.push_back(static_cast<uint8_t>((value & 0x7F) | 0x80));
  return {reversed.rbegin(), reversed.rend()};
}

inline uint64_t IntegerSerialType(int64_t v) {
  if (v == 0) return 8;
  if (v == 1) return 9;
  if (v >= -128 && v <= 127) return 1;
  if (v >= -32768 && v <= 32767) return 2;
  if (v >= -8388608 && v <= 8388607) return 3;
  if (v >= INT32_MIN && v <= INT32_MAX) return 4;
  if (v >= -(int64_t{1} << 47) && v < (int64_t{1} << 47)) return 5;
  return 6;
}

inline void AppendBigEndian(std::vector<uint8_t>& out, uint64_t bits, std::size_t size) {
  for (std::size_t i = size; i-- > 0;) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

struct EncodedRecord {
  std::vector<uint8_t> serialTypes;  // the header without its length varint
  std::vector<uint8_t> body;
};

inline EncodedRecord EncodeColumns(const std::vector<Value>& values) {
  static constexpr std::size_t kIntegerSizes[] = {0, 1, 2, 3, 4, 6, 8};
  EncodedRecord out;
  for (const Value& value : values) {
    uint64_t type = 0;
    switch (value.kind) {
      case Value::Kind::kNull:
        type = value.forcedType.value_or(0);
        break;
      case Value::Kind::kInteger:
        type = value.forcedType.value_or(IntegerSerialType(value.integer));
        if (type >= 1 && type <= 6)
          AppendBigEndian(out.body, static_cast<uint64_t>(value.integer), kIntegerSizes[type]);
        break;
      case Value::Kind::kReal:
        type = 7;
        AppendBigEndian(out.body, std::bit_cast<uint64_t>(value.real), 8);
        break;
      case Value::Kind::kText:
      case Value::Kind::kBlob:
        type = value.bytes.size() * 2 + (value.kind == Value::Kind::kText ? 13 : 12);
        out.body.insert(out.body.end(), value.bytes.begin(), value.bytes.end());
        break;
    }
    const std::vector<uint8_t> varint = EncodeVarint(type);
    out.serialTypes.insert(out.serialTypes.end(), varint.begin(), varint.end());
  }
  return out;
}

// Header-length varint, serial types, bodies.
inline std::vector<uint8_t> EncodeRecord(const std::vector<Value>& values) {
  const EncodedRecord columns = EncodeColumns(values);
  uint64_t headerLength = columns.serialTypes.size() + 1;
  if (EncodeVarint(headerLength).size() > 1) ++headerLength;
  std::vector<uint8_t> out = EncodeVarint(headerLength);
  out.insert(out.end(), columns.serialTypes.begin(), columns.serialTypes.end());
  out.insert(out.end(), columns.body.begin(), columns.body.end());
  return out;
}

// A leaf table cell: payload length, rowid, record.
inline std::vector<uint8_t> EncodeCell(int64_t rowId, const std::vector<Value>& values) {
  const std::vector<uint8_t> record = EncodeRecord(values);
  std::vector<uint8_t> out = EncodeVarint(record.size());
  const std::vector<uint8_t> rowIdBytes = EncodeVarint(static_cast<uint64_t>(rowId));
  out.insert(out.end(), rowIdBytes.begin(), rowIdBytes.end());
  out.insert(out.end(), record.begin(), record.end());
  return out;
}

// A carved record as the scanners hand it over: from the first serial type on.
// With firstColumnLost, column 0's serial type is gone and the bytes start
// with column 1's (values[0] is then ignored).
inline std::vector<uint8_t> EncodeCarved(const std::vector<Value>& values, bool firstColumnLost = false) {
  std::vector<Value> kept = values;
  if (firstColumnLost && !kept.empty()) kept.erase(kept.begin());
  const EncodedRecord columns = EncodeColumns(kept);
  std::vector<uint8_t> out = columns.serialTypes;
  out.insert(out.end(), columns.body.begin(), columns.body.end());
  return out;
}

inline RecordLocation FullCellAt(const std::vector<uint8_t>& bytes, int32_t deleted = 0) {
  return RecordLocation{ByteSpan(bytes), 0, static_cast<uint32_t>(bytes.size()), RecordMode::kFullCell,
                        deleted};
}

inline RecordLocation CarvedAt(const std::vector<uint8_t>& bytes) {
  return RecordLocation{ByteSpan(bytes), 0, 0, RecordMode::kCarved, 1};
}

// `count` NULL columns with the given ones set.
inline std::vector<Value> Columns(std::size_t count,
                                  std::initializer_list<std::pair<std::size_t, Value>> set) {
  std::vector<Value> values(count);
  for (const auto& [index, value] : set) values.at(index) = value;
  return values;
}

}  // namespace corvyn::sqlite::testing
