// Test support: one backup with something in every category, and what a scan
// of it must find (the media lists as the engine names and orders them, the
// database rows from FixtureTruth()).
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/backup_builder/FixtureDatabases.h"

namespace corvyn::testsupport {

// Expected records; `path` holds the stored name (the file's name in the
// backup folder), not a full path.
struct MediaTruth {
  std::vector<MediaFileRecord> cameraRoll;
  std::vector<MediaFileRecord> photoStream;
  std::vector<AttachmentRecord> messageAttachments;
  std::vector<AppFileRecord> appFiles;  // in map order
  std::vector<MediaFileRecord> whatsAppAttachments;
};

enum class MediaKind { kJpeg, kPng, kHeic, kWav, kMov, kMp4 };

struct StandardBackupOptions {
  // Older devices keep call_history.db; newer ones CallHistory.storedata.
  bool newerCallHistory = false;
  // Adds this many extra camera-roll JPEGs of `bulkFileSize` bytes (benchmarks, demo).
  std::size_t bulkPhotos = 0;
  std::size_t bulkFileSize = 64 * 1024;
  // Hostile values (HostileTruth()) in message texts, contact names and
  // phones, note titles and contents, call names, WhatsApp texts, member
  // names and chat titles, plus one application name and one media file name
  // with markup, separators and control characters.
  bool hostileTexts = false;
  // Makes a real, playable file of the kind instead of a synthetic one (the
  // demo backups); `variant` tells the files apart. Returning nothing keeps
  // the synthetic file. The media truth then holds the real files' sizes.
  std::function<std::string(MediaKind kind, int variant)> realMedia = {};
  // The database rows to write instead of FixtureTruth()/HostileTruth()
  // (benchmarks: a heavy user's messages). Not owned.
  const DatabaseTruth* truth = nullptr;
};

struct StandardBackup {
  BackupBuilder builder;
  MediaTruth media;
  DatabaseTruth databases;
};

// Builds the backup in memory; the databases are made in `scratch` (a folder
// the caller owns). Returns kOk or the failing status.
Status MakeStandardBackup(const std::filesystem::path& scratch, StandardBackup& out,
                          const StandardBackupOptions& options = {});

}  // namespace corvyn::testsupport
