// Scan speed of a plain backup: builds a backup of about --size-mb megabytes
// (camera-roll JPEGs of --file-kb kilobytes plus the fixture databases), then
// times (a) reading every byte of the folder and (b) a full engine scan
// (open, every collect operation, in the driver's order). Prints both in MB/s
// of backup size; the goal is a scan at least as fast as reading the folder.
//
//   bench_backup_scan [--size-mb 500] [--file-kb 256] [--folder DIR] [--keep]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/BackupContext.h"
#include "backup/BackupDiscovery.h"
#include "tests/support/backup_builder/StandardBackup.h"

namespace fs = std::filesystem;
using namespace corvyn;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

uint64_t ReadEverything(const fs::path& folder) {
  std::vector<char> buffer(1 << 20);
  uint64_t total = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    while (file.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || file.gcount() > 0) {
      total += static_cast<uint64_t>(file.gcount());
    }
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t sizeMb = 500, fileKb = 256;
  fs::path folder = fs::temp_directory_path() / "corvyn-bench-backup-scan";
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--size-mb" && i + 1 < argc)
      sizeMb = std::strtoul(argv[++i], nullptr, 10);
    else if (arg == "--file-kb" && i + 1 < argc)
      fileKb = std::strtoul(argv[++i], nullptr, 10);
    else if (arg == "--folder" && i + 1 < argc)
      folder = argv[++i];
    else if (arg == "--keep")
      keep = true;
    else {
      std::fprintf(stderr, "usage: bench_backup_scan [--size-mb N] [--file-kb N] [--folder DIR] [--keep]\n");
      return 2;
    }
  }
  if (fileKb == 0) fileKb = 1;

  fs::remove_all(folder);
  testsupport::StandardBackup backup;
  testsupport::StandardBackupOptions options;
  options.bulkFileSize = fileKb * 1024;
  options.bulkPhotos = sizeMb * 1024 / fileKb;
  auto start = Clock::now();
  if (testsupport::MakeStandardBackup(folder / "scratch", backup, options) != kOk ||
      backup.builder.Write(folder / "backup") != kOk) {
    std::fprintf(stderr, "bench_backup_scan: cannot build the backup in %s\n", folder.c_str());
    return 1;
  }
  std::printf("built %zu files in %.1f s\n", backup.builder.Records().size(), Seconds(start));

  start = Clock::now();
  const uint64_t bytes = ReadEverything(folder / "backup");
  const double readSeconds = Seconds(start);
  const double megabytes = static_cast<double>(bytes) / (1024.0 * 1024.0);

  backup::BackupContext context;
  backup::BackupDescriptor descriptor;
  (void)backup::ReadBackupFolder(folder / "backup", descriptor);
  context.Select(descriptor);
  context.workingRoot = folder / "work";
  std::vector<MediaFileRecord> cameraRoll, photoStream, whatsAppAttachments;
  ConversationMap conversations;
  std::vector<AttachmentRecord> attachments;
  std::vector<ContactRecord> contacts;
  std::vector<CallRecord> calls;
  std::vector<NoteRecord> notes;
  std::vector<AppFileRecord> appFiles;
  WhatsAppChatMap chats;
  start = Clock::now();
  Status status = context.OpenSource("");
  (void)context.CollectPhotos(cameraRoll, photoStream);
  (void)context.CollectMessages(conversations);
  (void)context.CollectMessageAttachments(attachments);
  (void)context.CollectContacts(contacts);
  (void)context.CollectCallHistory(calls);
  (void)context.CollectNotes(notes);
  (void)context.CollectAppFiles(appFiles);
  (void)context.CollectWhatsApp(chats);
  (void)context.CollectWhatsAppAttachments(whatsAppAttachments);
  const double scanSeconds = Seconds(start);

  std::printf("backup: %.1f MB, %zu camera-roll files (open: %s)\n", megabytes, cameraRoll.size(),
              status.Message().c_str());
  std::printf("read every byte: %.3f s  %.0f MB/s\n", readSeconds, megabytes / readSeconds);
  std::printf("engine scan:     %.3f s  %.0f MB/s of backup (%.2fx the read)\n", scanSeconds,
              megabytes / scanSeconds, readSeconds / scanSeconds);
  if (!keep) fs::remove_all(folder);
  return 0;
}
