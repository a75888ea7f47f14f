#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "decoders/SqlProbe.h"
#include "decoders/TextRules.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {

Status DecodeCallHistory(std::vector<CallRecord>& calls, const std::filesystem::path& callHistoryDb,
                         const std::filesystem::path& addressBookDb) {
  // The newer schema is recognised by a query of its table that runs; any
  // failure (missing table, not a database, encrypted) means the older one.
  const ProbeResult probe = RunProbeQuery(callHistoryDb, "select * from ZCALLRECORD;");
  if (probe.openCode != 0) return probe.openCode;
  const bool newerSchema = !probe.queryFailed;

  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(callHistoryDb); opened != kOk) return opened;
  // Calls read before a failed page read are kept, as are the others' names.
  (void)sqlite::ScanCalls(reader, newerSchema ? "ZCALLRECORD" : "call", calls);

  // Without an address book the calls stay, unnamed and in scan order.
  if (const Status opened = reader.Open(addressBookDb); opened != kOk) return opened;
  std::vector<ContactRecord> contacts;
  // Names found before a failed page read still name their calls.
  (void)sqlite::ScanContacts(reader, contacts);

  NameCalls(calls, contacts);
  if (calls.size() > 1)
    StableSortByText(calls, [](const CallRecord& c) -> const std::string& { return c.date; });
  return kOk;
}

}  // namespace corvyn::decoders
