#include "tools/decrypt/KeyWrap.h"

#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace corvyn::backupcrypto {
namespace {

struct CipherCtxFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

std::optional<std::vector<std::uint8_t>> RunWrap(bool wrap, std::span<const std::uint8_t> kek,
                                                 std::span<const std::uint8_t> input) {
  if (kek.size() != kKekSize || input.size() % 8 != 0 || input.size() > INT_MAX - 16) {
    return std::nullopt;
  }
  const std::size_t minimum = wrap ? 16 : 24;
  if (input.size() < minimum) return std::nullopt;

  std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> ctx(EVP_CIPHER_CTX_new());
  if (!ctx) return std::nullopt;
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr, kek.data(), nullptr, wrap ? 1 : 0) != 1) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> output(input.size() + 16);
  int written = 0;
  if (EVP_CipherUpdate(ctx.get(), output.data(), &written, input.data(), static_cast<int>(input.size())) !=
          1 ||
      written <= 0) {
    return std::nullopt;  // for unwrap: the integrity check failed
  }
  int tail = 0;
  if (EVP_CipherFinal_ex(ctx.get(), output.data() + written, &tail) != 1) return std::nullopt;
  output.resize(static_cast<std::size_t>(written + tail));
  return output;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> AesKeyUnwrap(std::span<const std::uint8_t> kek,
                                                      std::span<const std::uint8_t> wrapped) {
  return RunWrap(false, kek, wrapped);
}

std::optional<std::vector<std::uint8_t>> AesKeyWrap(std::span<const std::uint8_t> kek,
                                                    std::span<const std::uint8_t> key) {
  return RunWrap(true, kek, key);
}

}  // namespace corvyn::backupcrypto
