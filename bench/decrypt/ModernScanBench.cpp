// A whole scan of a large encrypted Manifest.db backup against the least any
// scan must do. Builds, under --dir, a backup of about --gigabytes GB: the
// standard databases (sms.db with --messages messages, contacts, calls,
// notes, WhatsApp) plus large media that start like real ones (camera-roll
// JPEGs and MOVs, message attachments, app photos and videos), encrypted as
// the phone does with a password. Then times, best of --rounds:
//   scan      `corvyn-cli scan FOLDER --password-stdin` (output to /dev/null)
//   decrypt   `openssl enc -d` of Manifest.db and of each database the scan
//             reads (with its -wal when there is one), keys unwrapped here
// reporting wall and processor time and the bytes each wrote towards the
// disk (wait4's ru_oublock x 512, i.e. the children's write_bytes). Goals: the
// scan within 2 times the decrypt figure, and writing under 5% of the backup.
//
// Each side runs cold, then warm. Before a cold run the backup's pages are
// evicted from the page cache (sync, then posix_fadvise DONTNEED on each of
// its files: the rest of the machine's cache stays, no root needed), so both
// sides read from disk; a warm run follows right after a run of the same
// side.
// --plain 1 builds the same backup unencrypted and scans it without a
// password (the decrypt side then copies the databases with cat).
//
//   bench_modern_scan [--gigabytes 5] [--messages 50000] [--rounds 2] [--dir /tmp]
//                     [--plain 0] [--keep 0]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bench/decrypt/CommandTiming.h"
#include "bench/decrypt/ModernBenchSupport.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tools/decrypt/ModernBackup.h"

namespace fs = std::filesystem;
namespace bc = corvyn::backupcrypto;
namespace ts = corvyn::testsupport;
using corvyn::kOk;
using corvyn::bench::MeasuredRun;
using corvyn::bench::Quote;

namespace {

constexpr char kPassword[] = "bench password";
constexpr char kZeroIv[] = "00000000000000000000000000000000";

// The databases a scan reads, by domain and path.
const std::set<std::pair<std::string, std::string>>& ScannedDatabases() {
  static const std::set<std::pair<std::string, std::string>> databases = {
      {"HomeDomain", "Library/SMS/sms.db"},
      {"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"},
      {"HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb"},
      {"HomeDomain", "Library/Notes/notes.sqlite"},
      {"HomeDomain", "Library/CallHistoryDB/CallHistory.storedata"},
      {"WirelessDomain", "Library/CallHistory/call_history.db"},
      {"AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite"},
      {"AppDomain-net.whatsapp.WhatsApp", "Documents/ChatStorage.sqlite"},
      {"AppDomainGroup-group.net.whatsapp.WhatsApp.shared", "ChatStorage.sqlite"},
  };
  return databases;
}

bool IsScannedDatabase(const std::string& domain, const std::string& path) {
  const auto& databases = ScannedDatabases();
  if (databases.count({domain, path})) return true;
  return path.size() > 4 && path.compare(path.size() - 4, 4, "-wal") == 0 &&
         databases.count({domain, path.substr(0, path.size() - 4)});
}

// One large media file: a real header, then filler up to `size` on disk.
struct BigFile {
  std::string domain, path, header;
  std::uint64_t size = 0;
};

// Media until `bytes` are reached: half camera roll, a quarter message
// attachments, a quarter app files; 1.5-5 MB photos, every 25th file a
// 20-150 MB video (about 800 files for 5 GB).
std::vector<BigFile> PlanMedia(std::uint64_t bytes) {
  std::mt19937_64 random(20261210);
  std::uniform_int_distribution<std::uint64_t> photo(3u << 19, 5u << 20), video(20u << 20, 150u << 20);
  std::vector<BigFile> files;
  std::uint64_t camera = 0, attachments = 0, apps = 0;
  for (int i = 0; camera + attachments + apps < bytes; ++i) {
    const bool isVideo = i % 25 == 24;
    const std::uint64_t left = bytes - (camera + attachments + apps);
    const std::uint64_t size =
        std::max<std::uint64_t>(std::min(isVideo ? video(random) : photo(random), left), 1u << 20);
    BigFile file;
    file.size = size;
    const std::string number = std::to_string(2000 + i);
    if (camera <= 2 * (attachments + apps)) {
      file.domain = "CameraRollDomain";
      file.path = "Media/DCIM/1" + std::to_string(10 + i / 1000) + "APPLE/IMG_" + number +
                  (isVideo ? ".MOV" : ".JPG");
      file.header = isVideo ? ts::MakeMov(4096, i) : ts::MakeJpegExif(4096, i);
      camera += size;
    } else if (attachments <= apps) {
      file.domain = "MediaDomain";
      file.path = "Library/SMS/Attachments/" + std::to_string(10 + i % 90) + "/" + std::to_string(i % 16) +
                  "/" + (isVideo ? "IMG_" + number + ".MOV" : "IMG_" + number + ".HEIC");
      file.header = isVideo ? ts::MakeMov(4096, i) : ts::MakeHeic(4096, i);
      attachments += size;
    } else {
      file.domain = "AppDomain-com.example.camera";
      file.path =
          "Documents/" + std::string(isVideo ? "clip_" : "shot_") + number + (isVideo ? ".mp4" : ".jpg");
      file.header = isVideo ? ts::MakeMp4(4096, i) : ts::MakeJpegExif(4096, i);
      apps += size;
    }
    files.push_back(std::move(file));
  }
  return files;
}

std::uint64_t FolderBytes(const fs::path& folder) {
  std::uint64_t total = 0;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    if (entry.is_regular_file(error)) total += entry.file_size(error);
  }
  return total;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "bench_modern_scan: %s\n", what.c_str());
  std::exit(1);
}

