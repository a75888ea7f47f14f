// Byte-level editing of single pages of a database file, for tests that need
// an exact layout (a freeblock at a chosen offset, a stale pointer, a corrupt
// count) that the SQLite library would never write itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace corvyn::testing {

// Whole file in and out.
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
bool WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Big-endian stores into a byte buffer (bounds are the caller's).
void Put16(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value);
void Put32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value);
// A varint of the file format; returns its length.
std::size_t PutVarint(std::vector<uint8_t>& bytes, std::size_t at, uint64_t value);
std::vector<uint8_t> EncodeVarint(uint64_t value);

// A record (header length, serial types, bodies) of integers and texts:
// values >= 0 are stored as the smallest integer type, strings as text.
struct RecordField {
  enum class Kind { kNull, kInteger, kText, kReal } kind = Kind::kNull;
  int64_t integer = 0;
  double real = 0;
  std::string text;
  static RecordField Null() { return {}; }
  static RecordField Int(int64_t v) { return {Kind::kInteger, v, 0, {}}; }
  static RecordField Real(double v) { return {Kind::kReal, 0, v, {}}; }
  static RecordField Text(std::string v) { return {Kind::kText, 0, 0, std::move(v)}; }
};
std::vector<uint8_t> EncodeRecord(const std::vector<RecordField>& fields);
// A leaf table cell: payload length, rowid, record.
std::vector<uint8_t> EncodeCell(int64_t rowId, const std::vector<uint8_t>& record);

// An empty leaf table page of pageSize bytes (header at byte 0, no cells,
// content area start at the page end).
std::vector<uint8_t> EmptyLeafPage(uint32_t pageSize);
// Places a cell at `offset` and appends its pointer (cell count + 1; the
// content area start is lowered to the lowest cell).
void AddCell(std::vector<uint8_t>& page, uint16_t offset, const std::vector<uint8_t>& cell);

}  // namespace corvyn::testing
