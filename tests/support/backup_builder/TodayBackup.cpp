#include "tests/support/backup_builder/TodayBackup.h"

#include <system_error>

#include "tests/support/backup_builder/SyntheticMedia.h"
#include "tests/support/sqlite_fixtures/ModernAppBuilders.h"

namespace corvyn::testsupport {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHomeDomain = "HomeDomain";
constexpr std::string_view kNotesDomain = "AppDomainGroup-group.com.apple.notes";
constexpr std::string_view kWhatsAppDomain = "AppDomainGroup-group.net.whatsapp.WhatsApp.shared";
constexpr std::string_view kDeviceAttachments = "~/Library/SMS/Attachments/";

Status Failed(std::string_view what, const std::string& error) {
  return Status(kInvalidData, std::string(what) + ": " + error);
}

}  // namespace

Status MakeTodayBackup(const fs::path& scratch, TodayBackup& out) {
  std::error_code code;
  fs::create_directories(scratch, code);
  if (code) return Status::System(code.value(), scratch.string());
  out.builder.info.productVersion = "17.3";
  out.builder.info.displayName = "Corvyn Test iPhone (iOS 17)";
  out.builder.info.lastBackupDate = "2024-02-10T18:00:00Z";
  out.builder.info.snapshotState = "finished";

  std::string error;
  out.smsDb = scratch / "sms.db";
  if (!corvyn::testing::BuildModernSmsDb(out.smsDb, out.messages, &error)) return Failed("sms.db", error);
  out.addressBook = scratch / "AddressBook.sqlitedb";
  if (!corvyn::testing::BuildModernAddressBook(out.addressBook, &error)) return Failed("address book", error);
  out.callHistory = scratch / "CallHistory.storedata";
  if (!corvyn::testing::BuildModernCallHistory(out.callHistory, 21, &error))
    return Failed("call history", error);
  out.noteStore = scratch / "NoteStore.sqlite";
  out.notes = corvyn::testing::BuildNoteStore(out.noteStore);
  if (out.notes.empty()) return Failed("notes", "no notes built");
  out.chatStorage = scratch / "ChatStorage.sqlite";
  if (!corvyn::testing::BuildModernChatStorage(out.chatStorage, &error)) return Failed("ChatStorage", error);

  const struct {
    std::string_view domain, path;
    const fs::path& source;
  } databases[] = {
      {kHomeDomain, "Library/SMS/sms.db", out.smsDb},
      {kHomeDomain, "Library/AddressBook/AddressBook.sqlitedb", out.addressBook},
      {kHomeDomain, "Library/CallHistoryDB/CallHistory.storedata", out.callHistory},
      {kNotesDomain, "NoteStore.sqlite", out.noteStore},
      {kWhatsAppDomain, "ChatStorage.sqlite", out.chatStorage},
  };
  for (const auto& database : databases) {
    if (Status status = out.builder.AddFileFrom(std::string(database.domain), std::string(database.path),
                                                database.source);
        status != kOk)
      return status;
  }

  // The picture of the message that carries one; the backup keeps it in the
  // media domain under the device path's part from "Library/".
  int variant = 0;
  for (const auto& message : out.messages.messages) {
    if (message.attachment.empty() || !message.attachment.starts_with(kDeviceAttachments)) continue;
    const std::string relative =
        "Library/SMS/Attachments/" + message.attachment.substr(kDeviceAttachments.size());
    // Its bytes are a JPEG although the phone named it .HEIC: the lists go by
    // the bytes.
    out.builder.AddFile("MediaDomain", relative, MakeJpegExif(20000, variant++));
    const std::string name = relative.substr(relative.rfind('/') + 1);
    out.attachmentNames.push_back(name.substr(0, name.rfind('.')) + ".JPG");
  }
  // A WhatsApp photo where its database says it lies.
  out.builder.AddFile(std::string(kWhatsAppDomain),
                      "Message/Media/19198887386@s.whatsapp.net/d/0/d041d159-0000-4000-8000-000000000001.jpg",
                      MakeJpegExif(30000, 7));
  return kOk;
}

}  // namespace corvyn::testsupport
