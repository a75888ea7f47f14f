#include "tools/decrypt/FileCipher.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace corvyn::backupcrypto {
namespace {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

// Chunk buffers are kept per thread: a backup holds thousands of files, and
// fresh megabyte buffers per file cost more than the decryption itself.
struct ChunkBuffers {
  std::vector<std::uint8_t> input = std::vector<std::uint8_t>(kCipherChunkSize);
  std::vector<std::uint8_t> output = std::vector<std::uint8_t>(kCipherChunkSize + kAesBlockSize);
};

ChunkBuffers& Buffers() {
  thread_local ChunkBuffers buffers;
  return buffers;
}

CipherCtx MakeCipher(bool encrypt, std::span<const std::uint8_t> key) {
  if (key.size() != kFileKeySize) return nullptr;
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  static constexpr std::uint8_t kZeroIv[kAesBlockSize] = {};
  if (!ctx ||
      EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key.data(), kZeroIv, encrypt ? 1 : 0) != 1) {
    return nullptr;
  }
  EVP_CIPHER_CTX_set_padding(ctx.get(), encrypt ? 1 : 0);
  return ctx;
}

Status OpenInput(const std::filesystem::path& path, FileHandle& file, std::uint64_t& size) {
  errno = 0;
  file.reset(std::fopen(path.c_str(), "rb"));
  if (!file) return Status::System(errno, "opening " + path.string());
  errno = 0;
  const long end = std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
  if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
    return Status::System(errno != 0 ? errno : EISDIR, "reading " + path.string());  // a folder, a pipe
  size = static_cast<std::uint64_t>(end);
  return kOk;
}

// PKCS#7: 1..16 bytes, each equal to the count.
std::size_t PaddingLength(std::span<const std::uint8_t> lastBlock) {
  const std::uint8_t count = lastBlock.back();
  if (count == 0 || count > kAesBlockSize) return 0;
  for (std::size_t i = lastBlock.size() - count; i < lastBlock.size(); ++i) {
    if (lastBlock[i] != count) return 0;
  }
  return count;
}

Status WriteAll(std::FILE* file, const std::uint8_t* data, std::size_t size) {
  if (size == 0) return kOk;
  errno = 0;
  if (std::fwrite(data, 1, size, file) != size) return Status::System(errno, "writing the decrypted file");
  return kOk;
}

Status Finish(FileHandle& file, const std::filesystem::path& output, Status status) {
  if (file && std::fclose(file.release()) != 0 && status == kOk)
    status = Status::System(errno, "writing " + output.string());
  if (status != kOk) {
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
  }
  return status;
}

}  // namespace

Status CreateFreshFile(const std::filesystem::path& path, FileHandle& file) {
  // "x": never open anything that already lies at the path (a link would be
  // followed); a fresh copy folder needs no other check.
  errno = 0;
  file.reset(std::fopen(path.c_str(), "wbx"));
  if (file) return kOk;
  if (errno != EEXIST) return Status::System(errno, "creating " + path.string());
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ec)))
    return Status::System(EISDIR, "creating " + path.string());
  std::filesystem::remove(path, ec);
  if (ec) return Status::System(ec, "replacing " + path.string());
  errno = 0;
  file.reset(std::fopen(path.c_str(), "wbx"));
  if (!file) return Status::System(errno, "creating " + path.string());
  return kOk;
}

Status DecryptFileCbc(const std::filesystem::path& input, const std::filesystem::path& output,
                      std::span<const std::uint8_t> key, std::optional<std::uint64_t> recordedSize,
                      FileDecryptResult& result) {
  result = FileDecryptResult{};
  CipherCtx ctx = MakeCipher(false, key);
  if (!ctx) return kInvalidData;
  FileHandle in;
  std::uint64_t inputSize = 0;
  if (Status status = OpenInput(input, in, inputSize); status != kOk) return status;
  FileHandle out;
  if (Status status = CreateFreshFile(output, out); status != kOk) return status;

  const std::uint64_t wholeBlocks = inputSize - inputSize % kAesBlockSize;
  std::vector<std::uint8_t>& cipherText = Buffers().input;
  std::vector<std::uint8_t>& plainText = Buffers().output;
  std::uint64_t consumed = 0;
  Status status = kOk;
  while (status == kOk && consumed < wholeBlocks) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kCipherChunkSize, wholeBlocks - consumed));
    if (std::fread(cipherText.data(), 1, want, in.get()) != want) {
      status = kShortRead;
      break;
    }
    consumed += want;
    int produced = 0;
    if (EVP_DecryptUpdate(ctx.get(), plainText.data(), &produced, cipherText.data(),
                          static_cast<int>(want)) != 1) {
      status = kInvalidData;
      break;
    }
    std::size_t keep = static_cast<std::size_t>(produced);
    if (consumed == wholeBlocks && keep >= kAesBlockSize) {
      const bool aligned = wholeBlocks == inputSize;
      const std::size_t padding =
          aligned ? PaddingLength(std::span(plainText.data() + keep - kAesBlockSize, kAesBlockSize)) : 0;
      result.paddingValid = padding != 0;
      if (padding != 0) {
        keep -= padding;
      } else if (aligned && recordedSize && *recordedSize < result.bytesWritten + keep &&
                 *recordedSize + kAesBlockSize >= result.bytesWritten + keep) {
        keep = static_cast<std::size_t>(*recordedSize - result.bytesWritten);
      }
    }
    status = WriteAll(out.get(), plainText.data(), keep);
    result.bytesWritten += keep;
  }
  if (status == kOk && recordedSize) result.lengthMismatch = result.bytesWritten != *recordedSize;
  return Finish(out, output, status);
}

Status EncryptFileCbc(const std::filesystem::path& input, const std::filesystem::path& output,
                      std::span<const std::uint8_t> key) {
  CipherCtx ctx = MakeCipher(true, key);
  if (!ctx) return kInvalidData;
  FileHandle in;
  std::uint64_t inputSize = 0;
  if (Status status = OpenInput(input, in, inputSize); status != kOk) return status;
  FileHandle out;
  if (Status status = CreateFreshFile(output, out); status != kOk) return status;

  std::vector<std::uint8_t>& plainText = Buffers().input;
  std::vector<std::uint8_t>& cipherText = Buffers().output;
  Status status = kOk;
  for (;;) {
    const std::size_t got = std::fread(plainText.data(), 1, plainText.size(), in.get());
    if (got == 0) break;
    int produced = 0;
    if (EVP_EncryptUpdate(ctx.get(), cipherText.data(), &produced, plainText.data(), static_cast<int>(got)) !=
        1) {
      status = kInvalidData;
      break;
    }
    if (status = WriteAll(out.get(), cipherText.data(), static_cast<std::size_t>(produced)); status != kOk)
      break;
  }
  if (status == kOk && std::ferror(in.get())) status = kShortRead;
  if (status == kOk) {
    int produced = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), cipherText.data(), &produced) != 1) {
      status = kInvalidData;
    } else {
      status = WriteAll(out.get(), cipherText.data(), static_cast<std::size_t>(produced));
    }
  }
  return Finish(out, output, status);
}

}  // namespace corvyn::backupcrypto
