#include "tests/support/backup_builder/StandardBackup.h"

#include <algorithm>
#include <string_view>
#include <system_error>

#include "platform/Ascii.h"
#include "tests/support/backup_builder/SyntheticMedia.h"

namespace corvyn::testsupport {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kCameraRoll = "CameraRollDomain";
constexpr std::string_view kMedia = "MediaDomain";
constexpr std::string_view kHome = "HomeDomain";

template <class Record>
void SortByName(std::vector<Record>& records) {
  std::stable_sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
    return platform::LessIgnoringCase(a.name, b.name);
  });
}

}  // namespace

Status MakeStandardBackup(const fs::path& scratch, StandardBackup& out,
                          const StandardBackupOptions& options) {
  std::error_code error;
  fs::create_directories(scratch, error);
  BackupBuilder& b = out.builder;
  MediaTruth& media = out.media;
  out.databases = options.truth != nullptr ? *options.truth
                  : options.hostileTexts   ? HostileTruth()
                                           : FixtureTruth();

  // Synthetic media unless the caller makes real ones of that kind.
  const auto made = [&](MediaKind kind, int variant, std::string (*synthetic)(std::size_t, int),
                        std::size_t size) {
    if (options.realMedia) {
      if (std::string real = options.realMedia(kind, variant); !real.empty()) return real;
    }
    return synthetic(size, variant);
  };
  const auto Jpeg = [&](std::size_t size, int variant) {
    return made(MediaKind::kJpeg, variant, MakeJpegExif, size);
  };
  const auto Png = [&](std::size_t size, int variant) {
    return made(MediaKind::kPng, variant, MakePng, size);
  };
  const auto Heic = [&](std::size_t size, int variant) {
    return made(MediaKind::kHeic, variant, MakeHeic, size);
  };
  const auto Wav = [&](std::size_t size, int variant) {
    return made(MediaKind::kWav, variant, MakeWav, size);
  };
  const auto Mov = [&](std::size_t size, int variant) {
    return made(MediaKind::kMov, variant, MakeMov, size);
  };
  const auto Mp4 = [&](std::size_t size, int variant) {
    return made(MediaKind::kMp4, variant, MakeMp4, size);
  };

  const auto camera = [&](std::string path, std::string bytes, std::string expectedName) {
    const auto size = static_cast<uint32_t>(bytes.size());
    b.AddFile(std::string(kCameraRoll), path, std::move(bytes));
    if (!expectedName.empty()) {
      media.cameraRoll.push_back({size, expectedName, StoredNameFor(kCameraRoll, path)});
    }
  };
  b.AddDirectory(std::string(kCameraRoll), "Media");
  b.AddDirectory(std::string(kCameraRoll), "Media/DCIM");
  b.AddDirectory(std::string(kCameraRoll), "Media/DCIM/100APPLE");
  camera("Media/DCIM/100APPLE/IMG_0004.MOV", Mov(3000, 4), "IMG_0004.MOV");
  camera("Media/DCIM/100APPLE/IMG_0001.JPG", Jpeg(4000, 1), "IMG_0001.JPG");
  camera("Media/DCIM/100APPLE/img_0003.HEIC", Heic(2500, 3), "img_0003.HEIC");
  camera("Media/DCIM/100APPLE/IMG_0002.PNG", Png(1500, 2), "IMG_0002.PNG");
  camera("Media/DCIM/100APPLE/IMG_0005.MP4", Mp4(3500, 5), "IMG_0005.MP4");
  camera("Media/DCIM/100APPLE/IMG_0001.AAE", MakeUnknown(300, 6), "");  // not a media type
  b.AddMissingFile(std::string(kCameraRoll), "Media/DCIM/100APPLE/IMG_0099.JPG");
  if (options.hostileTexts) {
    camera("Media/DCIM/100APPLE/<img src=x onerror=alert(2)>\x01 .. .JPG", Jpeg(1600, 17),
           "<img src=x onerror=alert(2)>\x01 .. .JPG");
  }
  for (std::size_t i = 0; i < options.bulkPhotos; ++i) {
    const std::string name = "IMG_" + std::to_string(1000 + i) + ".JPG";
    camera("Media/DCIM/101APPLE/" + name, Jpeg(options.bulkFileSize, static_cast<int>(i) + 100), name);
  }
  SortByName(media.cameraRoll);

  const std::string streamPath = "Media/PhotoStreamsData/1234567/100APPLE/IMG_0100.JPG";
  std::string streamPhoto = Jpeg(2200, 7);
  const auto streamSize = static_cast<uint32_t>(streamPhoto.size());
  b.AddFile(std::string(kMedia), streamPath, std::move(streamPhoto));
  media.photoStream.push_back({streamSize, "IMG_0100.JPG", StoredNameFor(kMedia, streamPath)});

  // Message attachments: named by the detected type, empty ones skipped.
  const auto attachment = [&](std::string path, std::string bytes, std::string expectedName) {
    const auto size = static_cast<uint32_t>(bytes.size());
    b.AddFile(std::string(kMedia), path, std::move(bytes));
    if (!expectedName.empty()) {
      media.messageAttachments.push_back({size, expectedName, StoredNameFor(kMedia, path)});
    }
  };
  attachment("Library/SMS/Attachments/0a/10/IMG_0001.jpeg", Png(1800, 8), "IMG_0001.PNG");
  attachment("Library/SMS/Attachments/1b/11/Audio Message.amr", Wav(2000, 9), "Audio Message.WAV");
  attachment("Library/SMS/Attachments/2c/12/photo", Jpeg(1700, 10), "photo.JPG");
  attachment("Library/SMS/Attachments/3d/13/empty.jpg", "", "");
  SortByName(media.messageAttachments);

  // Application files: App Photos / App Videos by extension, WhatsApp aside.
  const auto app = [&](std::string domain, std::string path, std::string bytes, std::string appName,
                       std::string expectedName) {
    const auto size = static_cast<uint32_t>(bytes.size());
    b.AddFile(domain, path, std::move(bytes));
    if (expectedName.empty()) return;
    if (appName.empty()) {
      media.whatsAppAttachments.push_back({size, expectedName, StoredNameFor(domain, path)});
    } else {
      media.appFiles.push_back({size, appName, expectedName, StoredNameFor(domain, path)});
    }
  };
  app("AppDomain-com.example.camera", "Documents/shot.jpg", Jpeg(2100, 11), "example.camera", "shot.JPG");
  app("AppDomain-com.example.camera", "Documents/clip.mov", Mov(2600, 12), "example.camera", "clip.MOV");
  app("AppDomain-org.example.sketch", "Documents/drawing.png", Png(1200, 13), "other", "drawing.PNG");
  if (options.hostileTexts) {
    app("AppDomain-com./../escape", "Documents/evil.jpg", Jpeg(1300, 18), "", "");
  }
  app("AppDomain-com.example.camera", "Library/Preferences/settings.plist", MakeUnknown(400, 14), "", "");
  app("AppDomain-net.whatsapp.WhatsApp", "Library/Media/4915112345678@s.whatsapp.net/a/b/pic.jpg",
      Jpeg(1900, 15), "", "pic.JPG");
  app("AppDomain-net.whatsapp.WhatsApp", "Library/Media/4915112345678@s.whatsapp.net/c/d/voice.wav",
      Wav(1000, 16), "", "voice.WAV");
  SortByName(media.whatsAppAttachments);

  // Databases.
  struct DatabaseFile {
    std::string domain, path;
    Status (*write)(const fs::path&, const DatabaseTruth&);
  };
  std::vector<DatabaseFile> databases = {
      {std::string(kHome), "Library/SMS/sms.db", WriteMessagesDb},
      {std::string(kHome), "Library/AddressBook/AddressBook.sqlitedb", WriteAddressBookDb},
      {std::string(kHome), "Library/Notes/notes.sqlite", WriteNotesDb},
      {"AppDomain-net.whatsapp.WhatsApp", "Documents/ChatStorage.sqlite", WriteWhatsAppDb},
  };
  if (options.newerCallHistory) {
    databases.push_back(
        {std::string(kHome), "Library/CallHistoryDB/CallHistory.storedata", WriteCallHistoryStoreDb});
  } else {
    databases.push_back({"WirelessDomain", "Library/CallHistory/call_history.db", WriteOlderCallHistoryDb});
  }
  int index = 0;
  for (const auto& database : databases) {
    const fs::path file = scratch / ("fixture" + std::to_string(index++) + ".db");
    if (const Status status = database.write(file, out.databases); status != kOk) return status;
    if (const Status status = b.AddFileFrom(database.domain, database.path, file); status != kOk)
      return status;
  }
  b.AddLink(std::string(kHome), "Library/Caches/link", "/private/var/mobile/Library/SMS/sms.db");
  return kOk;
}

}  // namespace corvyn::testsupport
