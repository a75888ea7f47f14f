// The password check of an encrypted backup of the Manifest.db era: the
// two-stage derivation (PBKDF2-HMAC-SHA256 with --sha256-rounds, real backups
// use 10,000,000, then PBKDF2-HMAC-SHA1 with 10,000) and the unwrap of the
// class keys, timed in process through ModernBackup::Unlock, against the same
// two derivations done by `openssl kdf`. Both keys are compared, so a fast
// but wrong derivation shows. Each side runs --rounds times; the best
// processor time of each is reported.
//
//   bench_unlock [--sha256-rounds 10000000] [--rounds 1] [--dir /tmp]
#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench/decrypt/CommandTiming.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tools/decrypt/Keybag.h"
#include "tools/decrypt/ModernBackup.h"

namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;

namespace {

constexpr char kPassword[] = "bench password";

std::string Hex(const bc::Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (auto b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

using corvyn::bench::Timing;

// Runs `command` timed; its output (a key in openssl's colon-separated hex)
// is left in `outFile`.
Timing TimeCommand(const std::string& command, const fs::path& outFile, const fs::path& timeFile) {
  return corvyn::bench::TimeCommand(command + " > " + outFile.string(), timeFile);
}

std::string KeyFrom(const fs::path& file) {
  std::ifstream in(file);
  std::string line, hex;
  std::getline(in, line);
  for (char c : line)
    if (c != ':') hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return hex;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t sha256Rounds = 10'000'000;
  int rounds = 1;
  fs::path base = fs::temp_directory_path();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--sha256-rounds"))
      sha256Rounds = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (!std::strcmp(argv[i], "--rounds"))
      rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir"))
      base = argv[i + 1];
  }
  if (sha256Rounds == 0 || rounds <= 0) return 2;

  // A small backup whose keybag carries the real round counts; the builder
  // derives the key once itself while writing it.
  const fs::path root = base / ("corvyn-bench-unlock-" + std::to_string(std::random_device{}()));
  const fs::path plain = root / "plain", encrypted = root / "encrypted";
  fs::create_directories(plain);
  std::ofstream(plain / "Manifest.plist")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict/></plist>\n";
  sqlite3* db = nullptr;
  if (sqlite3_open((plain / "Manifest.db").c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db,
                   "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags "
                   "INTEGER, file BLOB)",
                   nullptr, nullptr, nullptr) != SQLITE_OK)
    return 1;
  sqlite3_close(db);
  corvyn::testsupport::ModernEncryptOptions options;
  options.iterations = 10000;
  options.sha256Iterations = sha256Rounds;
  std::printf("writing a backup with DPIC %u, ITER %u in %s\n", sha256Rounds, options.iterations,
              root.c_str());
  if (corvyn::testsupport::EncryptNewerLayoutFolder(plain, encrypted, kPassword, options) != corvyn::kOk)
    return 1;

  bc::ModernBackup backup;
  if (bc::ModernBackup::Open(encrypted, backup) != corvyn::kOk) return 1;
  const bc::Keybag& keybag = backup.keybag();
  const auto expected = bc::DerivePasswordKey(keybag, kPassword);
  if (!expected) return 1;

  Timing bestUnlock, bestOpenssl;
  for (int round = 0; round < rounds; ++round) {
    const double wall = WallSeconds(), cpu = ProcessCpuSeconds();
    if (backup.Unlock(kPassword) != corvyn::kOk) {
      std::fprintf(stderr, "unlock failed\n");
      return 1;
    }
    bestUnlock = {std::min(bestUnlock.wall, WallSeconds() - wall),
                  std::min(bestUnlock.cpu, ProcessCpuSeconds() - cpu)};

    const std::string stage1 = "openssl kdf -keylen 32 -kdfopt digest:SHA256 -kdfopt pass:\"" +
                               std::string(kPassword) + "\" -kdfopt hexsalt:" + Hex(keybag.sha256Salt) +
                               " -kdfopt iter:" + std::to_string(keybag.sha256Iterations) + " PBKDF2";
    const Timing first = TimeCommand(stage1, root / "stage1", root / "time");
    const std::string stage2 =
        "openssl kdf -keylen 32 -kdfopt digest:SHA1 -kdfopt hexpass:" + KeyFrom(root / "stage1") +
        " -kdfopt hexsalt:" + Hex(keybag.salt) + " -kdfopt iter:" + std::to_string(keybag.iterations) +
        " PBKDF2";
    const Timing second = TimeCommand(stage2, root / "stage2", root / "time");
    if (KeyFrom(root / "stage2") != Hex(*expected)) {
      std::fprintf(stderr, "openssl derived another key: %s\n", KeyFrom(root / "stage2").c_str());
      return 1;
    }
    bestOpenssl = {std::min(bestOpenssl.wall, first.wall + second.wall),
                   std::min(bestOpenssl.cpu, first.cpu + second.cpu)};
  }
  std::printf("two-stage derivation, DPIC %u + ITER %u (best of %d)\n", keybag.sha256Iterations,
              keybag.iterations, rounds);
  std::printf("openssl kdf (both stages):      wall %.3f s, cpu %.3f s\n", bestOpenssl.wall, bestOpenssl.cpu);
  std::printf("ModernBackup::Unlock (+unwrap): wall %.3f s, cpu %.3f s\n", bestUnlock.wall, bestUnlock.cpu);
  std::printf("ratio unlock/openssl: wall %.2f, cpu %.2f\n", bestUnlock.wall / bestOpenssl.wall,
              bestUnlock.cpu / bestOpenssl.cpu);
  fs::remove_all(root);
  return 0;
}
