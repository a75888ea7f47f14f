#include "sqlite/ValueListWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <string_view>

#include "core/TextFormat.h"
#include "core/Utf8.h"
#include "sqlite/RecordDecodersCommon.h"

namespace corvyn::sqlite {
namespace {

constexpr std::string_view kDeletedGuidPrefix = "27B99F78-F6F0-475F-8BA1-";

std::string_view Bytes(const ColumnValue& column) {
  return column.Text();
}

// The bytes up to the first zero character, as a C string would end them.
std::string_view UpToZero(std::string_view bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  const std::string_view value = UpToZero(text);
  // A spreadsheet opening the file must not run a text as a formula: such a
  // text starts with an apostrophe, which makes the cell plain text.
  if (CouldRunAsFormula(value)) out.push_back('\'');
  for (const char c : value) {
    out.push_back(c);
    if (c == '"' || c == '\'') out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string Number(int64_t value) {
  return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value))));
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0xF]);
  }
  return out;
}

// The row's rowid: the cell's, or the next number of the counter.
// Sets an entry to `text` followed by `tail`. Cleared and appended rather than
// assigned: GCC 12 at -O3 warns falsely (-Wrestrict) on assigning a literal
// to a string element of a map.
void Put(std::string& entry, std::string_view text, std::string_view tail = {}) {
  entry.clear();
  entry.append(text).append(tail);
}

uint64_t RowNumber(const ParsedRecord& parsed, const RecordLocation& record, uint64_t& counter) {
  if (record.mode == RecordMode::kFullCell && parsed.rowId != 0) return static_cast<uint64_t>(parsed.rowId);
  return ++counter;
}

std::string JoinLine(const std::map<uint32_t, std::string>& entries) {
  std::string line;
  for (const auto& [column, entry] : entries) line += entry;
  line += "\r\n";
  return line;
}

bool IsDeletedGuidSource(const ColumnValue* column) {
  if (column == nullptr || !(column->IsText() || column->IsBlob()) || column->body.size() != 36) return false;
  for (const uint8_t byte : column->body) {
    if (byte < '-' || byte > 'z') return false;
  }
  return true;
}

bool IsWritableMessageText(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return false;
  return !ToValidUtf8(bytes).starts_with("\xEF\xBF\xBD");
}

}  // namespace

Status BuildMessageValueLine(SqliteDbReader& reader, const RecordLocation& record, int64_t nowCocoaSeconds,
                             ValueListNumbering& numbering, std::string& line) {
  line.clear();
  ParsedRecord parsed;
  const detail::CarvedLayout layout{kMessageValueColumns};
  if (const Status status = detail::ParseForDecoder(reader, record, layout, detail::kAllColumns, parsed);
      status != kOk) {
    return status;
  }
  const bool deleted = record.deleted != 0;
  if (deleted && !IsDeletedGuidSource(parsed.Column(13))) return kInvalidData;
  if (const ColumnValue* text = parsed.Column(2); text != nullptr && !IsWritableMessageText(text->Text())) {
    return kInvalidData;
  }

  const uint64_t rowId = RowNumber(parsed, record, numbering.lastRowid);
  std::map<uint32_t, std::string> entries;
  entries[parsed.firstColumn] = Number(static_cast<int64_t>(rowId));
  const std::size_t end = std::min<std::size_t>(parsed.columns.size(), kMessageValueColumns);
  for (uint32_t index = parsed.firstColumn; index < end; ++index) {
    const ColumnValue& column = parsed.columns[index];
    const bool last = index + 1 == kMessageValueColumns;
    const uint64_t type = column.serialType;
    if (type == 0) {
      if (index == 0) {
        entries[0] += ",";
      } else {
        Put(entries[index], "NULL,");
      }
    } else if (type <= 4) {
      entries[index] = Number(column.integer) + ",";
    } else if (type <= 7) {
      Put(entries[index], ",");
    } else if (type <= 9) {
      Put(entries[index], type == 9 ? "1" : "0", last ? "" : ",");
    } else if (type == 13) {
      Put(entries[index], "NULL,");
    } else if (type >= 14) {
      entries[index] = index == 8 ? Hex(Bytes(column)) + "," : Quoted(Bytes(column)) + ",";
    }
  }
  if (deleted) {
    char guid[64];
    std::snprintf(guid, sizeof guid, "\"%s%012llX\",", kDeletedGuidPrefix.data(),
                  static_cast<unsigned long long>(rowId));
    Put(entries[1], guid);
    Put(entries[19], "1,");
    entries[15] = Number(nowCocoaSeconds) + ",";
    if (detail::HoldsInteger(parsed.Column(21), 1)) {
      Put(entries[16], "0,");
      Put(entries[26], "0,");
    } else {
      entries[16] = entries[15];
      Put(entries[26], "1,");
    }
  }
  line = JoinLine(entries);
  return kOk;
}

Status BuildContactValueLine(SqliteDbReader& reader, const RecordLocation& record,
                             ValueListNumbering& numbering, std::string& line) {
  line.clear();
  ParsedRecord parsed;
  detail::CarvedLayout layout{kContactValueColumns};
  if (numbering.liveColumnCount > 0) layout.columnCount = static_cast<uint32_t>(numbering.liveColumnCount);
  if (const Status status = detail::ParseForDecoder(reader, record, layout, detail::kAllColumns, parsed);
      status != kOk) {
    return status;
  }
  if (record.mode == RecordMode::kFullCell)
    numbering.liveColumnCount = static_cast<int32_t>(parsed.columns.size());

  const uint64_t rowId = RowNumber(parsed, record, numbering.lastRowid);
  std::map<uint32_t, std::string> entries;
  entries[parsed.firstColumn] = Number(static_cast<int64_t>(rowId));
  const std::size_t end = std::min<std::size_t>(parsed.columns.size(), kContactValueColumns);
  for (uint32_t index = parsed.firstColumn; index < end; ++index) {
    const ColumnValue& column = parsed.columns[index];
    const std::string comma = index + 1 == kContactValueColumns ? "" : ",";
    const uint64_t type = column.serialType;
    if (type == 0) {
      if (index == 0) {
        entries[0] += ",";
      } else {
        Put(entries[index], "NULL", comma);
      }
    } else if (type <= 4) {
      entries[index] = Number(column.integer) + ",";
    } else if (type <= 7) {
      Put(entries[index], ",");
    } else if (type == 13) {
      Put(entries[index], "NULL", comma);
    } else if (column.IsText()) {
      if (!detail::StrictTextValue(&column)) return kInvalidData;
      entries[index] = Quoted(Bytes(column)) + comma;
    }
  }
  line = JoinLine(entries);
  return kOk;
}

ValueListFile::~ValueListFile() {
  if (file_ != nullptr) std::fclose(file_);
}

Status ValueListFile::Open(const std::filesystem::path& path) {
  errno = 0;
  file_ = std::fopen(path.c_str(), "ab");
  if (file_ == nullptr) status_ = Status::System(errno, "creating " + path.string());
  path_ = path.string();
  return status_;
}

void ValueListFile::Write(const std::string& bytes) {
  if (file_ == nullptr || status_ != kOk || bytes.empty()) return;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    status_ = Status::System(errno, "writing " + path_);
}

Status ValueListFile::Close() {
  if (file_ == nullptr) return status_;
  errno = 0;
  const bool flushed = std::fflush(file_) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (status_ == kOk && (!flushed || !closed))
    status_ = Status::System(flushError != 0 ? flushError : errno, "writing " + path_);
  return status_;
}

}  // namespace corvyn::sqlite
