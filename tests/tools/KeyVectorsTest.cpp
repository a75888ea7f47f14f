// The password path against public key material: hashcat's and John the
// Ripper's itunes_backup vectors (one class key's WPKY with the keybag's
// derivation parameters each, real device keybags among them) and the
// synthetic keybags of pyiosbackup. Also hostile keybag bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/tools/BackupFolderFixture.h"
#include "tools/decrypt/Keybag.h"

namespace corvyn::testing {
namespace {
namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;

fs::path ExternalData() {
  if (const char* env = std::getenv("CORVYN_TESTDATA")) return env;
  return CORVYN_EXTERNAL_TESTDATA;
}

bc::Bytes FromHex(const std::string& hex) {
  bc::Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const bc::Bytes& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (auto b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

struct HashVector {
  std::string origin;
  std::string password;
  std::string hash;
  std::string expectedClassKey;
};

std::vector<HashVector> LoadVectors(const fs::path& file) {
  std::vector<HashVector> vectors;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto fields = Split(line, '\t');
    if (fields.size() == 4) vectors.push_back({fields[0], fields[1], fields[2], fields[3]});
  }
  return vectors;
}

// "$itunes_backup$*VERSION*WPKY*ITER*SALT*DPIC*DPSL" as a one-class keybag,
// encoded and parsed back so the vector also goes through the keybag reader.
bc::Keybag KeybagFromHash(const std::string& hash) {
  const auto fields = Split(hash, '*');
  EXPECT_GE(fields.size(), 7u) << hash;
  bc::Keybag keybag;
  keybag.uuid = bc::Bytes(16, 1);
  keybag.salt = FromHex(fields[4]);
  keybag.iterations = static_cast<std::uint32_t>(std::stoul(fields[3]));
  if (fields[1] == "10") {
    keybag.sha256Iterations = static_cast<std::uint32_t>(std::stoul(fields[5]));
    keybag.sha256Salt = FromHex(fields[6]);
  }
  bc::KeybagClassKey entry;
  entry.uuid = bc::Bytes(16, 2);
  entry.protectionClass = 3;
  entry.wrap = bc::kWrapPasscode;
  entry.wrappedKey = FromHex(fields[2]);
  keybag.classKeys.push_back(entry);

  const std::string encoded = bc::EncodeKeybag(keybag);
  bc::Keybag parsed;
  EXPECT_EQ(bc::ParseKeybag(std::span(reinterpret_cast<const std::uint8_t*>(encoded.data()), encoded.size()),
                            parsed),
            kOk);
  return parsed;
}

class KeyVectorTest : public ::testing::TestWithParam<std::string> {};

TEST_P(KeyVectorTest, RightPasswordUnwrapsTheClassKeyAndAWrongOneIsRejected) {
  const fs::path file = ExternalData() / GetParam() / "itunes_backup_vectors.tsv";
  if (!fs::exists(file)) GTEST_SKIP() << "external test data not found at " << file;
  const auto vectors = LoadVectors(file);
  ASSERT_GE(vectors.size(), 4u);
  for (const auto& vector : vectors) {
    SCOPED_TRACE(vector.origin);
    const bc::Keybag keybag = KeybagFromHash(vector.hash);
    EXPECT_EQ(keybag.IsTwoStage(), vector.hash.find("$*10*") != std::string::npos);

    const auto key = bc::DerivePasswordKey(keybag, vector.password);
    ASSERT_TRUE(key);
    std::map<std::uint32_t, bc::Bytes> classKeys;
    ASSERT_EQ(bc::UnlockClassKeys(keybag, *key, classKeys), kOk);
    EXPECT_EQ(ToHex(classKeys.at(3)), vector.expectedClassKey);

    // A near miss (one extra character) must fail the integrity check. The
    // slow real-device rounds (10,000,000) are derived once only.
    if (keybag.sha256Iterations > 100'000) continue;
    const auto wrongKey = bc::DerivePasswordKey(keybag, vector.password + "x");
    ASSERT_TRUE(wrongKey);
    EXPECT_EQ(bc::UnlockClassKeys(keybag, *wrongKey, classKeys), kWrongPassword);
    EXPECT_TRUE(classKeys.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(PublicVectors, KeyVectorTest,
                         ::testing::Values("hashcat__hashcat", "openwall__john"),
                         [](const auto& info) { return info.param.substr(0, info.param.find('_')); });

bc::Keybag ParseFile(const fs::path& file) {
  const std::string bytes = ReadBytes(file);
  bc::Keybag keybag;
  EXPECT_EQ(
      bc::ParseKeybag(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), keybag),
      kOk);
  return keybag;
}

TEST(PyiosbackupKeybag, OlderKeybagDerivesTheListedKeyAndUnlocksEveryClassToZeros) {
  const fs::path file = ExternalData() / "matan1008__pyiosbackup/extracted/keybag_pre_10_2.bin";
  if (!fs::exists(file)) GTEST_SKIP() << "external test data not found at " << file;
  const bc::Keybag keybag = ParseFile(file);
  EXPECT_EQ(keybag.version, 3u);
  EXPECT_FALSE(keybag.IsTwoStage());
  EXPECT_EQ(keybag.iterations, 10000u);
  ASSERT_EQ(keybag.classKeys.size(), 11u);

  const auto key = bc::DerivePasswordKey(keybag, "0000");
  ASSERT_TRUE(key);
  EXPECT_EQ(ToHex(*key), "a1f9ad8aab0647485a344fda6dcc4eaad54819a775676b70ad61044beefdede4");
  std::map<std::uint32_t, bc::Bytes> classKeys;
  ASSERT_EQ(bc::UnlockClassKeys(keybag, *key, classKeys), kOk);
  for (std::uint32_t protectionClass : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 11u, 16u}) {
    ASSERT_TRUE(classKeys.count(protectionClass)) << protectionClass;
    EXPECT_EQ(classKeys[protectionClass], bc::Bytes(32, 0)) << protectionClass;
  }
  const auto wrong = bc::DerivePasswordKey(keybag, "0001");
  EXPECT_EQ(bc::UnlockClassKeys(keybag, *wrong, classKeys), kWrongPassword);
}

TEST(PyiosbackupKeybag, TwoStageKeybagIsReadWithItsDerivationParameters) {
  const fs::path file = ExternalData() / "matan1008__pyiosbackup/extracted/keybag_ios10_2plus.bin";
  if (!fs::exists(file)) GTEST_SKIP() << "external test data not found at " << file;
  const bc::Keybag keybag = ParseFile(file);
  EXPECT_EQ(keybag.version, 5u);
  EXPECT_TRUE(keybag.IsTwoStage());
  EXPECT_EQ(keybag.sha256Iterations, 10'000'000u);
  EXPECT_EQ(keybag.sha256Salt, bc::Bytes(20, 0));
  ASSERT_EQ(keybag.classKeys.size(), 11u);
  const std::map<std::uint32_t, std::uint32_t> expectedWrap = {
      {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 3}, {6, 2}, {7, 2}, {8, 2}, {9, 3}, {10, 3}, {11, 3}};
  for (const auto& entry : keybag.classKeys) EXPECT_EQ(entry.wrap, expectedWrap.at(entry.protectionClass));

  // The 10,000,000-round first stage is covered by the real vectors above; here
  // the listed second-stage key must unlock every class.
  const bc::Bytes key = FromHex("ec8edc160b5745ccae000bfb4787630f322821191fba7eea38feab2c6307cd9b");
  std::map<std::uint32_t, bc::Bytes> classKeys;
  ASSERT_EQ(bc::UnlockClassKeys(keybag, key, classKeys), kOk);
  EXPECT_EQ(classKeys.size(), 11u);
  for (const auto& [protectionClass, classKey] : classKeys)
    EXPECT_EQ(classKey, bc::Bytes(32, 0)) << protectionClass;
}

TEST(KeybagParse, HostileBytesAreRejectedWithoutReadingPastTheEnd) {
  bc::Keybag good;
  good.uuid = bc::Bytes(16, 1);
  good.salt = bc::Bytes(20, 7);
  good.iterations = 10;
  good.classKeys.push_back({bc::Bytes(16, 2), 1, bc::kWrapPasscode, 0, bc::Bytes(40, 9)});
  const std::string encoded = bc::EncodeKeybag(good);

  auto parse = [](const std::string& bytes) {
    bc::Keybag keybag;
    return bc::ParseKeybag(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                           keybag);
  };
  ASSERT_EQ(parse(encoded), kOk);

  std::string hugeLength = encoded;
  hugeLength.replace(4, 4, std::string("\xff\xff\xff\xf0", 4));  // VERS claims ~4 GiB
  std::string zeroIterations = encoded;
  zeroIterations.replace(zeroIterations.find("ITER") + 8, 4, std::string(4, '\0'));
  std::string shortIter = encoded;
  shortIter.replace(shortIter.find("ITER") + 4, 4, std::string("\0\0\0\x02", 4));
  std::string tooManyRounds = encoded;
  tooManyRounds.replace(tooManyRounds.find("ITER") + 8, 4, std::string("\xff\xff\xff\xff", 4));
  std::string manyClasses = encoded;
  for (std::size_t i = 0; i <= bc::kMaxClassKeys; ++i) manyClasses += std::string("UUID\0\0\0\0", 8);

  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"no SALT or ITER", encoded.substr(0, encoded.find("SALT"))},
      {"item length past the end", hugeLength},
      {"ITER of 0 rounds", zeroIterations},
      {"ITER value of 2 bytes", shortIter},
      {"ITER above the bound", tooManyRounds},
      {"more class records than the bound", manyClasses},
      {"cut inside the last item", encoded.substr(0, encoded.size() - 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.bytes), kInvalidData) << c.name;

  // Every prefix must parse or fail cleanly (ASan watches the reads).
  for (std::size_t length = 0; length <= encoded.size(); ++length) (void)parse(encoded.substr(0, length));
}

TEST(KeybagUnlock, KeybagWithoutPasswordWrappedClassKeysIsInvalid) {
  bc::Keybag keybag;
  keybag.salt = bc::Bytes(20, 0);
  keybag.iterations = 1;
  keybag.classKeys.push_back({bc::Bytes(16, 2), 1, /*wrap=*/1, 0, bc::Bytes(40, 9)});
  std::map<std::uint32_t, bc::Bytes> classKeys;
  EXPECT_EQ(bc::UnlockClassKeys(keybag, bc::Bytes(32, 0), classKeys), kInvalidData);
}

}  // namespace
}  // namespace corvyn::testing
