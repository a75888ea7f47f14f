// Builds an encrypted backup of --files files and --megabytes MB in a
// temporary folder, then times, in one run, the "tool" program decrypting it
// and `openssl enc -d -aes-256-cbc` decrypting one file of the same total
// size. Each side runs --rounds times; the best time of each is reported.
//
//   bench_decrypt [--files 2000] [--megabytes 500] [--rounds 2] [--dir /tmp] [--keep 0|1]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/backup_crypto/BackupEncryptor.h"
#include "tools/decrypt/FileCipher.h"
#include "tools/decrypt/MbdbRecord.h"

namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;

namespace {

constexpr char kPassword[] = "bench password";

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

// Fills `path` with `size` bytes of cheap, non-repeating data.
bool WritePattern(const fs::path& path, std::uint64_t size, std::uint32_t salt) {
  std::ofstream out(path, std::ios::binary);
  std::vector<std::uint32_t> block(1 << 16);
  std::uint32_t state = 2166136261u ^ salt;
  for (std::uint64_t left = size; left > 0;) {
    for (auto& word : block) word = state = state * 1664525u + 1013904223u;
    const std::uint64_t bytes = std::min<std::uint64_t>(left, block.size() * sizeof(std::uint32_t));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(bytes));
    left -= bytes;
  }
  return out.good();
}

double TimeCommand(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int result = std::system(command.c_str());
  const auto stop = std::chrono::steady_clock::now();
  if (result != 0) {
    std::fprintf(stderr, "command failed (%d): %s\n", result, command.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(stop - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t files = 2000, megabytes = 500;
  int rounds = 2;
  bool keep = false;
  fs::path base = fs::temp_directory_path();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--files")) files = std::strtoull(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--megabytes")) megabytes = std::strtoull(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir")) base = argv[i + 1];
    else if (!std::strcmp(argv[i], "--keep")) keep = std::atoi(argv[i + 1]) != 0;
  }
  if (files == 0 || megabytes == 0 || rounds <= 0) return 2;

  const fs::path root = base / ("corvyn-bench-decrypt-" + std::to_string(std::random_device{}()));
  const fs::path plain = root / "plain", encrypted = root / "encrypted", copy = root / "copy";
  fs::create_directories(plain);
  const std::uint64_t totalBytes = megabytes << 20;

  // Sizes: one file in ten is ten times the others, the rest share what is left.
  std::vector<std::uint64_t> sizes(files);
  std::uint64_t weightSum = 0;
  for (std::uint64_t i = 0; i < files; ++i) weightSum += (i % 10 == 0) ? 10 : 1;
  std::uint64_t assigned = 0;
  for (std::uint64_t i = 0; i < files; ++i) {
    sizes[i] = totalBytes / weightSum * ((i % 10 == 0) ? 10 : 1) + (i * 37) % 16;
    assigned += sizes[i];
  }
  sizes.back() += totalBytes > assigned ? totalBytes - assigned : 0;

  std::printf("building %llu files, %llu MB in %s\n", static_cast<unsigned long long>(files),
              static_cast<unsigned long long>(megabytes), root.c_str());
  std::string mbdb = bc::MbdbHeader();
  std::uint64_t actualBytes = 0;
  for (std::uint64_t i = 0; i < files; ++i) {
    bc::MbdbRecord record;
    record.domain = "CameraRollDomain";
    record.path = "Media/DCIM/100APPLE/IMG_" + std::to_string(i) + ".MOV";
    record.mode = 0x81A4;
    record.size = sizes[i];
    record.protectionClass = static_cast<std::uint8_t>(1 + i % 4);
    if (bc::AppendMbdbRecord(record, mbdb) != corvyn::kOk || !WritePattern(plain / record.StoredName(), sizes[i], i)) {
      return 1;
    }
    actualBytes += sizes[i];
  }
  std::ofstream(plain / "Manifest.mbdb", std::ios::binary).write(mbdb.data(), static_cast<std::streamsize>(mbdb.size()));
  if (corvyn::testsupport::EncryptBackupFolder(plain, encrypted, kPassword) != corvyn::kOk) return 1;
  fs::remove_all(plain);

  // The same number of bytes as one file for openssl, with a known key.
  const fs::path single = root / "single.plain", singleEncrypted = root / "single.enc";
  const std::vector<std::uint8_t> key(32, 0x42);
  if (!WritePattern(single, actualBytes, 7) || bc::EncryptFileCbc(single, singleEncrypted, key) != corvyn::kOk) return 1;
  fs::remove(single);
  std::ofstream(root / "password") << kPassword << "\n";

  const std::string tool = Quote(fs::path(CORVYN_BIN_DIR) / "tool") + " " + Quote(encrypted) + " " + Quote(copy) +
                           " < " + Quote(root / "password") + " > /dev/null";
  std::string keyHex;
  for (int i = 0; i < 32; ++i) keyHex += "42";
  const std::string openssl = "openssl enc -d -aes-256-cbc -K " + keyHex +
                              " -iv 00000000000000000000000000000000 -in " + Quote(singleEncrypted) + " -out " +
                              Quote(root / "single.dec");
  double bestTool = 1e30, bestOpenssl = 1e30;
  for (int round = 0; round < rounds; ++round) {
    fs::remove(root / "single.dec");
    bestOpenssl = std::min(bestOpenssl, TimeCommand(openssl));
    fs::remove_all(copy);
    bestTool = std::min(bestTool, TimeCommand(tool));
  }
  const double mb = static_cast<double>(actualBytes) / (1 << 20);
  std::printf("bytes: %llu in %llu files\n", static_cast<unsigned long long>(actualBytes),
              static_cast<unsigned long long>(files));
  std::printf("openssl enc -d -aes-256-cbc: %.3f s (%.0f MB/s)\n", bestOpenssl, mb / bestOpenssl);
  std::printf("tool:                        %.3f s (%.0f MB/s)\n", bestTool, mb / bestTool);
  std::printf("ratio tool/openssl: %.2f (goal <= 1.30)\n", bestTool / bestOpenssl);
  if (!keep) fs::remove_all(root);
  return 0;
}
