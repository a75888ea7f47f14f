#include "decoders/CallRecordTable.h"
#include "decoders/ContactNameIndex.h"
#include "decoders/DecoderSteps.h"
#include "decoders/Decoders.h"
#include "decoders/FirstFailure.h"
#include "decoders/NamedColumnScan.h"
#include "decoders/SqlProbe.h"
#include "decoders/TextRules.h"
#include "sqlite/SqliteDbReader.h"
#include "sqlite/TableScans.h"

namespace corvyn::decoders {

Status DecodeCallHistory(std::vector<CallRecord>& calls, const std::filesystem::path& callHistoryDb,
                         const std::filesystem::path& addressBookDb) {
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(callHistoryDb); opened != kOk) return opened;
  // The newer schema is recognised by a query of its table that runs; any
  // failure (missing table, not a database, encrypted) means the older one.
  const ProbeResult probe = RunProbeQuery(callHistoryDb, "select * from ZCALLRECORD;");
  if (probe.openCode != 0)
    return Status(kInvalidData, "the SQLite library cannot open " + callHistoryDb.string());
  const bool newerSchema = !probe.queryFailed;

  // Neither table: not a call history this program reads.
  if (!newerSchema && DeclaredColumns(reader, "call").empty())
    return Status(kInvalidData, "the call history holds neither ZCALLRECORD nor call");

  FirstFailure failure;
  const std::string_view table = newerSchema ? "ZCALLRECORD" : "call";
  if (newerSchema && HasNamedCallRecordTable(reader))
    failure.Note(ScanNamedCallRecords(reader, calls), table);
  else
    failure.Note(sqlite::ScanCalls(reader, table, calls), table);

  // Without an address book the calls stay, unnamed; that is no failure of
  // the call history.
  // Names found before a failed page read still name their calls; the
  // address book only lends names, so its failure is not the calls'.
  std::vector<ContactRecord> contacts;
  (void)ReadContactsForNames(addressBookDb, contacts);

  NameCalls(calls, contacts);
  if (calls.size() > 1)
    StableSortByText(calls, [](const CallRecord& c) -> const std::string& { return c.date; });
  return failure.status();
}

}  // namespace corvyn::decoders
