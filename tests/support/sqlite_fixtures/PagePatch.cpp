#include "tests/support/sqlite_fixtures/PagePatch.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corvyn::testing {

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

void Put16(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
  bytes[at] = static_cast<uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<uint8_t>(value);
}

void Put32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

std::vector<uint8_t> EncodeVarint(uint64_t value) {
  if (value > 0x00ffffffffffffffull) {
    std::vector<uint8_t> out(9);
    out[8] = static_cast<uint8_t>(value);
    value >>= 8;
    for (int i = 7; i >= 0; --i) {
      out[i] = static_cast<uint8_t>((value & 0x7f) | 0x80);
      value >>= 7;
    }
    return out;
  }
  std::vector<uint8_t> reversed;
  do {
    reversed.push_back(static_cast<uint8_t>(value & 0x7f));
    value >>= 7;
  } while (value != 0);
  std::vector<uint8_t> out(reversed.rbegin(), reversed.rend());
  for (std::size_t i = 0; i + 1 < out.size(); ++i) out[i] |= 0x80;
  return out;
}

std::size_t PutVarint(std::vector<uint8_t>& bytes, std::size_t at, uint64_t value) {
  const std::vector<uint8_t> encoded = EncodeVarint(value);
  std::memcpy(&bytes[at], encoded.data(), encoded.size());
  return encoded.size();
}

std::vector<uint8_t> EncodeRecord(const std::vector<RecordField>& fields) {
  std::vector<uint8_t> types;
  std::vector<uint8_t> body;
  for (const RecordField& field : fields) {
    uint64_t type = 0;
    switch (field.kind) {
      case RecordField::Kind::kNull:
        break;
      case RecordField::Kind::kInteger: {
        const int64_t v = field.integer;
        int size;
        if (v == 0) {
          type = 8;
          size = 0;
        } else if (v == 1) {
          type = 9;
          size = 0;
        } else if (v >= -128 && v <= 127) {
          type = 1;
          size = 1;
        } else if (v >= -32768 && v <= 32767) {
          type = 2;
          size = 2;
        } else if (v >= -8388608 && v <= 8388607) {
          type = 3;
          size = 3;
        } else if (v >= -2147483648LL && v <= 2147483647LL) {
          type = 4;
          size = 4;
        } else if (v >= -(1LL << 47) && v < (1LL << 47)) {
          type = 5;
          size = 6;
        } else {
          type = 6;
          size = 8;
        }
        for (int i = size - 1; i >= 0; --i)
          body.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
        break;
      }
      case RecordField::Kind::kReal: {
        type = 7;
        const uint64_t bits = std::bit_cast<uint64_t>(field.real);
        for (int i = 7; i >= 0; --i) body.push_back(static_cast<uint8_t>(bits >> (8 * i)));
        break;
      }
      case RecordField::Kind::kText:
        type = 13 + 2 * field.text.size();
        body.insert(body.end(), field.text.begin(), field.text.end());
        break;
    }
    const std::vector<uint8_t> encoded = EncodeVarint(type);
    types.insert(types.end(), encoded.begin(), encoded.end());
  }
  // The header length counts itself.
  uint64_t headerLength = types.size() + 1;
  if (EncodeVarint(headerLength).size() > 1)
    headerLength = types.size() + EncodeVarint(types.size() + 2).size();
  std::vector<uint8_t> record = EncodeVarint(headerLength);
  record.insert(record.end(), types.begin(), types.end());
  record.insert(record.end(), body.begin(), body.end());
  return record;
}

std::vector<uint8_t> EncodeCell(int64_t rowId, const std::vector<uint8_t>& record) {
  std::vector<uint8_t> cell = EncodeVarint(record.size());
  const std::vector<uint8_t> key = EncodeVarint(static_cast<uint64_t>(rowId));
  cell.insert(cell.end(), key.begin(), key.end());
  cell.insert(cell.end(), record.begin(), record.end());
  return cell;
}

std::vector<uint8_t> EmptyLeafPage(uint32_t pageSize) {
  std::vector<uint8_t> page(pageSize, 0);
  page[0] = 13;
  Put16(page, 5, pageSize == 65536 ? 0 : pageSize);
  return page;
}

void AddCell(std::vector<uint8_t>& page, uint16_t offset, const std::vector<uint8_t>& cell) {
  std::memcpy(&page[offset], cell.data(), cell.size());
  const uint32_t count = static_cast<uint32_t>(page[3]) << 8 | page[4];
  Put16(page, 8 + 2 * count, offset);
  Put16(page, 3, count + 1);
  const uint32_t contentStart = static_cast<uint32_t>(page[5]) << 8 | page[6];
  if (offset < contentStart || contentStart == 0) Put16(page, 5, offset);
}

}  // namespace corvyn::testing
