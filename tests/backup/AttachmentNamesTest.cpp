// Messages and WhatsApp chats name their attachments as the backup's
// Message Attachments and WhatsApp Attachments lists name the files, and by
// the device path when the backup does not hold the file.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "backup/BackupContext.h"
#include "backup/CLocalBuckupRecovery.h"
#include "tests/backup/EngineRecords.h"
#include "tests/support/backup_builder/BackupBuilder.h"
#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tests/support/sqlite_fixtures/ModernAppBuilders.h"
#include "tests/support/sqlite_fixtures/ModernSmsDb.h"
#include "tests/support/temp_folder/TempFolder.h"

namespace corvyn::backup {
namespace {
namespace fs = std::filesystem;

constexpr const char* kWhatsAppGroup = "AppDomainGroup-group.net.whatsapp.WhatsApp.shared";
constexpr const char* kPhotoPath =
    "Media/19198887386@s.whatsapp.net/a/1/a1000000-0000-4000-8000-000000000009.jpg";
constexpr const char* kVideoPath =
    "Media/19198887386@s.whatsapp.net/b/2/b2000000-0000-4000-8000-000000000010.mp4";
constexpr const char* kPictureDevicePath =
    "~/Library/SMS/Attachments/ab/11/6F1E2A4C-0000-4000-8000-000000000006/IMG_0001.HEIC";

// Adds to the built chat store a photo, a video and a place sent without
// words (messages 9 to 11 of the one-to-one chat).
bool AddMediaMessages(const fs::path& store) {
  sqlite3* db = nullptr;
  if (sqlite3_open(store.string().c_str(), &db) != SQLITE_OK) return false;
  const std::string sql =
      std::string(
          "PRAGMA secure_delete = OFF; BEGIN;"
          "INSERT INTO ZWAMESSAGE (Z_PK, Z_ENT, ZISFROMME, ZMESSAGETYPE, ZCHATSESSION, ZMEDIAITEM, "
          "ZMESSAGEDATE) VALUES (9, 9, 0, 1, 1, 2, 666000500), (10, 9, 1, 2, 1, 3, 666000600), "
          "(11, 9, 0, 5, 1, 4, 666000700);"
          "INSERT INTO ZWAMEDIAITEM (Z_PK, ZMESSAGE, ZMEDIALOCALPATH) VALUES (2, 9, '") +
      kPhotoPath + "'), (3, 10, '" + kVideoPath +
      "');"
      "INSERT INTO ZWAMEDIAITEM (Z_PK, ZMESSAGE, ZLATITUDE, ZLONGITUDE) VALUES (4, 11, 35.6385, -78.876);"
      // A photo whose message was deleted: its record is carved, its item kept.
      "INSERT INTO ZWAMESSAGE (Z_PK, Z_ENT, ZISFROMME, ZMESSAGETYPE, ZCHATSESSION, ZMEDIAITEM, ZMESSAGEDATE) "
      "VALUES (12, 9, 0, 1, 1, 5, 666000800);"
      "INSERT INTO ZWAMEDIAITEM (Z_PK, ZMESSAGE, ZMEDIALOCALPATH) VALUES (5, 12, "
      "'Media/19198887386@s.whatsapp.net/c/3/c3000000-0000-4000-8000-000000000012.jpg');"
      "COMMIT;"
      "DELETE FROM ZWAMESSAGE WHERE Z_PK = 12;";
  const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

int NoProgress(void*, int) {
  return 0;
}

struct Scan {
  EngineRecords records;
  MessageRecord picture;                   // the message that is only a picture
  std::vector<std::string> whatsAppTexts;  // every WhatsApp text
  std::vector<std::string> deletedWhatsAppTexts;
};

// Builds the backup (with or without the attachment files) and scans it.
void BuildAndScan(const fs::path& root, bool withFiles, Scan& scan) {
  corvyn::testing::ModernSmsTruth truth;
  std::string error;
  ASSERT_TRUE(corvyn::testing::BuildModernSmsDb(root / "sms.db", truth, &error)) << error;
  auto book = corvyn::testing::BuildModernAddressBook(root / "AddressBook.sqlitedb", &error);
  ASSERT_TRUE(book) << error;
  auto chats = corvyn::testing::BuildModernChatStorage(root / "ChatStorage.sqlite", &error);
  ASSERT_TRUE(chats) << error;
  ASSERT_TRUE(AddMediaMessages(chats->Path()));

  testsupport::BackupBuilder builder;
  ASSERT_EQ(builder.AddFileFrom("HomeDomain", "Library/SMS/sms.db", root / "sms.db"), kOk);
  ASSERT_EQ(builder.AddFileFrom("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb",
                                root / "AddressBook.sqlitedb"),
            kOk);
  ASSERT_EQ(builder.AddFileFrom(kWhatsAppGroup, "ChatStorage.sqlite", chats->Path()), kOk);
  if (withFiles) {
    // The picture is a PNG whatever its device name says.
    builder.AddFile("MediaDomain", std::string(kPictureDevicePath).substr(2), testsupport::MakePng(3000, 1));
    builder.AddFile(kWhatsAppGroup, std::string("Message/") + kPhotoPath, testsupport::MakeJpegExif(2500, 2));
  }
  const fs::path folder = root / "backup";
  ASSERT_EQ(builder.Write(folder), kOk);

  BackupDescriptor descriptor;
  ASSERT_EQ(ReadBackupFolder(folder, descriptor), kOk);
  BackupContext context;
  context.Select(descriptor);
  context.workingRoot = root / "work";
  CLocalBuckupRecovery engine;
  ASSERT_EQ(engine.Attach(&context), kOk);
  (void)engine.SetProgressCallback(&NoProgress, nullptr);
  ASSERT_EQ(engine.OpenSource(""), kOk);
  (void)CollectEverything(engine, scan.records);
  for (const std::string& failure : scan.records.failures) {
    EXPECT_TRUE(failure.starts_with("calls") || failure.starts_with("notes")) << failure;
  }

  const int64_t pictureRow = truth.messages[5].rowId;
  bool found = false;
  for (const auto& [handle, messages] : scan.records.conversations) {
    for (const MessageRecord& m : messages) {
      if (m.deleted == 0 && m.messageId == pictureRow) {
        scan.picture = m;
        found = true;
      }
    }
  }
  ASSERT_TRUE(found);
  for (const auto& [session, messages] : scan.records.whatsApp) {
    for (const WhatsAppRecord& m : messages)
      (m.deleted ? scan.deletedWhatsAppTexts : scan.whatsAppTexts).push_back(m.text);
  }
}

bool Holds(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(AttachmentNames, FilesInTheBackupGiveTheirListedNames) {
  corvyn::testing::TempFolder temp{"names"};
  Scan scan;
  BuildAndScan(temp.Path(), true, scan);
  if (HasFatalFailure()) return;

  // The picture's detected type names it, as in Message Attachments.
  EXPECT_EQ(scan.picture.attachment, "IMG_0001.PNG");
  std::vector<std::string> listed;
  for (const AttachmentRecord& a : scan.records.attachments) listed.push_back(a.name);
  EXPECT_TRUE(Holds(listed, scan.picture.attachment));

  // WhatsApp: the photo by its WhatsApp Attachments name; the video, whose
  // file the backup lacks, by the name the database keeps; the place by its
  // coordinates.
  std::vector<std::string> whatsAppListed;
  for (const MediaFileRecord& a : scan.records.whatsAppAttachments) whatsAppListed.push_back(a.name);
  const std::string photoName = "a1000000-0000-4000-8000-000000000009.JPG";
  EXPECT_TRUE(Holds(whatsAppListed, photoName));
  EXPECT_TRUE(Holds(scan.whatsAppTexts, "[Photo: " + photoName + "]"));
  EXPECT_TRUE(Holds(scan.whatsAppTexts, "[Video: b2000000-0000-4000-8000-000000000010.mp4]"));
  EXPECT_TRUE(Holds(scan.whatsAppTexts, "[Location: 35.63850, -78.87600]"));
  // Only the deleted photo: the rows added later took the space of the texts
  // the built store had deleted, and nothing is made up.
  EXPECT_EQ(scan.deletedWhatsAppTexts.size(), 1u);
  EXPECT_TRUE(Holds(scan.deletedWhatsAppTexts, "[Photo: c3000000-0000-4000-8000-000000000012.jpg]"));
  // Messages with words keep them.
  EXPECT_TRUE(Holds(scan.whatsAppTexts, "Photo caption for the picture sent"));
}

TEST(AttachmentNames, MissingFilesKeepTheDevicePathsName) {
  corvyn::testing::TempFolder temp{"names-missing"};
  Scan scan;
  BuildAndScan(temp.Path(), false, scan);
  if (HasFatalFailure()) return;
  EXPECT_EQ(scan.picture.attachment, "IMG_0001.HEIC");
  EXPECT_TRUE(scan.records.attachments.empty());
  EXPECT_TRUE(Holds(scan.whatsAppTexts, "[Photo: a1000000-0000-4000-8000-000000000009.jpg]"));
}

}  // namespace
}  // namespace corvyn::backup
