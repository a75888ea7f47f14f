#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {
namespace {

// Reads the four message tables and the address book's contact rows. Returns
// 0, the message database's open error, or the first non-zero progress
// answer (the caller then stops). A missing address book leaves the contacts
// empty: the messages are still worth showing without names.
Status ReadMessageTables(MessageTables& tables, const std::filesystem::path& messageDb,
                         const std::filesystem::path& addressBookDb, const DecoderProgress& progress,
                         int64_t& highestRowId) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(messageDb); opened != kOk) return opened;

  auto report = [&progress](int64_t numerator, int64_t denominator) {
    return progress.Report(numerator, denominator);
  };

  // A table that could not be read to its end still gives the rows read
  // before the failure; the other tables are worth reading all the same.
  uint64_t highestMessageRowid = 0;
  (void)sqlite::ScanMessages(reader, tables.messages, highestMessageRowid);
  if (const int answer = report(1, 5)) return answer;
  highestRowId = static_cast<int64_t>(highestMessageRowid);

  (void)sqlite::ScanHandles(reader, tables.handles);
  if (const int answer = report(1, 4)) return answer;
  (void)sqlite::ScanAttachments(reader, tables.attachments);
  if (const int answer = report(1, 3)) return answer;
  (void)sqlite::ScanMessageAttachmentJoins(reader, tables.joins);
  if (const int answer = report(1, 2)) return answer;

  if (reader.Open(addressBookDb) == kOk) (void)sqlite::ScanContacts(reader, tables.contacts);
  if (const int answer = report(1, 1)) return answer;
  return kOk;
}

}  // namespace

Status DecodeMessages(ConversationMap& conversations, const std::filesystem::path& messageDb,
                      const std::filesystem::path& addressBookDb, const DecoderProgress& progress,
                      int64_t& highestRowId) {
  Status result = kOk;
  {
    MessageTables tables;
    result = ReadMessageTables(tables, messageDb, addressBookDb, progress, highestRowId);
    if (result == kOk) {
      JoinMessages(tables);
      SortAndGroupMessages(tables.messages, conversations);
    }
  }
  // The closing report's answer wins when it asks to stop; otherwise the
  // earlier result stands, so a database that could not be read is not
  // reported as decoded.
  if (progress.callback != nullptr) {
    if (const int answer = progress.Report(1, 1); answer != 0) result = answer;
  }
  return result;
}

Status WriteMessagesCsv(const std::filesystem::path& messageDb, const std::filesystem::path& csvPath,
                        int64_t startingRowId) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(messageDb); opened != kOk) return opened;
  return sqlite::WriteMessageValueList(reader, csvPath,
                                       static_cast<uint64_t>(startingRowId < 0 ? 0 : startingRowId));
}

}  // namespace corvyn::decoders
