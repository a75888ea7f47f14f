// Whole-file AES-256-CBC: padding, the recorded size, chunk borders, and
// outputs that must not be written through links.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/tools/BackupFolderFixture.h"
#include "tools/decrypt/FileCipher.h"

namespace corvyn::testing {
namespace {
namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;
using Bytes = std::vector<std::uint8_t>;

const Bytes kKey = [] {
  Bytes key(32);
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return key;
}();

TEST(FileCipher, RoundTripsAcrossBlockAndChunkBorders) {
  TempFolder dir;
  const std::size_t chunk = bc::kCipherChunkSize;
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
                           chunk - 16, chunk - 1, chunk, chunk + 16, 3 * chunk + 5}) {
    SCOPED_TRACE(size);
    const std::string plain = PatternBytes(size, static_cast<unsigned>(size));
    WriteBytes(dir.Path() / "plain", plain);
    ASSERT_EQ(bc::EncryptFileCbc(dir.Path() / "plain", dir.Path() / "cipher", kKey), kOk);
    const std::string cipher = ReadBytes(dir.Path() / "cipher");
    EXPECT_EQ(cipher.size(), (size / 16 + 1) * 16);  // PKCS#7 always adds 1..16 bytes
    if (size >= 16) {
      EXPECT_NE(cipher.substr(0, 16), plain.substr(0, 16));
    }

    bc::FileDecryptResult result;
    ASSERT_EQ(bc::DecryptFileCbc(dir.Path() / "cipher", dir.Path() / "out", kKey, size, result), kOk);
    EXPECT_TRUE(result.paddingValid);
    EXPECT_FALSE(result.lengthMismatch);
    EXPECT_EQ(result.bytesWritten, size);
    EXPECT_TRUE(ReadBytes(dir.Path() / "out") == plain);
  }
}

TEST(FileCipher, PyiosbackupFileDecryptsToItsText) {
  const char* env = std::getenv("CORVYN_TESTDATA");
  const fs::path file = fs::path(env ? env : CORVYN_EXTERNAL_TESTDATA) /
                        "matan1008__pyiosbackup/extracted/file_5727bd1c5fa1055e15d8b4a75a74793c84b5ffdc.bin";
  if (!fs::exists(file)) GTEST_SKIP() << "external test data not found at " << file;
  TempFolder dir;
  bc::FileDecryptResult result;
  ASSERT_EQ(bc::DecryptFileCbc(file, dir.Path() / "out", Bytes(32, 0), 9, result), kOk);
  EXPECT_EQ(ReadBytes(dir.Path() / "out"), "Test data");
  EXPECT_TRUE(result.paddingValid);
}

// The padding decides the length; the recorded size only rescues a file
// whose padding is broken, and only within its last block.
TEST(FileCipher, LengthComesFromPaddingAndRecordedSizeOnlyRescuesBrokenPadding) {
  TempFolder dir;
  std::string plain = PatternBytes(32, 3);
  plain.back() = '\0';  // a last block that is not valid padding once the real padding is cut off
  WriteBytes(dir.Path() / "plain", plain);
  ASSERT_EQ(bc::EncryptFileCbc(dir.Path() / "plain", dir.Path() / "padded", kKey), kOk);
  const std::string padded = ReadBytes(dir.Path() / "padded");
  WriteBytes(dir.Path() / "unpadded", padded.substr(0, 32));          // CBC prefix: decrypts to `plain`
  WriteBytes(dir.Path() / "ragged", padded.substr(0, 32) + "12345");  // not a multiple of 16

  const struct {
    const char* name;
    const char* input;
    std::optional<std::uint64_t> recorded;
    std::size_t expectedLength;
    bool paddingValid;
    bool mismatch;
  } cases[] = {
      {"valid padding, recorded size right", "padded", 32, 32, true, false},
      {"valid padding, recorded size too small: kept", "padded", 20, 32, true, true},
      {"valid padding, recorded size too large: kept", "padded", 4096, 32, true, true},
      {"broken padding, recorded size in last block: cut", "unpadded", 27, 27, false, false},
      {"broken padding, recorded size equal", "unpadded", 32, 32, false, false},
      {"broken padding, recorded size far smaller: kept", "unpadded", 3, 32, false, true},
      {"broken padding, no recorded size", "unpadded", std::nullopt, 32, false, false},
      {"ragged ciphertext keeps its whole blocks", "ragged", 32, 32, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bc::FileDecryptResult result;
    ASSERT_EQ(bc::DecryptFileCbc(dir.Path() / c.input, dir.Path() / "out", kKey, c.recorded, result), kOk);
    EXPECT_EQ(ReadBytes(dir.Path() / "out"), plain.substr(0, c.expectedLength));
    EXPECT_EQ(result.bytesWritten, c.expectedLength);
    EXPECT_EQ(result.paddingValid, c.paddingValid);
    EXPECT_EQ(result.lengthMismatch, c.mismatch);
  }
}

TEST(FileCipher, BadKeysAndMissingInputsFailWithoutLeavingAnOutput) {
  TempFolder dir;
  WriteBytes(dir.Path() / "cipher", std::string(32, 'c'));
  bc::FileDecryptResult result;
  EXPECT_EQ(bc::DecryptFileCbc(dir.Path() / "cipher", dir.Path() / "out", Bytes(16, 0), 0, result),
            kInvalidData);
  EXPECT_NE(bc::DecryptFileCbc(dir.Path() / "absent", dir.Path() / "out", kKey, 0, result), kOk);
  EXPECT_FALSE(fs::exists(dir.Path() / "out"));
  fs::create_directory(dir.Path() / "adir");
  EXPECT_NE(bc::DecryptFileCbc(dir.Path() / "cipher", dir.Path() / "adir", kKey, 0, result), kOk);
  EXPECT_TRUE(fs::is_directory(dir.Path() / "adir"));
}

TEST(FileCipher, OutputReplacesALinkInsteadOfWritingThroughIt) {
  TempFolder dir;
  WriteBytes(dir.Path() / "plain", "secret contents");
  ASSERT_EQ(bc::EncryptFileCbc(dir.Path() / "plain", dir.Path() / "cipher", kKey), kOk);
  WriteBytes(dir.Path() / "victim", "keep me");
  fs::create_symlink(dir.Path() / "victim", dir.Path() / "out");
  fs::create_symlink(dir.Path() / "nowhere", dir.Path() / "dangling");

  bc::FileDecryptResult result;
  ASSERT_EQ(bc::DecryptFileCbc(dir.Path() / "cipher", dir.Path() / "out", kKey, 15, result), kOk);
  ASSERT_EQ(bc::DecryptFileCbc(dir.Path() / "cipher", dir.Path() / "dangling", kKey, 15, result), kOk);
  EXPECT_EQ(ReadBytes(dir.Path() / "victim"), "keep me");
  EXPECT_FALSE(fs::exists(dir.Path() / "nowhere"));
  for (const char* name : {"out", "dangling"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.Path() / name))) << name;
    EXPECT_EQ(ReadBytes(dir.Path() / name), "secret contents") << name;
  }
}

}  // namespace
}  // namespace corvyn::testing
