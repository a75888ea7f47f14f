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

#include "backup/mbdb/MbdbRecord.h"
#include "bench/decrypt/CommandTiming.h"
#include "tests/support/backup_crypto/BackupEncryptor.h"
#include "tools/decrypt/FileCipher.h"

namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;

namespace {

constexpr char kPassword[] = "bench password";

// Paths are quoted for the inner shell of TimeCommand.
std::string Quote(const fs::path& path) {
  return "\"" + path.string() + "\"";
}

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

using corvyn::bench::TimeCommand;
using corvyn::bench::Timing;

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t files = 2000, megabytes = 500;
  int rounds = 2;
  bool keep = false;
  fs::path base = fs::temp_directory_path();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--files"))
      files = std::strtoull(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--megabytes"))
      megabytes = std::strtoull(argv[i + 1], nullptr, 10);
    else if (!std::strcmp(argv[i], "--rounds"))
      rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir"))
      base = argv[i + 1];
    else if (!std::strcmp(argv[i], "--keep"))
      keep = std::atoi(argv[i + 1]) != 0;
  }
  if (files == 0 || megabytes == 0 || rounds <= 0) return 2;

  const fs::path root = base / ("corvyn-bench-decrypt-" + std::to_string(std::random_device{}()));
  const fs::path plain = root / "plain", encrypted = root / "encrypted";
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
  std::string mbdb = corvyn::backup::MbdbHeader();
  std::uint64_t actualBytes = 0;
  for (std::uint64_t i = 0; i < files; ++i) {
    corvyn::backup::MbdbRecord record;
    record.domain = "CameraRollDomain";
    record.path = "Media/DCIM/100APPLE/IMG_" + std::to_string(i) + ".MOV";
    record.mode = 0x81A4;
    record.size = sizes[i];
    record.protectionClass = static_cast<std::uint8_t>(1 + i % 4);
    if (corvyn::backup::AppendMbdbRecord(record, mbdb) != corvyn::kOk ||
        !WritePattern(plain / record.StoredName(), sizes[i], i)) {
      return 1;
    }
    actualBytes += sizes[i];
  }
  std::ofstream(plain / "Manifest.mbdb", std::ios::binary)
      .write(mbdb.data(), static_cast<std::streamsize>(mbdb.size()));
  if (corvyn::testsupport::EncryptBackupFolder(plain, encrypted, kPassword) != corvyn::kOk) return 1;

  // The same number of bytes as one file for openssl, with a known key.
  const fs::path single = root / "single.plain", singleEncrypted = root / "single.enc";
  const std::vector<std::uint8_t> key(32, 0x42);
  if (!WritePattern(single, actualBytes, 7) ||
      bc::EncryptFileCbc(single, singleEncrypted, key) != corvyn::kOk)
    return 1;
  std::ofstream(root / "password") << kPassword << "\n";

  std::string keyHex;
  for (int i = 0; i < 32; ++i) keyHex += "42";
  // Nothing is deleted before or between the timed runs: ext4 spends long
  // searching for inodes when many were freed moments ago, which would be
  // charged to whichever side creates files next. Each run writes a new folder.
  Timing bestTool, bestOpenssl;
  for (int round = 0; round < rounds; ++round) {
    const std::string suffix = std::to_string(round);
    const std::string toolCommand = Quote(fs::path(CORVYN_BIN_DIR) / "tool") + " " + Quote(encrypted) + " " +
                                    Quote(root / ("copy" + suffix)) + " < " + Quote(root / "password") +
                                    " > /dev/null";
    const std::string opensslCommand = "openssl enc -d -aes-256-cbc -K " + keyHex +
                                       " -iv 00000000000000000000000000000000 -in " + Quote(singleEncrypted) +
                                       " -out " + Quote(root / ("single.dec" + suffix));
    // Each side starts with no dirty pages of the other's output to flush.
    (void)std::system("sync");
    const Timing openssl = TimeCommand(opensslCommand, root / "time");
    (void)std::system("sync");
    const Timing tool = TimeCommand(toolCommand, root / "time");
    bestOpenssl = {std::min(bestOpenssl.wall, openssl.wall), std::min(bestOpenssl.cpu, openssl.cpu)};
    bestTool = {std::min(bestTool.wall, tool.wall), std::min(bestTool.cpu, tool.cpu)};
  }
  const double mb = static_cast<double>(actualBytes) / (1 << 20);
  std::printf("bytes: %llu in %llu files (best of %d rounds)\n", static_cast<unsigned long long>(actualBytes),
              static_cast<unsigned long long>(files), rounds);
  std::printf("openssl enc -d -aes-256-cbc: wall %.3f s (%.0f MB/s), cpu %.3f s\n", bestOpenssl.wall,
              mb / bestOpenssl.wall, bestOpenssl.cpu);
  std::printf("tool:                        wall %.3f s (%.0f MB/s), cpu %.3f s\n", bestTool.wall,
              mb / bestTool.wall, bestTool.cpu);
  std::printf("ratio tool/openssl: wall %.2f, cpu %.2f (goal <= 1.30)\n", bestTool.wall / bestOpenssl.wall,
              bestTool.cpu / bestOpenssl.cpu);
  if (!keep) fs::remove_all(root);
  return 0;
}
