// Varints, serial types and record values: the pure decoding functions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sqlite/RecordParser.h"
#include "sqlite/SqliteDbReader.h"
#include "tests/support/sqlite_fixtures/PagePatch.h"

namespace corvyn::sqlite {
namespace {

using testing::EncodeVarint;

TEST(ReadVarint, DecodesTheFileFormatsVarints) {
  struct Case {
    std::vector<uint8_t> bytes;
    uint64_t value;
    std::size_t length;
    bool complete;
  };
  const Case cases[] = {
      {{}, 0, 0, false},
      {{0x00}, 0, 1, true},
      {{0x7f, 0xff}, 127, 1, true},
      {{0x81, 0x00}, 128, 2, true},
      {{0xff, 0x7f}, 16383, 2, true},
      {{0x81, 0x80, 0x00}, 16384, 3, true},
      // A ninth byte contributes all 8 bits: -1 as a rowid.
      {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, UINT64_MAX, 9, true},
      // No terminating byte within the limit: all bytes count as used.
      {{0x81, 0x82}, (1u << 7) | 2u, 2, false},
  };
  for (const Case& c : cases) {
    const Varint v = ReadVarint(c.bytes);
    EXPECT_EQ(v.value, c.value);
    EXPECT_EQ(v.length, c.length);
    EXPECT_EQ(v.complete, c.complete);
  }
}

TEST(ReadVarint, RoundTripsEncodedValues) {
  const uint64_t values[] = {0,
                             1,
                             127,
                             128,
                             240,
                             2287,
                             67823,
                             1ull << 32,
                             (1ull << 56) - 1,
                             1ull << 56,
                             0x8000000000000000ull,
                             UINT64_MAX};
  for (const uint64_t value : values) {
    std::vector<uint8_t> bytes = EncodeVarint(value);
    bytes.push_back(0xff);  // trailing garbage is not read
    const Varint v = ReadVarint(bytes);
    EXPECT_EQ(v.value, value);
    EXPECT_EQ(v.length, bytes.size() - 1);
  }
}

TEST(VarintRunLength, SumsLengthsAndFailsWhenARunLeavesTheBuffer) {
  const std::vector<uint8_t> bytes{0x01, 0x81, 0x00, 0x17, 0x85};
  EXPECT_EQ(VarintRunLength(bytes, 0), 0u);
  EXPECT_EQ(VarintRunLength(bytes, 1), 1u);
  EXPECT_EQ(VarintRunLength(bytes, 3), 4u);
  EXPECT_EQ(VarintRunLength(bytes, 4), 0u);  // the fourth varint does not end inside
  EXPECT_EQ(VarintRunLength(bytes, 9), 0u);
}

TEST(SerialTypeBodySize, FollowsTheSerialTypeTable) {
  const std::pair<uint64_t, uint64_t> cases[] = {{0, 0},  {1, 1},  {2, 2},  {3, 3},  {4, 4},       {5, 6},
                                                 {6, 8},  {7, 8},  {8, 0},  {9, 0},  {10, 0},      {11, 0},
                                                 {12, 0}, {13, 0}, {14, 1}, {15, 1}, {10013, 5000}};
  for (const auto& [type, size] : cases) EXPECT_EQ(SerialTypeBodySize(type), size) << type;
}

TEST(DecodeColumnValue, SignExtendsEveryIntegerWidthAndReadsDoubles) {
  struct Case {
    uint64_t type;
    std::vector<uint8_t> body;
    int64_t integer;
  };
  const Case cases[] = {
      {1, {0xff}, -1},
      {1, {0x7f}, 127},
      {2, {0xff, 0xfe}, -2},
      {3, {0x80, 0x00, 0x00}, -8388608},
      {4, {0xff, 0xff, 0xff, 0xff}, -1},
      {4, {0x19, 0x0b, 0x6a, 0x40}, 420178496},
      {5, {0xff, 0xff, 0xff, 0xff, 0xff, 0xfe}, -2},
      {5, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, 1ll << 32},
      {6, {0x80, 0, 0, 0, 0, 0, 0, 0}, INT64_MIN},
      {8, {}, 0},
      {9, {}, 1},
  };
  for (const Case& c : cases) {
    ColumnValue value;
    DecodeColumnValue(c.type, c.body, value);
    EXPECT_EQ(value.integer, c.integer) << "serial type " << c.type;
  }
  // 4.2e8 + 0.25 seconds, big-endian IEEE double.
  const std::vector<uint8_t> real{0x41, 0xb9, 0x08, 0xb1, 0x00, 0x40, 0x00, 0x00};
  ColumnValue value;
  DecodeColumnValue(7, real, value);
  EXPECT_DOUBLE_EQ(value.real, 420000000.25);
}

}  // namespace
}  // namespace corvyn::sqlite
