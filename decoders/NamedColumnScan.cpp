#include "decoders/NamedColumnScan.h"

#include <algorithm>

#include "core/Utf8.h"
#include "sqlite/CreateTableParser.h"
#include "sqlite/RecordDecodersCommon.h"

namespace corvyn::decoders {

std::vector<std::string> DeclaredColumns(const sqlite::SqliteDbReader& reader, std::string_view table) {
  std::string sql;
  std::vector<std::string> columns;
  if (reader.FindTableSql(table, sql) != kOk || sql.empty() || !sqlite::ParseCreateTableColumns(sql, columns))
    columns.clear();
  return columns;
}

Status ScanNamedColumns(sqlite::SqliteDbReader& reader, std::string_view table,
                        const std::vector<WantedColumn>& wanted,
                        const std::function<bool(const NamedRow&)>& onRow) {
  sqlite::TableProfile profile;
  profile.tableName = std::string(table);
  profile.declaredColumns = DeclaredColumns(reader, table);
  if (profile.declaredColumns.empty()) return kOk;
  profile.columnCount = static_cast<uint32_t>(profile.declaredColumns.size());
  profile.carvedColumns = sqlite::CarvedColumns::kLiveOrExpected;
  // Slot i of `wanted` is the taken column i when declared; the others are
  // left out of the profile and give nullptr.
  std::vector<int> slotOfWanted(wanted.size(), -1);
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const auto index = profile.DeclaredIndex(wanted[i].name);
    if (!index) continue;
    slotOfWanted[i] = static_cast<int>(profile.taken.size());
    profile.taken.push_back({wanted[i].name, *index, wanted[i].storage});
  }
  // A column whose declared type is INTEGER PRIMARY KEY is the rowid: its
  // record holds NULL there. The caller reads rowId instead.
  return reader.ScanTable(
      profile, [&](sqlite::SqliteDbReader& r, const sqlite::RecordLocation& record) -> Status {
        sqlite::ParsedRecord parsed;
        if (const Status status = sqlite::detail::ParseTakenColumns(r, record, profile, parsed);
            status != kOk)
          return status;
        if (record.mode == sqlite::RecordMode::kFullCell)
          profile.liveColumnCount = static_cast<uint32_t>(parsed.columns.size());
        NamedRow row;
        row.deleted = record.deleted;
        row.rowId = parsed.rowId;
        row.columns.resize(wanted.size(), nullptr);
        for (std::size_t i = 0; i < wanted.size(); ++i) {
          if (slotOfWanted[i] < 0) continue;
          const sqlite::ColumnValue* column =
              parsed.Column(profile.Column(static_cast<std::size_t>(slotOfWanted[i])));
          if (column != nullptr && column->present) row.columns[i] = column;
        }
        return onRow(row) ? Status(kOk) : Status(kInvalidData);
      });
}

std::string TextOrBlobText(const sqlite::ColumnValue* column) {
  if (column == nullptr) return {};
  if (column->IsText()) return sqlite::detail::TextValue(column);
  if (!column->IsBlob()) return {};
  const std::string_view bytes(reinterpret_cast<const char*>(column->body.data()), column->body.size());
  if (!IsValidUtf8(bytes)) return {};
  if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }))
    return {};
  return std::string(bytes);
}

}  // namespace corvyn::decoders
