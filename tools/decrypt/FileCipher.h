// Whole-file AES-256-CBC with a zero IV, the cipher of every stored file in an
// encrypted backup. Files are processed in chunks of kCipherChunkSize, so
// memory stays bounded whatever the file size.
//
// Decryption strips PKCS#7 padding from the last block. The recorded size of
// the manifest is known to be wrong for some files, so the padding decides
// the length; only when the padding is invalid and the recorded size lies
// within the last block is the output cut to the recorded size. A ciphertext
// whose length is not a multiple of 16 keeps its whole blocks and is flagged.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>

#include "platform/Status.h"

namespace corvyn::backupcrypto {

inline constexpr std::size_t kAesBlockSize = 16;
inline constexpr std::size_t kFileKeySize = 32;
inline constexpr std::size_t kCipherChunkSize =
    1 << 16;  // stays in the processor's cache between cipher and write

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct FileDecryptResult {
  std::uint64_t bytesWritten = 0;
  bool paddingValid = false;
  bool lengthMismatch = false;  // the written length differs from the recorded size
};

// Creates `path` for writing as a new file. Whatever lies at `path` already
// (a file or a symbolic link, never followed) is removed first; a directory
// there is an error. Returns kOk or an errno value.
Status CreateFreshFile(const std::filesystem::path& path, FileHandle& file);

// Decrypts `input` into a fresh `output`. Returns kOk (see result for padding
// and length findings), kShortRead when the input shrinks while read, or an
// errno value. A partly written output is removed on failure.
Status DecryptFileCbc(const std::filesystem::path& input, const std::filesystem::path& output,
                      std::span<const std::uint8_t> key, std::optional<std::uint64_t> recordedSize,
                      FileDecryptResult& result);

// Encrypts `input` into a fresh `output` with PKCS#7 padding.
Status EncryptFileCbc(const std::filesystem::path& input, const std::filesystem::path& output,
                      std::span<const std::uint8_t> key);

}  // namespace corvyn::backupcrypto
