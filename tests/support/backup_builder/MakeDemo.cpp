// corvyn-make-demo: writes five demo backups into the backup root (or into
// the folder given with --root): one plain, one plain in the layout of iOS 10
// and later (Manifest.db), one of each layout encrypted with the password
// "corvyn-demo", and one of a phone of today (iOS 17: every application
// database in today's layout).
// With --phone FOLDER it writes a simulated phone instead (for
// tools/simphone): FOLDER/backup (the phone of today's backup), FOLDER/media
// (its Camera Roll and Photo Stream) and FOLDER/profile.json.
// Existing demo folders are replaced. With --hostile the records carry
// hostile texts and names (markup, script, commas, formulas, path separators,
// "..") for the export and browser checks.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "backup/BackupDiscovery.h"
#include "tests/support/backup_builder/ModernEncryption.h"
#include "tests/support/backup_builder/StandardBackup.h"
#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tests/support/backup_builder/TodayBackup.h"
#ifdef CORVYN_DEMO_REAL_MEDIA
#include <QGuiApplication>

#include "tests/support/backup_builder/DemoMedia.h"
#endif

namespace fs = std::filesystem;
using namespace corvyn;

namespace {

bool WriteBytes(const fs::path& path, const std::string& bytes) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

// A picture of the kind: a real one when the demo draws them, else a synthetic one.
std::string Picture(const testsupport::StandardBackupOptions& options, testsupport::MediaKind kind,
                    int variant) {
  if (options.realMedia) {
    if (std::string real = options.realMedia(kind, variant); !real.empty()) return real;
  }
  return kind == testsupport::MediaKind::kPng ? testsupport::MakePng(40000, variant)
                                              : testsupport::MakeJpegExif(60000, variant);
}

int WritePhone(const fs::path& folder, const testsupport::StandardBackupOptions& options,
               const fs::path& scratch) {
  std::error_code error;
  fs::remove_all(folder / "backup", error);
  fs::remove_all(folder / "media", error);
  testsupport::TodayBackup today;
  Status status = testsupport::MakeTodayBackup(scratch / "today", today);
  today.builder.info.displayName = "Demo iPhone (iOS 17)";
  if (status == kOk) status = today.builder.WriteNewerLayout(folder / "backup");
  fs::remove_all(scratch, error);
  if (status != kOk) {
    std::fprintf(stderr, "corvyn-make-demo: writing the phone's backup failed: %s\n",
                 status.Message().c_str());
    return 1;
  }
  using testsupport::MediaKind;
  bool written =
      WriteBytes(folder / "media/DCIM/100APPLE/IMG_0001.JPG", Picture(options, MediaKind::kJpeg, 1)) &&
      WriteBytes(folder / "media/DCIM/100APPLE/IMG_0002.JPG", Picture(options, MediaKind::kJpeg, 2)) &&
      WriteBytes(folder / "media/DCIM/100APPLE/IMG_0003.PNG", Picture(options, MediaKind::kPng, 3)) &&
      WriteBytes(folder / "media/PhotoStreamsData/1/100APPLE/IMG_0101.JPG",
                 Picture(options, MediaKind::kJpeg, 4));
  std::ofstream profile(folder / "profile.json", std::ios::trunc);
  profile << "{\"devices\": [{\"UDID\": \"00008110-000D3E0A1B2C3D4E\", \"DeviceName\": \"Demo iPhone\",\n"
             "  \"DeviceClass\": \"iPhone\", \"ProductType\": \"iPhone15,2\", \"ProductVersion\": \"17.3\",\n"
             "  \"BuildVersion\": \"21D50\", \"SerialNumber\": \"F00DEMO17\", \"WillEncrypt\": false,\n"
             "  \"afcRoot\": \"media\", \"backup\": \"backup\",\n"
             "  \"apps\": [{\"bundleId\": \"net.whatsapp.WhatsApp\", \"displayName\": \"WhatsApp\"}]}]}\n";
  written = written && static_cast<bool>(profile);
  if (!written) {
    std::fprintf(stderr, "corvyn-make-demo: cannot write the phone into %s\n", folder.c_str());
    return 1;
  }
  std::printf("%s\n", (folder / "profile.json").c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path root = backup::DefaultBackupRoot();
  testsupport::StandardBackupOptions options;
  fs::path phone;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
      root = argv[++i];
    } else if (std::strcmp(argv[i], "--phone") == 0 && i + 1 < argc) {
      phone = argv[++i];
    } else if (std::strcmp(argv[i], "--hostile") == 0) {
      options.hostileTexts = true;
    } else {
      std::fprintf(stderr, "usage: corvyn-make-demo [--root FOLDER | --phone FOLDER] [--hostile]\n");
      return 2;
    }
  }
  if (root.empty()) {
    std::fprintf(stderr, "corvyn-make-demo: no backup root (set HOME or XDG_DATA_HOME)\n");
    return 1;
  }
  std::error_code error;
  const fs::path scratch =
      fs::temp_directory_path(error) /
      ("corvyn-demo-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
#ifdef CORVYN_DEMO_REAL_MEDIA
  // Real photos and sounds for the previews; drawn offscreen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  options.realMedia = testsupport::MakeDemoMedia;
#endif
  if (!phone.empty()) return WritePhone(phone, options, scratch);
  testsupport::StandardBackup demo;
  demo.builder.info.displayName = "Demo iPhone";
  if (testsupport::MakeStandardBackup(scratch / "db", demo, options) != kOk) {
    std::fprintf(stderr, "corvyn-make-demo: cannot build the demo databases\n");
    return 1;
  }
  const fs::path plain = root / "corvyn-demo-plain";
  const fs::path encrypted = root / "corvyn-demo-encrypted";
  const fs::path modern = root / "corvyn-demo-modern";
  const fs::path modernEncrypted = root / "corvyn-demo-modern-encrypted";
  const fs::path today = root / "corvyn-demo-today";
  for (const fs::path& folder : {plain, encrypted, modern, modernEncrypted, today})
    fs::remove_all(folder, error);
  Status status = demo.builder.Write(plain);
  if (status == kOk) {
    // The layout of iOS 10 and later: Manifest.db and stored files in subfolders.
    demo.builder.info.displayName = "Demo iPhone (iOS 10 and later)";
    status = demo.builder.WriteNewerLayout(modern);
  }
  if (status == kOk) {
    demo.builder.info.displayName = "Demo iPhone (encrypted)";
    status = demo.builder.WriteEncrypted(scratch / "plain", encrypted, "corvyn-demo", true);
  }
  if (status == kOk) {
    demo.builder.info.displayName = "Demo iPhone (iOS 10 and later, encrypted)";
    status = demo.builder.WriteNewerLayout(scratch / "modern");
  }
  if (status == kOk) {
    // Fewer rounds than a phone's 10,000,000, so the demo opens at once.
    testsupport::ModernEncryptOptions encryption;
    encryption.iterations = 1000;
    encryption.sha256Iterations = 100000;
    status =
        testsupport::EncryptNewerLayoutFolder(scratch / "modern", modernEncrypted, "corvyn-demo", encryption);
  }
  if (status == kOk) {
    testsupport::TodayBackup todayDemo;
    status = testsupport::MakeTodayBackup(scratch / "today", todayDemo);
    todayDemo.builder.info.displayName = "Demo iPhone (iOS 17)";
    if (status == kOk) status = todayDemo.builder.WriteNewerLayout(today);
  }
  fs::remove_all(scratch, error);
  if (status != kOk) {
    std::fprintf(stderr, "corvyn-make-demo: writing the demo backups failed: %s\n", status.Message().c_str());
    return 1;
  }
  std::printf("%s\n%s\n%s (password: corvyn-demo)\n%s (password: corvyn-demo)\n%s\n", plain.c_str(),
              modern.c_str(), encrypted.c_str(), modernEncrypted.c_str(), today.c_str());
  return 0;
}
