// Decryption of the stored files of an encrypted Manifest.db backup. Builds,
// in a temporary folder under --dir, such a backup of --files files totalling
// --megabytes MB (sizes spread like a phone's: many small files, a few large
// ones), each with its own wrapped file key. Then times, best of --rounds:
//   (a) ModernBackup::DecryptFile over every file, in this process, after one
//       Unlock;
//   (b) one shell script running `openssl enc -d -aes-256-cbc` once per file
//       with the same keys;
//   (c) `openssl enc -d` over one file of the same total size (no process
//       start-up per file: the stricter bound).
// Prints wall and processor time of each and the ratios; the goal is (a)
// within 1.3 times (c). Every file of (a) is compared with its plain original
// and a few of (b) with (a), byte by byte.
//
// Run it when nothing has deleted many files on the same file system in the
// last five minutes: ext4 passes over recently freed inodes when it creates
// files, which slows (a) and (b), 2,000 new files each, but not (c).
//
//   bench_modern_files [--files 2000] [--megabytes 500] [--rounds 2] [--dir /tmp] [--keep 0|1]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/decrypt/CommandTiming.h"
#include "bench/decrypt/ModernBenchSupport.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tools/decrypt/FileCipher.h"
#include "tools/decrypt/ModernBackup.h"

namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;
using corvyn::kOk;
using corvyn::bench::Timing;

namespace {

constexpr char kPassword[] = "bench password";
constexpr char kZeroIv[] = "00000000000000000000000000000000";

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

// File sizes as a camera roll and app folders spread them: log-normal around
// 40 KB with a long tail of videos, scaled to `total` bytes.
std::vector<std::uint64_t> SpreadSizes(std::uint64_t files, std::uint64_t total) {
  std::mt19937_64 random(20261210);
  std::lognormal_distribution<double> spread(std::log(40.0 * 1024), 1.8);
  std::vector<double> weights(files);
  double sum = 0;
  for (auto& weight : weights) sum += weight = spread(random);
  std::vector<std::uint64_t> sizes(files);
  std::uint64_t assigned = 0;
  for (std::uint64_t i = 0; i < files; ++i) {
    sizes[i] =
        std::max<std::uint64_t>(1, static_cast<std::uint64_t>(weights[i] / sum * static_cast<double>(total)));
    assigned += sizes[i];
  }
  const auto largest = std::max_element(sizes.begin(), sizes.end());
  if (total > assigned) *largest += total - assigned;
  return sizes;
}

void Fail(const char* what) {
  std::fprintf(stderr, "bench_modern_files: %s\n", what);
  std::exit(1);
}

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
  if (files == 0 || megabytes == 0 || rounds <= 0) {
    std::fprintf(
        stderr,
        "usage: bench_modern_files [--files N] [--megabytes N] [--rounds N] [--dir D] [--keep 0|1]\n");
    return 2;
  }

  const fs::path root = base / ("corvyn-bench-modern-files-" + std::to_string(std::random_device{}()));
  const fs::path plain = root / "plain", encrypted = root / "encrypted";
  const std::uint64_t totalBytes = megabytes << 20;
  const std::vector<std::uint64_t> sizes = SpreadSizes(files, totalBytes);

  // The builder writes the folder with empty files; each then grows on disk
  // to its size before the folder is encrypted (file_size gives the records'
  // Size), so no file is ever held in memory whole.
  std::printf("building %llu files, %llu MB in %s\n", static_cast<unsigned long long>(files),
              static_cast<unsigned long long>(megabytes), root.c_str());
  const auto buildStart = std::chrono::steady_clock::now();
  corvyn::testsupport::BackupBuilder builder;
  builder.info.productVersion = "16.4";
  std::vector<std::string> storedNames;
  for (std::uint64_t i = 0; i < files; ++i) {
    const bool video = sizes[i] > (8u << 20);
    const std::string path = "Media/DCIM/1" + std::to_string(i / 1000) + "APPLE/IMG_" + std::to_string(i) +
                             (video ? ".MOV" : ".JPG");
    builder.AddFile("CameraRollDomain", path, "");
    storedNames.push_back(corvyn::testsupport::StoredNameFor("CameraRollDomain", path));
  }
  if (builder.WriteNewerLayout(plain) != kOk) Fail("cannot write the plain backup");
  const auto plainFile = [&](std::uint64_t i) {
    return plain / storedNames[i].substr(0, 2) / storedNames[i];
  };
  for (std::uint64_t i = 0; i < files; ++i) {
    if (!corvyn::bench::ExtendWithPattern(plainFile(i), sizes[i], static_cast<std::uint32_t>(i)))
      Fail("cannot write a stored file");
  }
  if (corvyn::testsupport::EncryptNewerLayoutFolder(plain, encrypted, kPassword) != kOk)
    Fail("cannot encrypt the backup");

  // One file of the same total size, with a known key, for (c).
  const fs::path single = root / "single.plain", singleEncrypted = root / "single.enc";
  const std::vector<std::uint8_t> singleKey(32, 0x42);
  if (!corvyn::bench::ExtendWithPattern(single, totalBytes, 7) ||
      bc::EncryptFileCbc(single, singleEncrypted, singleKey) != kOk)
    Fail("cannot write the single file");
  fs::remove(single);

