#include "backup/EncryptedStore.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <span>
#include <system_error>

#include "tools/decrypt/ModernBackup.h"

namespace corvyn::backup {
namespace fs = std::filesystem;
namespace bc = backupcrypto;

struct EncryptedStore::Keys {
  bc::ModernBackup backup;
};

EncryptedStore::EncryptedStore(std::unique_ptr<Keys> keys) : keys_(std::move(keys)) {}
EncryptedStore::~EncryptedStore() = default;

namespace {

constexpr auto kTickInterval = std::chrono::milliseconds(100);
constexpr int kCalibrationRounds = 20000;

// Seconds one round of PBKDF2-HMAC-SHA256 takes here, measured on a few
// thousand rounds (the first stage's cost decides how long a check takes).
double SecondsPerRound() {
  const unsigned char salt[20] = {};
  unsigned char out[32];
  const auto start = std::chrono::steady_clock::now();
  PKCS5_PBKDF2_HMAC("calibration", 11, salt, sizeof salt, kCalibrationRounds, EVP_sha256(), sizeof out, out);
  const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
  return std::max(spent.count() / kCalibrationRounds, 1e-9);
}

std::span<const std::uint8_t> KeyOf(const BackupFileEntry& entry) {
  return {reinterpret_cast<const std::uint8_t*>(entry.wrappedKey.data()), entry.wrappedKey.size()};
}

Status CheckKeyPresent(const BackupFileEntry& entry) {
  if (!entry.wrappedKey.empty()) return kOk;
  return Status(kInvalidData, "the file list gives no key for " + entry.key);
}

}  // namespace

Status EncryptedStore::Unlock(const fs::path& folder, std::string_view password, const CheckTick& tick,
                              std::unique_ptr<EncryptedStore>& store) {
  store.reset();
  auto keys = std::make_unique<Keys>();
  if (const Status status = bc::ModernBackup::Open(folder, keys->backup); status != kOk) return status;

  // The check runs beside this thread, which reports an estimate of its
  // progress (from the round counts and the speed of this machine) and
  // passes on a stop once the check has ended.
  const bc::Keybag& keybag = keys->backup.keybag();
  const double perRound = SecondsPerRound();
  const double expected =
      perRound * (static_cast<double>(keybag.IsTwoStage() ? keybag.sha256Iterations : 0) +
                  static_cast<double>(keybag.iterations) * 0.7);  // a SHA-1 round costs less
  const auto start = std::chrono::steady_clock::now();
  auto check = std::async(std::launch::async, [&keys, password] { return keys->backup.Unlock(password); });
  Status answer = kOk;
  while (check.wait_for(kTickInterval) != std::future_status::ready) {
    if (!tick || answer != kOk) continue;
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    answer = tick(std::min(spent.count() / std::max(expected, 1e-3), 0.99));
  }
  const Status status = check.get();
  if (status != kOk) return status;
  if (answer != kOk) return answer;
  store.reset(new EncryptedStore(std::move(keys)));
  return kOk;
}

Status EncryptedStore::DecryptFileList(const fs::path& output) const {
  return keys_->backup.DecryptManifestDb(output);
}

Status EncryptedStore::ProbeFile(const BackupFileEntry& entry, const fs::path& stored, std::size_t count,
                                 Probe& probe, bool length) const {
  probe = {};
  if (Status status = CheckKeyPresent(entry); status != kOk) return status;
  bc::ModernBackup::FileProbe found;
  const std::optional<std::uint64_t> recorded =
      entry.hasAttributes ? std::optional<std::uint64_t>(entry.size) : std::nullopt;
  if (Status status = keys_->backup.ProbeFile(KeyOf(entry), stored, count, recorded, found, length);
      status != kOk)
    return status.WithContext(entry.key);
  probe.head = std::move(found.prefix);
  probe.plainLength = found.plainLength;
  return kOk;
}

Status EncryptedStore::DecryptFile(const BackupFileEntry& entry, const fs::path& stored,
                                   const fs::path& output) const {
  if (Status status = CheckKeyPresent(entry); status != kOk) return status;
  bc::FileDecryptResult result;
  const std::optional<std::uint64_t> recorded =
      entry.hasAttributes ? std::optional<std::uint64_t>(entry.size) : std::nullopt;
  if (Status status = keys_->backup.DecryptFile(KeyOf(entry), stored, output, recorded, result);
      status != kOk) {
    std::error_code ignored;
    fs::remove(output, ignored);
    return status.WithContext(entry.key);
  }
  return kOk;
}

std::string EncryptedStore::UnsupportedClassesNote() const {
  const auto& classes = keys_->backup.UnsupportedClasses();
  if (classes.empty()) return {};
  std::string list;
  for (const std::uint32_t protectionClass : classes) {
    if (!list.empty()) list += ", ";
    list += std::to_string(protectionClass);
  }
  return "files of protection class " + list +
         " use a key type this program cannot unwrap (Curve25519) and are left out";
}

}  // namespace corvyn::backup
