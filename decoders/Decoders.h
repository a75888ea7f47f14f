// Application database decoders: each turns one application database (already
// on disk) into recovered records, live and deleted, through the engine's own
// SQLite reader and carving. Every function returns a status code and never
// throws; the output containers belong to the caller.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/IPhoneRecoveryParse.h"
#include "core/Records.h"
#include "core/Status.h"

namespace corvyn::decoders {

// Progress hand-over from an engine to a decoder: the decoder reports
// base + fraction of span; a non-zero answer stops the decoder, which returns
// that answer.
struct DecoderProgress {
  ProgressCallback callback = nullptr;  // may be absent
  void* userValue = nullptr;
  int base = 0;
  int span = 0;

  // Reports base + span * numerator / denominator; returns the callback's
  // answer (0 when there is no callback).
  int Report(int64_t numerator, int64_t denominator) const;
};

// Messages with their handles, contact names and attachment names, grouped by
// handle id in date order. highestRowId receives the largest message rowid
// (the starting number for WriteMessagesCsv). When the address book cannot be
// read the messages are kept without names.
Status DecodeMessages(ConversationMap& conversations, const std::filesystem::path& messageDb,
                      const std::filesystem::path& addressBookDb, const DecoderProgress& progress,
                      int64_t& highestRowId);
Status WriteMessagesCsv(const std::filesystem::path& messageDb, const std::filesystem::path& csvPath,
                        int64_t startingRowId);

Status DecodeContacts(std::vector<ContactRecord>& contacts, const std::filesystem::path& addressBookDb,
                      int64_t& highestRowId);
Status WriteContactsCsv(const std::filesystem::path& addressBookDb, const std::filesystem::path& csvPath,
                        int64_t startingRowId);

Status DecodeCallHistory(std::vector<CallRecord>& calls, const std::filesystem::path& callHistoryDb,
                         const std::filesystem::path& addressBookDb);

Status DecodeNotes(std::vector<NoteRecord>& notes, const std::filesystem::path& notesDb);

Status DecodeWhatsApp(WhatsAppChatMap& chats, const std::filesystem::path& chatDb);

Status DecodeQQ(ChatConversationMap& chats, const std::filesystem::path& qqDb);
Status DecodeWeChat(ChatConversationMap& chats, const std::filesystem::path& weChatDb);

}  // namespace corvyn::decoders