MeasuredRun Best(const MeasuredRun& a, const MeasuredRun& b) {
  return {std::min(a.wall, b.wall), std::min(a.cpu, b.cpu), std::min(a.written, b.written),
          a.exitStatus != 0 ? a.exitStatus : b.exitStatus};
}

}  // namespace

int main(int argc, char** argv) {
  double gigabytes = 5;
  int messages = 50000, rounds = 2;
  bool plainOnly = false, keep = false;
  fs::path base = fs::temp_directory_path();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--gigabytes"))
      gigabytes = std::atof(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--messages"))
      messages = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--rounds"))
      rounds = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir"))
      base = argv[i + 1];
    else if (!std::strcmp(argv[i], "--plain"))
      plainOnly = std::atoi(argv[i + 1]) != 0;
    else if (!std::strcmp(argv[i], "--keep"))
      keep = std::atoi(argv[i + 1]) != 0;
  }
  if (gigabytes <= 0 || messages < 0 || rounds <= 0) {
    std::fprintf(stderr,
                 "usage: bench_modern_scan [--gigabytes G] [--messages N] [--rounds N] [--dir D] "
                 "[--plain 0|1] [--keep 0|1]\n");
    return 2;
  }
  const fs::path cli = fs::path(CORVYN_BIN_DIR) / "corvyn-cli";
  if (!fs::exists(cli)) Fail(cli.string() + " is not built");

  const fs::path root = base / ("corvyn-bench-modern-scan-" + std::to_string(std::random_device{}()));
  const fs::path plain = root / "plain", encrypted = root / "encrypted";
  const fs::path backupFolder = plainOnly ? plain : encrypted;
  const auto buildStart = std::chrono::steady_clock::now();

  // The databases: a heavy user's messages, one conversation per 200.
  ts::DatabaseTruth truth = ts::FixtureTruth();
  truth.messages.clear();
  for (int i = 0; i < messages; ++i) {
    const int handle = 1 + i / 200;
    truth.messages.push_back({handle, "+4915" + std::to_string(100000 + handle),
                              "Message " + std::to_string(i) + ": see you at the station at half past seven",
                              i % 3 == 0});
  }
  ts::StandardBackupOptions options;
  options.truth = &truth;
  options.newerCallHistory = true;
  ts::StandardBackup standard;
  // The fixture writer commits row by row; on a disk each commit waits for a
  // flush, so the databases are made in memory when /dev/shm is there.
  const fs::path scratch = (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : root) /
                           ("corvyn-bench-modern-scan-scratch-" + std::to_string(std::random_device{}()));
  fs::create_directories(scratch);
  const corvyn::Status made = ts::MakeStandardBackup(scratch, standard, options);
  fs::remove_all(scratch);
  if (made != kOk) Fail("cannot make the databases");
  standard.builder.info.productVersion = "16.4";

  // The media: written with their headers, then grown on disk.
  const auto media = PlanMedia(static_cast<std::uint64_t>(gigabytes * (1ull << 30)));
  for (const auto& file : media) standard.builder.AddFile(file.domain, file.path, file.header);
  std::printf("building %.1f GB (%zu large media files, %d messages) in %s\n", gigabytes, media.size(),
              messages, root.c_str());
  if (standard.builder.WriteNewerLayout(plain) != kOk) Fail("cannot write the plain backup");
  for (std::size_t i = 0; i < media.size(); ++i) {
    const std::string id = ts::StoredNameFor(media[i].domain, media[i].path);
    if (!corvyn::bench::ExtendWithPattern(plain / id.substr(0, 2) / id, media[i].size,
                                          static_cast<std::uint32_t>(i)))
      Fail("cannot write a media file");
  }
  if (!plainOnly) {
    if (ts::EncryptNewerLayoutFolder(plain, encrypted, kPassword) != kOk) Fail("cannot encrypt the backup");
    fs::remove_all(plain);
  }
  const std::uint64_t backupBytes = FolderBytes(backupFolder);
  std::printf("built %.2f GB in %.0f s\n", static_cast<double>(backupBytes) / (1ull << 30),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - buildStart).count());

  // The decrypt side: one openssl per database (cat for a plain backup).
  std::ofstream(root / "password") << kPassword << "\n";
  const fs::path script = root / "decrypt-databases.sh";
  std::uint64_t databaseBytes = 0;
  {
    std::ofstream out(script);
    out << "set -e\nout=\"$1\"\nmkdir -p \"$out\"\n";
    if (plainOnly) {
      fs::path manifest = plain / "Manifest.db";
      out << "cat " << Quote(manifest) << " > \"$out/Manifest.db\"\n";
      databaseBytes += fs::file_size(manifest);
      for (const auto& record : standard.builder.Records()) {
        if (!IsScannedDatabase(record.domain, record.path)) continue;
        const std::string id = ts::StoredNameFor(record.domain, record.path);
        out << "cat " << Quote(plain / id.substr(0, 2) / id) << " > \"$out/" << id << "\"\n";
        databaseBytes += fs::file_size(plain / id.substr(0, 2) / id);
      }
    } else {
      bc::ModernBackup backup;
      if (bc::ModernBackup::Open(encrypted, backup) != kOk || backup.Unlock(kPassword) != kOk)
        Fail("the encrypted backup does not unlock");
      bc::Bytes key;
      if (const corvyn::Status status = corvyn::bench::ManifestDbKey(backup, key); status != kOk)
        Fail(status.Message());
      const auto decrypt = [&](const fs::path& source, const std::string& name, const bc::Bytes& fileKey) {
        out << "openssl enc -d -aes-256-cbc -K " << corvyn::bench::Hex(fileKey) << " -iv " << kZeroIv
            << " -in " << Quote(source) << " -out \"$out/" << name << "\"\n";
        databaseBytes += fs::file_size(source);
      };
      decrypt(encrypted / "Manifest.db", "Manifest.db", key);
      std::vector<corvyn::bench::StoredRow> rows;
      if (const corvyn::Status status = corvyn::bench::ReadStoredRows(backup, root, rows); status != kOk)
        Fail(status.Message());
      for (const auto& row : rows) {
        if (!IsScannedDatabase(row.domain, row.path)) continue;
        if (backup.UnwrapKey(row.wrappedKey, key) != kOk) Fail("a database key does not unwrap");
        decrypt(encrypted / row.fileId.substr(0, 2) / row.fileId, row.fileId, key);
      }
      fs::remove(root / "Manifest.plain.db");
    }
  }

  const std::string scanCommand = Quote(cli) + " scan " + Quote(backupFolder) +
                                  (plainOnly ? "" : " --password-stdin < " + Quote(root / "password")) +
                                  " > /dev/null 2> " + Quote(root / "scan.err");
  constexpr MeasuredRun kNone{1e30, 1e30, ~0ull, 0};
  MeasuredRun coldScan = kNone, coldDecrypt = kNone, warmScan = kNone, warmDecrypt = kNone;
  int outputs = 0;
  const auto runDecrypt = [&] {
    return corvyn::bench::RunMeasured("bash " + Quote(script) + " " +
                                      Quote(root / ("decrypted" + std::to_string(outputs++))));
  };
  for (int round = 0; round < rounds; ++round) {
    corvyn::bench::EvictFromCache(backupFolder);
    coldDecrypt = Best(coldDecrypt, runDecrypt());
    warmDecrypt = Best(warmDecrypt, runDecrypt());
    corvyn::bench::EvictFromCache(backupFolder);
    coldScan = Best(coldScan, corvyn::bench::RunMeasured(scanCommand));
    warmScan = Best(warmScan, corvyn::bench::RunMeasured(scanCommand));
  }

  std::printf("backup: %.2f GB, databases + Manifest.db %.1f MB; best of %d rounds\n",
              static_cast<double>(backupBytes) / (1ull << 30), static_cast<double>(databaseBytes) / (1 << 20),
              rounds);
  std::printf("                                       wall s   cpu s   written MB  (%% of backup)\n");
  const auto line = [&](const char* name, const MeasuredRun& run) {
    std::printf("%-38s %7.3f %7.3f %10.1f  (%.3f%%)\n", name, run.wall, run.cpu,
                static_cast<double>(run.written) / (1 << 20),
                100.0 * static_cast<double>(run.written) / static_cast<double>(backupBytes));
    if (run.exitStatus != 0) std::printf("  FAILED (exit status %d)\n", run.exitStatus);
  };
  line(plainOnly ? "copy databases (cat), cold" : "decrypt databases (openssl), cold", coldDecrypt);
  line("corvyn-cli scan, cold", coldScan);
  line(plainOnly ? "copy databases (cat), warm" : "decrypt databases (openssl), warm", warmDecrypt);
  line("corvyn-cli scan, warm", warmScan);
  std::printf(
      "scan/decrypt wall: cold %.2f, warm %.2f (goal <= 2.00); scan wrote %.3f%% of the backup (goal < "
      "5%%)\n",
      coldScan.wall / coldDecrypt.wall, warmScan.wall / warmDecrypt.wall,
      100.0 * static_cast<double>(coldScan.written) / static_cast<double>(backupBytes));
  std::ifstream errors(root / "scan.err");
  for (std::string text; std::getline(errors, text);) std::printf("scan stderr: %s\n", text.c_str());
  if (!keep) fs::remove_all(root);
  return 0;
}
