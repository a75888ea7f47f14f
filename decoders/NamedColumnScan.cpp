#include "decoders/NamedColumnScan.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/Utf8.h"
#include "sqlite/CreateTableParser.h"
#include "sqlite/RecordDecodersCommon.h"

namespace corvyn::decoders {
namespace {

// A carved record whose every value is NULL tells nothing: zeroed space (a
// stale pointer word and the zeros behind it read as a freeblock header and
// its serial types) makes such records.
bool OnlyNulls(const sqlite::ParsedRecord& parsed) {
  return std::all_of(parsed.columns.begin(), parsed.columns.end(),
                     [](const sqlite::ColumnValue& column) { return !column.present || column.IsNull(); });
}

// The cells of the live leaf a record was carved from. A cell written later
// over a freed record's last bytes cuts the values there (they end in the
// cell's first bytes); a record that starts inside a cell is that cell's
// bytes read from a wrong offset.
class LiveCellsOfPage {
 public:
  LiveCellsOfPage(const sqlite::SqliteDbReader& reader, const sqlite::RecordLocation& record)
      : start_(record.bytes.data() - record.cellOffset) {
    const sqlite::ByteSpan page(start_, record.cellOffset + record.bytes.size());
    const std::size_t headerOffset = record.page == 0 ? sqlite::kFileHeaderSize : 0;
    if (page.size() < headerOffset + 8) return;
    for (const uint16_t cell : reader.ReadCellPointers(page, headerOffset)) {
      const sqlite::Varint payload = sqlite::ReadVarint(page.subspan(cell));
      if (cell + payload.length >= page.size()) continue;
      const sqlite::Varint rowid = sqlite::ReadVarint(page.subspan(cell + payload.length));
      uint64_t local = reader.LocalPayloadSize(payload.value);
      if (local < payload.value) local += 4;  // the first overflow page number
      cells_.push_back({cell, cell + payload.length + rowid.length + local});
    }
  }
  bool Covers(std::size_t from, std::size_t to) const {
    return std::any_of(cells_.begin(), cells_.end(), [&](const std::pair<uint64_t, uint64_t>& cell) {
      return cell.first < to && from < cell.second;
    });
  }
  bool Covers(const sqlite::ColumnValue& value) const {
    if (value.body.empty()) return false;
    const auto from = static_cast<std::size_t>(value.body.data() - start_);
    return Covers(from, from + value.body.size());
  }

 private:
  const uint8_t* start_;
  std::vector<std::pair<uint64_t, uint64_t>> cells_;
};

bool FromLiveLeaf(const sqlite::RecordLocation& record) {
  using sqlite::RecordOrigin;
  return record.mode == sqlite::RecordMode::kCarved &&
         (record.origin == RecordOrigin::kFreeblock || record.origin == RecordOrigin::kTail ||
          record.origin == RecordOrigin::kGap || record.origin == RecordOrigin::kStalePointer);
}

}  // namespace

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
        if (record.mode == sqlite::RecordMode::kCarved && OnlyNulls(parsed)) return Status(kInvalidData);
        std::optional<LiveCellsOfPage> liveCells;
        if (FromLiveLeaf(record)) {
          liveCells.emplace(r, record);
          if (liveCells->Covers(record.cellOffset, record.cellOffset + 1)) return Status(kInvalidData);
        }
        NamedRow row;
        row.deleted = record.deleted;
        row.rowId = parsed.rowId;
        row.columns.resize(wanted.size(), nullptr);
        for (std::size_t i = 0; i < wanted.size(); ++i) {
          if (slotOfWanted[i] < 0) continue;
          const sqlite::ColumnValue* column =
              parsed.Column(profile.Column(static_cast<std::size_t>(slotOfWanted[i])));
          if (column == nullptr || !column->present) continue;
          // A wanted value cut by a later cell is not the record's: the row
          // is not taken (one whose cut values are all unwanted still is).
          if (liveCells && liveCells->Covers(*column)) return Status(kInvalidData);
          row.columns[i] = column;
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
