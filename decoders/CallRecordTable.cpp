#include "decoders/CallRecordTable.h"

#include <optional>

#include "decoders/NamedColumnScan.h"
#include "sqlite/RecordDecodersCommon.h"

namespace corvyn::decoders {
namespace {

using sqlite::Storage;

enum Slot : std::size_t { kAddress, kDate, kDuration, kOriginated, kCallType, kServiceProvider, kSlotCount };

}  // namespace

bool HasNamedCallRecordTable(const sqlite::SqliteDbReader& reader) {
  const std::vector<std::string> columns = DeclaredColumns(reader, "ZCALLRECORD");
  for (std::size_t index = 0; index < columns.size(); ++index) {
    if (columns[index] == "ZADDRESS") return index != 12;
  }
  return false;
}

std::string CallTypeText(int64_t callType, const std::string& serviceProvider) {
  switch (callType) {
    case 1:
      return "Phone";
    case 8:
      return "FaceTime Video";
    case 16:
      return "FaceTime Audio";
    default:
      return serviceProvider;
  }
}

Status ScanNamedCallRecords(sqlite::SqliteDbReader& reader, std::vector<CallRecord>& out) {
  const std::vector<WantedColumn> wanted = {
      {"ZADDRESS", Storage::kBlob},     {"ZDATE", Storage::kNumber},
      {"ZDURATION", Storage::kNumber},  {"ZORIGINATED", Storage::kInteger},
      {"ZCALLTYPE", Storage::kInteger}, {"ZSERVICE_PROVIDER", Storage::kText}};
  static_assert(kSlotCount == 6);
  return ScanNamedColumns(reader, "ZCALLRECORD", wanted, [&](const NamedRow& row) {
    CallRecord call;
    call.deleted = row.deleted;
    call.number = TextOrBlobText(row.columns[kAddress]);
    call.date = sqlite::detail::CocoaDateText(row.columns[kDate]);
    call.duration = sqlite::detail::WholeNumber32(row.columns[kDuration]);
    call.incoming = sqlite::detail::HoldsInteger(row.columns[kOriginated], 0) ? 1 : 0;
    const std::optional<int64_t> type = sqlite::detail::IntegerValue(row.columns[kCallType]);
    call.callType = CallTypeText(type.value_or(-1), sqlite::detail::TextValue(row.columns[kServiceProvider]));
    if (call.number.empty() || call.date.empty()) return false;
    // A carved call's number must be whole: bytes that are not UTF-8 (or
    // need a replacement character) come from a record read off its start.
    const sqlite::ColumnValue* address = row.columns[kAddress];
    if (row.deleted != 0 && address != nullptr && address->IsText() &&
        !sqlite::detail::StrictTextValue(address))
      return false;
    out.push_back(std::move(call));
    return true;
  });
}

}  // namespace corvyn::decoders
