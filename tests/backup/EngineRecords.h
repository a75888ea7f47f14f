// Everything one backup scan fills, collected through the engine in the scan
// driver's order; shared by the engine tests.
#pragma once

#include <string>
#include <vector>

#include "core/IPhoneRecoveryParse.h"
#include "core/Records.h"

namespace corvyn::backup {

struct EngineRecords {
  std::vector<MediaFileRecord> cameraRoll, photoStream, whatsAppAttachments;
  ConversationMap conversations;
  std::vector<AttachmentRecord> attachments;
  std::vector<ContactRecord> contacts;
  std::vector<CallRecord> calls;
  std::vector<NoteRecord> notes;
  std::vector<AppFileRecord> appFiles;
  WhatsAppChatMap whatsApp;
  std::vector<std::string> failures;  // "what: reason" of each operation that failed
};

// Runs every category operation on an engine whose source is open; a failed
// one is noted and the others still run. Returns the last operation's status.
inline Status CollectEverything(IPhoneRecoveryParse& engine, EngineRecords& out) {
  Status last = kOk;
  const auto note = [&out, &last](const char* what, const Status& status) {
    last = status;
    if (status != kOk) out.failures.push_back(std::string(what) + ": " + status.Message());
  };
  note("photos", engine.CollectPhotos(out.cameraRoll, out.photoStream));
  note("messages", engine.CollectMessages(out.conversations));
  note("attachments", engine.CollectMessageAttachments(out.attachments));
  note("contacts", engine.CollectContacts(out.contacts));
  note("calls", engine.CollectCallHistory(out.calls));
  note("notes", engine.CollectNotes(out.notes));
  note("app files", engine.CollectAppFiles(out.appFiles));
  note("WhatsApp", engine.CollectWhatsApp(out.whatsApp));
  note("WhatsApp attachments", engine.CollectWhatsAppAttachments(out.whatsAppAttachments));
  return last;
}

}  // namespace corvyn::backup
