// The call log's ZCALLRECORD table of iOS 9 and later (18 columns and more),
// read by column name: number or handle from ZADDRESS (TEXT, or a BLOB
// holding UTF-8), start from ZDATE (seconds since 2001), ZDURATION,
// ZORIGINATED (1 outgoing) and the type of call from ZCALLTYPE and
// ZSERVICE_PROVIDER.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Records.h"
#include "platform/Status.h"
#include "sqlite/SqliteDbReader.h"

namespace corvyn::decoders {

// True when the database's ZCALLRECORD is of the by-name kind (declares
// ZADDRESS anywhere but at column 12, where the iOS 8 table keeps it).
bool HasNamedCallRecordTable(const sqlite::SqliteDbReader& reader);

// ZCALLTYPE 1 "Phone", 8 "FaceTime Video", 16 "FaceTime Audio"; any other
// (0 for calls of other apps) the service provider as stored, else empty.
std::string CallTypeText(int64_t callType, const std::string& serviceProvider);

// Appends the table's calls (live, from free pages and carved); kept when
// both the address and the date are not empty.
Status ScanNamedCallRecords(sqlite::SqliteDbReader& reader, std::vector<CallRecord>& out);

}  // namespace corvyn::decoders