  bc::ModernBackup backup;
  if (bc::ModernBackup::Open(encrypted, backup) != kOk || backup.Unlock(kPassword) != kOk)
    Fail("the encrypted backup does not unlock");
  std::vector<corvyn::bench::StoredRow> rows;
  if (const corvyn::Status status = corvyn::bench::ReadStoredRows(backup, root, rows); status != kOk)
    Fail(status.Message().c_str());
  if (rows.size() != files) Fail("Manifest.db does not list every file");
  std::printf("built in %.1f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - buildStart).count());

  // (b): the keys in hex, one openssl per file, per round.
  const auto writeScript = [&](const fs::path& outFolder) {
    const fs::path script = root / ("openssl-" + outFolder.filename().string() + ".sh");
    std::ofstream out(script);
    out << "set -e\n";
    for (const auto& row : rows) {
      bc::Bytes key;
      if (backup.UnwrapKey(row.wrappedKey, key) != kOk) Fail("a file key does not unwrap");
      out << "openssl enc -d -aes-256-cbc -K " << corvyn::bench::Hex(key) << " -iv " << kZeroIv << " -in "
          << corvyn::bench::Quote(encrypted / row.fileId.substr(0, 2) / row.fileId) << " -out "
          << corvyn::bench::Quote(outFolder / row.fileId) << "\n";
    }
    return script;
  };

  // Nothing is deleted before or between the timed runs: ext4 spends long
  // searching for inodes when many were freed moments ago, which would be
  // charged to whichever side creates files next. Each run writes a new folder.
  Timing ours, opensslFiles, opensslSingle;
  for (int round = 0; round < rounds; ++round) {
    const std::string suffix = std::to_string(round);
    const fs::path oursOut = root / ("ours" + suffix), opensslOut = root / ("openssl" + suffix);
    fs::create_directories(oursOut);
    fs::create_directories(opensslOut);
    const fs::path script = writeScript(opensslOut);

    (void)std::system("sync");
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ProcessCpuSeconds();
    for (const auto& row : rows) {
      bc::FileDecryptResult result;
      if (backup.DecryptFile(row.wrappedKey, encrypted / row.fileId.substr(0, 2) / row.fileId,
                             oursOut / row.fileId, std::nullopt, result) != kOk)
        Fail("a file does not decrypt");
    }
    const double oursWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double oursCpu = ProcessCpuSeconds() - cpuStart;
    ours = {std::min(ours.wall, oursWall), std::min(ours.cpu, oursCpu)};

    (void)std::system("sync");
    const Timing files = corvyn::bench::TimeCommand("bash " + corvyn::bench::Quote(script), root / "time");
    opensslFiles = {std::min(opensslFiles.wall, files.wall), std::min(opensslFiles.cpu, files.cpu)};

    (void)std::system("sync");
    const Timing one =
        corvyn::bench::TimeCommand("openssl enc -d -aes-256-cbc -K " + corvyn::bench::Hex(singleKey) +
                                       " -iv " + kZeroIv + " -in " + corvyn::bench::Quote(singleEncrypted) +
                                       " -out " + corvyn::bench::Quote(root / ("single.dec" + suffix)),
                                   root / "time");
    opensslSingle = {std::min(opensslSingle.wall, one.wall), std::min(opensslSingle.cpu, one.cpu)};
  }

  // Every decrypted file equals its original; openssl agrees on the first,
  // the largest and the smallest.
  std::uint64_t same = 0;
  for (std::uint64_t i = 0; i < files; ++i) {
    same += corvyn::bench::SameContents(plainFile(i), root / "ours0" / storedNames[i]) ? 1 : 0;
  }
  const auto largest = std::max_element(sizes.begin(), sizes.end()) - sizes.begin();
  const auto smallest = std::min_element(sizes.begin(), sizes.end()) - sizes.begin();
  bool opensslAgrees = true;
  for (const auto i : {std::ptrdiff_t{0}, largest, smallest, static_cast<std::ptrdiff_t>(files - 1)}) {
    opensslAgrees = opensslAgrees && corvyn::bench::SameContents(root / "ours0" / storedNames[i],
                                                                 root / "openssl0" / storedNames[i]);
  }

  const double mb = static_cast<double>(totalBytes) / (1 << 20);
  std::printf(
      "%llu files, %.0f MB (smallest %llu B, median %llu B, largest %.1f MB), best of %d rounds\n",
      static_cast<unsigned long long>(files), mb, static_cast<unsigned long long>(sizes[smallest]),
      [&] {
        auto sorted = sizes;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        return static_cast<unsigned long long>(sorted[sorted.size() / 2]);
      }(),
      static_cast<double>(sizes[largest]) / (1 << 20), rounds);
  std::printf("                                 wall s    MB/s   cpu s\n");
  const auto line = [&](const char* name, const Timing& timing) {
    std::printf("%-32s %7.3f %7.0f %7.3f\n", name, timing.wall, mb / timing.wall, timing.cpu);
  };
  line("(a) ModernBackup::DecryptFile", ours);
  line("(b) openssl per file", opensslFiles);
  line("(c) openssl on one file", opensslSingle);
  std::printf("(a)/(b): wall %.2f, cpu %.2f\n", ours.wall / opensslFiles.wall, ours.cpu / opensslFiles.cpu);
  std::printf("(a)/(c): wall %.2f, cpu %.2f (goal <= 1.30)\n", ours.wall / opensslSingle.wall,
              ours.cpu / opensslSingle.cpu);
  std::printf("check: %llu of %llu files equal their originals; openssl %s\n",
              static_cast<unsigned long long>(same), static_cast<unsigned long long>(files),
              opensslAgrees ? "gives the same bytes" : "DIFFERS");
  if (!keep) fs::remove_all(root);
  return same == files && opensslAgrees ? 0 : 1;
}
