#include "sqlite/GenericCarve.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "core/Utf8.h"
#include "sqlite/ByteOrder.h"
#include "sqlite/Carving.h"
#include "sqlite/CreateTableParser.h"
#include "sqlite/RecordParser.h"

namespace corvyn::sqlite {
namespace {

// ---------------------------------------------------------------------------
// The schema.

struct SchemaTable {
  std::string name;        // as UTF-8
  std::string storedName;  // as the schema stores it (UTF-16 in such files)
  std::string sql;         // as UTF-8
};

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && Upper(text.substr(0, prefix.size())) == Upper(prefix);
}

// The items between the outer parentheses of a CREATE TABLE text (comments
// dropped, quotes kept), and the text after the closing parenthesis.
bool SplitTableItems(std::string_view sql, std::vector<std::string>& items, std::string& after) {
  items.clear();
  after.clear();
  int depth = 0;
  bool opened = false;
  std::string current;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const std::size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
      current += ' ';
      continue;
    }
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::size_t end = i + 1;
      while (end < sql.size()) {
        if (sql[end] == close) {
          // A doubled quote stands for one.
          if (close != ']' && end + 1 < sql.size() && sql[end + 1] == close) {
            end += 2;
            continue;
          }
          break;
        }
        ++end;
      }
      if (end >= sql.size()) return false;
      if (opened) current.append(sql.substr(i, end + 1 - i));
      i = end + 1;
      continue;
    }
    if (c == '(') {
      if (opened) current += c;
      opened = true;
      ++depth;
    } else if (c == ')') {
      if (!opened) return false;
      if (--depth == 0) {
        items.push_back(current);
        after = std::string(sql.substr(i + 1));
        return true;
      }
      current += c;
    } else if (c == ',' && depth == 1) {
      items.push_back(current);
      current.clear();
    } else if (opened) {
      current += c;
    }
    ++i;
  }
  return false;
}

// Words of an item: bare words, quoted names and parenthesised groups each
// one word, upper-cased unless quoted.
std::vector<std::string> Words(std::string_view item) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < item.size()) {
    const char c = item[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::size_t end = item.find(close, i + 1);
      if (end == std::string_view::npos) end = item.size() - 1;
      words.emplace_back(item.substr(i, end + 1 - i));
      i = end + 1;
    } else if (c == '(') {
      int depth = 0;
      std::size_t end = i;
      for (; end < item.size(); ++end) {
        if (item[end] == '(') ++depth;
        if (item[end] == ')' && --depth == 0) break;
      }
      words.push_back(Upper(item.substr(i, std::min(end + 1, item.size()) - i)));
      i = end + 1;
    } else {
      std::size_t end = i;
      while (end < item.size() && !std::isspace(static_cast<unsigned char>(item[end])) && item[end] != '(' &&
             item[end] != '\'' && item[end] != '"')
        ++end;
      words.push_back(Upper(item.substr(i, end - i)));
      i = end;
    }
  }
  return words;
}

bool IsConstraintWord(std::string_view word) {
  static constexpr std::array<std::string_view, 12> kWords = {"CONSTRAINT", "PRIMARY",   "NOT",     "NULL",
                                                              "UNIQUE",     "CHECK",     "DEFAULT", "COLLATE",
                                                              "REFERENCES", "GENERATED", "AS",      "ON"};
  return std::find(kWords.begin(), kWords.end(), word) != kWords.end();
}

enum class Affinity { kInteger, kText, kBlob, kReal, kNumeric };

// SQLite's rules for a declared type's affinity.
Affinity AffinityOf(std::string_view type) {
  if (type.find("INT") != std::string_view::npos) return Affinity::kInteger;
  if (type.find("CHAR") != std::string_view::npos || type.find("CLOB") != std::string_view::npos ||
      type.find("TEXT") != std::string_view::npos)
    return Affinity::kText;
  if (type.empty() || type.find("BLOB") != std::string_view::npos) return Affinity::kBlob;
  if (type.find("REAL") != std::string_view::npos || type.find("FLOA") != std::string_view::npos ||
      type.find("DOUB") != std::string_view::npos)
    return Affinity::kReal;
  return Affinity::kNumeric;
}

struct ColumnRule {
  Affinity affinity = Affinity::kBlob;
  bool notNull = false;
};

struct TableShape {
  std::vector<std::string> names;
  std::vector<ColumnRule> rules;
  std::optional<uint32_t> rowidColumn;
  std::string skipReason;  // empty: the table can be carved
};

std::string_view Unquoted(std::string_view name) {
  if (name.size() >= 2 &&
      (name.front() == '"' || name.front() == '`' || name.front() == '[' || name.front() == '\''))
    return name.substr(1, name.size() - 2);
  return name;
}

TableShape ShapeOf(const SchemaTable& table) {
  TableShape shape;
  if (StartsWithIgnoringCase(table.name, "sqlite_")) {
    shape.skipReason = "SQLite's own table";
    return shape;
  }
  if (Upper(table.sql).find("VIRTUAL TABLE") != std::string::npos) {
    shape.skipReason = "a virtual table keeps no rows of its own";
    return shape;
  }
  std::vector<std::string> items;
  std::string after;
  if (!ParseCreateTableColumns(table.sql, shape.names) || !SplitTableItems(table.sql, items, after) ||
      shape.names.empty()) {
    shape.skipReason = "its CREATE TABLE text could not be read";
    return shape;
  }
  const std::vector<std::string> options = Words(after);
  for (std::size_t i = 0; i + 1 < options.size(); ++i) {
    if (options[i] == "WITHOUT" && options[i + 1] == "ROWID") {
      shape.skipReason = "a table without rowid";
      return shape;
    }
  }
  std::vector<std::string> types;
  std::optional<std::string> tablePrimaryKey;
  bool tableKeyHasOneColumn = false;
  for (const std::string& item : items) {
    const std::vector<std::string> words = Words(item);
    if (words.empty()) continue;
    const std::string& head = words.front();
    if (head == "CONSTRAINT" || head == "PRIMARY" || head == "UNIQUE" || head == "CHECK" ||
        head == "FOREIGN") {
      for (std::size_t i = 0; i + 2 < words.size(); ++i) {
        if (words[i] == "PRIMARY" && words[i + 1] == "KEY") {
          // "(name)" or "(name ASC)": one column.
          const std::string group = words[i + 2];
          const std::string inner = group.size() >= 2 ? group.substr(1, group.size() - 2) : std::string();
          tableKeyHasOneColumn = inner.find(',') == std::string::npos;
          const std::vector<std::string> keyWords = Words(inner);
          if (!keyWords.empty()) tablePrimaryKey = keyWords.front();
        }
      }
      continue;
    }
    std::string type;
    std::size_t w = 1;
    for (; w < words.size() && !IsConstraintWord(words[w]); ++w) type += (type.empty() ? "" : " ") + words[w];
    ColumnRule rule;
    rule.affinity = AffinityOf(type);
    bool primaryKey = false;
    bool descending = false;
    bool generated = false;
    bool stored = false;
    for (std::size_t i = w; i < words.size(); ++i) {
      if (words[i] == "NOT" && i + 1 < words.size() && words[i + 1] == "NULL") rule.notNull = true;
      if (words[i] == "PRIMARY" && i + 1 < words.size() && words[i + 1] == "KEY") {
        primaryKey = true;
        descending = i + 2 < words.size() && words[i + 2] == "DESC";
      }
      if (words[i] == "AS" && i + 1 < words.size() && !words[i + 1].empty() && words[i + 1][0] == '(')
        generated = true;
      if (words[i] == "STORED") stored = true;
    }
    if (generated && !stored) {
      shape.skipReason = "a table with virtual generated columns";
      return shape;
    }
    if (primaryKey && !descending && type == "INTEGER") {
      shape.rowidColumn = static_cast<uint32_t>(shape.rules.size());
    }
    types.push_back(type);
    shape.rules.push_back(rule);
  }
  if (shape.rules.size() != shape.names.size()) {
    shape.skipReason = "its CREATE TABLE text could not be read";
    return shape;
  }
  if (!shape.rowidColumn && tablePrimaryKey && tableKeyHasOneColumn) {
    for (std::size_t i = 0; i < shape.names.size(); ++i) {
      if (Upper(shape.names[i]) == Upper(Unquoted(*tablePrimaryKey)) && types[i] == "INTEGER") {
        shape.rowidColumn = static_cast<uint32_t>(i);
      }
    }
  }
  return shape;
}

// ---------------------------------------------------------------------------
// Values.

void AppendUtf8(uint32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xc0 | codePoint >> 6);
    out += static_cast<char>(0x80 | (codePoint & 0x3f));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xe0 | codePoint >> 12);
    out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3f));
    out += static_cast<char>(0x80 | (codePoint & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | codePoint >> 18);
    out += static_cast<char>(0x80 | (codePoint >> 12 & 0x3f));
    out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3f));
    out += static_cast<char>(0x80 | (codePoint & 0x3f));
  }
}

// UTF-16 text (little- or big-endian) as UTF-8; false on an odd length or a
// broken surrogate pair.
bool Utf16ToUtf8(std::string_view text, bool bigEndian, std::string& out) {
  out.clear();
  if (text.size() % 2 != 0) return false;
  const auto unit = [&](std::size_t at) {
    const auto a = static_cast<uint8_t>(text[at]);
    const auto b = static_cast<uint8_t>(text[at + 1]);
    return static_cast<uint32_t>(bigEndian ? a << 8 | b : b << 8 | a);
  };
  for (std::size_t i = 0; i < text.size(); i += 2) {
    uint32_t codePoint = unit(i);
    if (codePoint >= 0xdc00 && codePoint <= 0xdfff) return false;
    if (codePoint >= 0xd800 && codePoint <= 0xdbff) {
      if (i + 3 >= text.size()) return false;
      const uint32_t low = unit(i + 2);
      if (low < 0xdc00 || low > 0xdfff) return false;
      codePoint = 0x10000 + ((codePoint - 0xd800) << 10) + (low - 0xdc00);
      i += 2;
    }
    AppendUtf8(codePoint, out);
  }
  return true;
}

enum class TextEncoding { kUtf8, kUtf16Little, kUtf16Big };

TextEncoding EncodingOf(const SqliteDbReader& reader) {
  std::array<uint8_t, 4> field{};
  if (reader.ReadAt(56, field) != kOk) return TextEncoding::kUtf8;
  switch (ReadBigEndian32(field.data())) {
    case 2:
      return TextEncoding::kUtf16Little;
    case 3:
      return TextEncoding::kUtf16Big;
    default:
      return TextEncoding::kUtf8;
  }
}

// One column of a parsed record; false when its text is not valid (checked
// only when `check`; a live row's text is taken as it is).
bool TakeValue(const ColumnValue* column, TextEncoding encoding, CarvedValue& value, bool check = true) {
  // Field by field, so that a value taken again keeps its text's buffer.
  value.kind = CarvedValueKind::kNull;
  value.integer = 0;
  value.real = 0.0;
  value.bytes.clear();
  if (column == nullptr) {
    value.kind = CarvedValueKind::kLost;
  } else if (column->IsNull()) {
    value.kind = CarvedValueKind::kNull;
  } else if (column->IsInteger()) {
    value.kind = CarvedValueKind::kInteger;
    value.integer = column->integer;
  } else if (column->IsFloat()) {
    value.kind = CarvedValueKind::kReal;
    value.real = column->real;
  } else if (column->IsText()) {
    value.kind = CarvedValueKind::kText;
    if (encoding == TextEncoding::kUtf8) {
      value.bytes.assign(column->Text());
      return !check || IsValidUtf8(value.bytes);
    }
    return Utf16ToUtf8(column->Text(), encoding == TextEncoding::kUtf16Big, value.bytes);
  } else {
    value.kind = CarvedValueKind::kBlob;
    value.bytes.assign(column->Text());
  }
  return true;
}

// Storage classes as bits, for what a column admits.
constexpr uint8_t ClassBit(CarvedValueKind kind) {
  return static_cast<uint8_t>(1u << static_cast<int>(kind));
}

uint8_t AdmittedClasses(Affinity affinity) {
  const uint8_t numbers = ClassBit(CarvedValueKind::kInteger) | ClassBit(CarvedValueKind::kReal);
  const uint8_t base = ClassBit(CarvedValueKind::kNull) | ClassBit(CarvedValueKind::kBlob);
  switch (affinity) {
    case Affinity::kText:
      return base | ClassBit(CarvedValueKind::kText);
    case Affinity::kBlob:
      return base | numbers | ClassBit(CarvedValueKind::kText);
    default:
      return base | numbers;
  }
}

// The values from some column on in 128 bits: two independent 64-bit
// chains over each value's kind and contents (text and blobs with their
// length). Keys of every live row are kept for the whole carve, so they are
// this small rather than copies of the values. Both chains start from a
// secret drawn once per process: a file made to hide a deleted row behind a
// live row's key would have to know it.
struct ValuesKey {
  uint64_t first = 0;
  uint64_t second = 0;
  bool operator==(const ValuesKey&) const = default;
};

struct ValuesKeyHash {
  std::size_t operator()(const ValuesKey& key) const { return static_cast<std::size_t>(key.first); }
};

class ValuesKeyBuilder {
 public:
  void Add(const CarvedValue& value) {
    Word(static_cast<uint64_t>(value.kind) + 1);
    switch (value.kind) {
      case CarvedValueKind::kInteger:
        Word(static_cast<uint64_t>(value.integer));
        break;
      case CarvedValueKind::kReal: {
        uint64_t bits = 0;
        std::memcpy(&bits, &value.real, sizeof bits);
        Word(bits);
        break;
      }
      case CarvedValueKind::kText:
      case CarvedValueKind::kBlob: {
        const std::string& bytes = value.bytes;
        Word(bytes.size());
        std::size_t i = 0;
        for (; i + 8 <= bytes.size(); i += 8) {
          uint64_t word = 0;
          std::memcpy(&word, bytes.data() + i, 8);
          Word(word);
        }
        if (i < bytes.size()) {
          uint64_t word = 0;
          std::memcpy(&word, bytes.data() + i, bytes.size() - i);
          Word(word);
        }
        break;
      }
      default:
        break;
    }
  }
  ValuesKey Key() const { return {Mix(first_), Mix(second_ ^ 0x94d049bb133111ebull)}; }

 private:
  static uint64_t Mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    return x ^ (x >> 33);
  }
  void Word(uint64_t word) {
    first_ = (first_ ^ word) * 0x100000001b3ull;
    first_ ^= first_ >> 29;
    second_ = (second_ + word) * 0x9fb21c651e98df25ull;
    second_ = (second_ << 23 | second_ >> 41) ^ 0x2545f4914f6cdd1dull;
  }
  static uint64_t Secret(int which) {
    static const std::array<uint64_t, 2> secret = [] {
      std::random_device device;
      std::array<uint64_t, 2> words{};
      for (uint64_t& word : words) word = (uint64_t{device()} << 32) ^ device();
      return words;
    }();
    return secret[static_cast<std::size_t>(which)];
  }
  uint64_t first_ = 0xcbf29ce484222325ull ^ Secret(0);
  uint64_t second_ = 0x6a09e667f3bcc909ull ^ Secret(1);
};

// A hash table with open addressing for the keys of every live row: one
// array, no allocation per entry, at most three quarters full.
template <typename Key, typename Value, typename Hash>
class FlatTable {
 public:
  std::size_t size() const { return size_; }
  // The entry of `key`, made (with a default value) when it is new.
  Value& operator[](const Key& key) {
    if ((size_ + 1) * 4 > slots_.size() * 3) Grow();
    Slot& slot = slots_[IndexOf(key)];
    if (!slot.used) {
      slot.used = true;
      slot.key = key;
      slot.value = Value();
      ++size_;
    }
    return slot.value;
  }
  void insert(const Key& key) { (void)(*this)[key]; }
  const Value* find(const Key& key) const {
    if (slots_.empty()) return nullptr;
    const Slot& slot = slots_[IndexOf(key)];
    return slot.used ? &slot.value : nullptr;
  }
  std::size_t count(const Key& key) const { return find(key) != nullptr ? 1 : 0; }

 private:
  struct Slot {
    Key key{};
    Value value{};
    bool used = false;
  };
  // The slot holding `key`, or the free one where it would go.
  std::size_t IndexOf(const Key& key) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = Hash()(key) & mask;; i = (i + 1) & mask) {
      if (!slots_[i].used || slots_[i].key == key) return i;
    }
  }
  void Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, Slot());
    for (Slot& slot : old) {
      if (slot.used) slots_[IndexOf(slot.key)] = std::move(slot);
    }
  }
  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

struct RowidHash {
  std::size_t operator()(int64_t rowid) const {
    uint64_t x = static_cast<uint64_t>(rowid) * 0x9e3779b97f4a7c15ull;
    return static_cast<std::size_t>(x ^ (x >> 32));
  }
};

struct Present {};

// Keys of the values from column 0 on and from column 1 on (the rowid
// column left out of both), in one pass.
void KeysOf(const std::vector<CarvedValue>& values, const std::optional<uint32_t>& rowidColumn,
            ValuesKey& key, ValuesKey& tailKey) {
  ValuesKeyBuilder tail;
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (rowidColumn && i == *rowidColumn) continue;
    tail.Add(values[i]);
  }
  tailKey = tail.Key();
  ValuesKeyBuilder whole;
  if (!values.empty() && !(rowidColumn && *rowidColumn == 0)) whole.Add(values[0]);
  const ValuesKey rest = tailKey;
  CarvedValue joint;
  joint.kind = CarvedValueKind::kInteger;
  joint.integer = static_cast<int64_t>(rest.first);
  whole.Add(joint);
  joint.integer = static_cast<int64_t>(rest.second);
  whole.Add(joint);
  key = whole.Key();
}

// The tables of sqlite_master (rows of type "table"), their names and texts
// read in the file's encoding.
Status ReadSchemaTables(const SqliteDbReader& reader, TextEncoding encoding,
                        std::vector<SchemaTable>& tables) {
  tables.clear();
  std::vector<uint8_t> first;
  if (const Status status = reader.ReadPage(0, first); status != kOk) return status;
  std::vector<bool> visited;
  ParsedRecord row;
  CarvedValue type;
  CarvedValue name;
  CarvedValue sql;
  return reader.ForEachLeafPage(0, first, visited, [&](PageIndex leaf, const std::vector<uint8_t>& page) {
    for (const uint16_t offset : reader.ReadCellPointers(page, leaf == 0 ? kFileHeaderSize : 0)) {
      const RecordLocation location{ByteSpan(page).subspan(offset), offset, 0, RecordMode::kFullCell, 0};
      if (ParseCell(reader, location, row) != kOk) continue;
      if (!TakeValue(row.Column(0), encoding, type) || type.kind != CarvedValueKind::kText ||
          type.bytes != "table" || !TakeValue(row.Column(1), encoding, name) ||
          name.kind != CarvedValueKind::kText) {
        continue;
      }
      const bool sqlText = TakeValue(row.Column(4), encoding, sql) && sql.kind == CarvedValueKind::kText;
      tables.push_back({name.bytes, std::string(row.Column(1)->Text()), sqlText ? sql.bytes : std::string()});
    }
    return kOk;
  });
}

// ---------------------------------------------------------------------------
// One table.

struct Found {
  CarvedRow row;
  bool firstLost = false;
  ValuesKey key;      // all columns but the rowid column; unset when the first is lost
  ValuesKey tailKey;  // from column 1 on
};

bool AnyCellAt(const SqliteDbReader& reader, ByteSpan page, std::size_t at, std::size_t& end);

class TableCarver {
 public:
  TableCarver(const TableShape& shape, TextEncoding encoding) : shape_(shape), encoding_(encoding) {
    admitted_.reserve(shape.rules.size());
    liveKinds_.assign(shape.rules.size(), 0);
    for (const ColumnRule& rule : shape.rules) admitted_.push_back(AdmittedClasses(rule.affinity));
  }

  Status Take(SqliteDbReader& reader, const RecordLocation& record) {
    const auto columnCount = static_cast<uint32_t>(shape_.names.size());
    const Status parsed = ParseRecord(reader, record, columnCount, parsedRecord_);
    if (parsed != kOk && parsed != kInvalidData) return parsed;
    if (record.deleted == 0) {
      if (parsed == kOk) TakeLive();
      return parsed;
    }
    Found found;
    if (parsed != kOk || !Decode(reader, record, found)) {
      ++table_.refused;
      return kInvalidData;
    }
    deleted_.push_back(std::move(found));
    return kOk;
  }

  CarvedTable Finish(const std::string& name) {
    table_.name = name;
    table_.columns = shape_.names;
    table_.rowidColumn = shape_.rowidColumn;
    table_.liveRows = liveByRowid_.size();
    // Records with the same values, by key: the indexes in table_.deleted.
    std::unordered_map<ValuesKey, std::vector<std::size_t>, ValuesKeyHash> reportedByTail;
    for (Found& found : deleted_) {
      CarvedRow& row = found.row;
      // A copy of a live row, or an earlier version of one.
      if (row.rowid) {
        const LiveKeys* live = liveByRowid_.find(*row.rowid);
        if (live != nullptr) {
          const bool same = found.firstLost ? live->tailKey == found.tailKey : live->key == found.key;
          if (same) {
            ++table_.staleCopies;
            continue;
          }
          row.earlierVersion = true;
        }
      } else if (found.firstLost ? liveTailKeys_.count(found.tailKey) != 0
                                 : liveKeys_.count(found.key) != 0) {
        ++table_.staleCopies;
        continue;
      }
      // Found before: the same values, and the same rowid or one of them
      // without.
      std::vector<std::size_t>& same = reportedByTail[found.tailKey];
      bool repeated = false;
      for (const std::size_t index : same) {
        CarvedRow& earlier = table_.deleted[index];
        const bool valuesMatch = found.firstLost || earlierLost_[index] || fullKeys_[index] == found.key;
        if (!valuesMatch || (row.rowid && earlier.rowid && *row.rowid != *earlier.rowid)) continue;
        if (!earlier.rowid && row.rowid) {
          earlier.rowid = row.rowid;
          earlier.earlierVersion = row.earlierVersion;
          if (shape_.rowidColumn) earlier.values[*shape_.rowidColumn] = row.values[*shape_.rowidColumn];
        }
        repeated = true;
        break;
      }
      if (repeated) {
        ++table_.repeated;
        continue;
      }
      same.push_back(table_.deleted.size());
      earlierLost_.push_back(found.firstLost);
      fullKeys_.push_back(found.key);
      table_.deleted.push_back(std::move(row));
    }
    return std::move(table_);
  }

 private:
  void TakeLive() {
    std::vector<CarvedValue>& values = liveValues_;
    values.resize(shape_.names.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      // A live row is the table's even with text SQLite would not write.
      (void)TakeValue(parsedRecord_.Column(i), encoding_, values[i], false);
      // A row written before the table gained columns: the added ones read
      // as NULL (their defaults are not known here).
      if (values[i].kind == CarvedValueKind::kLost) values[i].kind = CarvedValueKind::kNull;
      if (!shape_.rowidColumn || i != *shape_.rowidColumn) {
        admitted_[i] |= ClassBit(values[i].kind);
        liveKinds_[i] |= ClassBit(values[i].kind);
      }
      if (i == 0 && (values[0].kind == CarvedValueKind::kText || values[0].kind == CarvedValueKind::kBlob))
        liveTextOrBlobFirst_ = true;
    }
    liveColumnCounts_.insert(parsedRecord_.columns.size());
    LiveKeys keys;
    KeysOf(values, shape_.rowidColumn, keys.key, keys.tailKey);
    liveKeys_.insert(keys.key);
    liveTailKeys_.insert(keys.tailKey);
    liveByRowid_[parsedRecord_.rowId] = keys;
  }

  // The deleted record under the table's profile; false when it does not fit.
  bool Decode(const SqliteDbReader& reader, const RecordLocation& record, Found& found) {
    const ParsedRecord& parsed = parsedRecord_;
    const std::size_t columnCount = shape_.names.size();
    if (parsed.truncated || parsed.columns.empty() || parsed.columns.size() > columnCount) return false;
    lostBody_ = 0;
    if (record.mode == RecordMode::kCarved && parsed.firstColumn != 0 &&
        (!shape_.rowidColumn || *shape_.rowidColumn != 0) && !PlaceInFreeblock(reader, record)) {
      return false;
    }
    if (record.mode == RecordMode::kCarved && OverlapsCells(reader, record)) return false;
    if (parsed.columns.size() < columnCount && liveColumnCounts_.count(parsed.columns.size()) == 0)
      return false;
    found.firstLost = parsed.firstColumn != 0;
    std::vector<CarvedValue>& values = found.row.values;
    values.resize(columnCount);
    for (std::size_t i = 0; i < columnCount; ++i) {
      const bool lost = i == 0 && found.firstLost;
      const ColumnValue* column = parsed.Column(i);
      if (!lost && column == nullptr && i < parsed.columns.size()) return false;
      if (!TakeValue(column, encoding_, values[i])) return false;
      if (i >= parsed.columns.size()) values[i].kind = CarvedValueKind::kNull;
      if (lost) continue;
      if (shape_.rowidColumn && i == *shape_.rowidColumn) {
        // The record keeps NULL there; the rowid is the cell's.
        if (values[i].kind != CarvedValueKind::kNull) return false;
        continue;
      }
      if (values[i].kind == CarvedValueKind::kNull && shape_.rules[i].notNull) return false;
      if ((admitted_[i] & ClassBit(values[i].kind)) == 0) return false;
    }
    if (record.mode == RecordMode::kFullCell) found.row.rowid = parsed.rowId;
    // A record without its cell whose every value is NULL tells nothing,
    // and zeroed free space (secure_delete) reads as just such records.
    if (record.mode != RecordMode::kFullCell &&
        std::all_of(values.begin(), values.end(), [](const CarvedValue& value) {
          return value.kind == CarvedValueKind::kNull || value.kind == CarvedValueKind::kLost;
        }))
      return false;
    if (record.mode != RecordMode::kFullCell && NumbersWhereLiveRowsKeepText(values)) return false;
    KeysOf(values, shape_.rowidColumn, found.key, found.tailKey);
    if (found.firstLost) found.key = ValuesKey();
    if (shape_.rowidColumn) {
      CarvedValue& shown = values[*shape_.rowidColumn];
      shown.kind = found.row.rowid ? CarvedValueKind::kInteger : CarvedValueKind::kLost;
      shown.integer = found.row.rowid.value_or(0);
    }
    found.row.origin = record.origin;
    found.row.page = record.page;
    found.row.walFrame = record.walFrame;
    found.row.replacedByLog = record.replacedByLog;
    found.row.journalRecord = record.journalRecord;
    return true;
  }

  // A record of NULLs and numbers only, with a number in a column where
  // the live rows keep text or blobs and never a number: bytes inside some
  // other record's body (a compressed blob's header reads as a header
  // length and serial types) rather than a row of the table.
  bool NumbersWhereLiveRowsKeepText(const std::vector<CarvedValue>& values) const {
    constexpr uint8_t kTextual = ClassBit(CarvedValueKind::kText) | ClassBit(CarvedValueKind::kBlob);
    constexpr uint8_t kNumbers = ClassBit(CarvedValueKind::kInteger) | ClassBit(CarvedValueKind::kReal);
    bool misplaced = false;
    for (std::size_t i = 0; i < values.size(); ++i) {
      const uint8_t kind = ClassBit(values[i].kind);
      if ((kind & kTextual) != 0) return false;
      if ((kind & kNumbers) != 0 && (liveKinds_[i] & kTextual) != 0 && (liveKinds_[i] & kNumbers) == 0)
        misplaced = true;
    }
    return misplaced;
  }

  // Sum of the body sizes of the columns read.
  static uint64_t BodyBytes(const ParsedRecord& parsed) {
    uint64_t bytes = 0;
    for (const ColumnValue& column : parsed.columns) bytes += SerialTypeBodySize(column.serialType);
    return bytes;
  }

  // A record carved from a freeblock whose first byte is not 0 was read as
  // having lost its first serial type. When the first column is not the
  // rowid, its body still lies before the others, of a size the record
  // does not tell; the freeblock's size (the deleted cell's size, in its
  // bytes 2-3, four bytes before the record) does: either the first serial
  // type survived after all (the cell's first four bytes were its payload
  // length, rowid and header length) and the record fills the freeblock,
  // or the lost body takes what the other columns leave. parsedRecord_ is
  // read again accordingly; false when neither fits.
  bool PlaceInFreeblock(const SqliteDbReader& reader, const RecordLocation& record) {
    if (record.cellOffset < 12 || record.bytes.empty()) return false;
    const ByteSpan page(record.bytes.data() - record.cellOffset, record.cellOffset + record.bytes.size());
    const uint64_t cellSize = ReadBigEndian16(&page[record.cellOffset - 2]);
    if (cellSize < 4) return false;
    const uint64_t available = cellSize - 4;
    const auto columnCount = static_cast<uint32_t>(shape_.names.size());

    // The first serial type survived: all columns from the record's first byte.
    ParsedRecord whole;
    RecordLocation intact = record;
    intact.headerIntact = true;
    if (ParseCarvedRecord(intact, columnCount, whole) == kOk && !whole.truncated &&
        whole.headerLength + BodyBytes(whole) == available) {
      parsedRecord_ = std::move(whole);
      return true;
    }

    // The first serial type was lost: its body takes the bytes left over.
    const uint64_t known = parsedRecord_.headerLength + BodyBytes(parsedRecord_);
    if (known > available) return false;
    uint64_t lost = available - known;
    static constexpr uint8_t kNumberSizes[] = {0, 1, 2, 3, 4, 6, 8};
    auto isNumberSize = [](uint64_t size) {
      return std::find(std::begin(kNumberSizes), std::end(kNumberSizes), size) != std::end(kNumberSizes);
    };
    // Any size is a text or blob's; a number column holds them only when a
    // live row shows it does.
    const Affinity affinity = shape_.rules[0].affinity;
    const bool textual = affinity == Affinity::kText || affinity == Affinity::kBlob || liveTextOrBlobFirst_;
    if (!isNumberSize(lost) && !textual) {
      // Cells freed one after the other merge into one freeblock, whose
      // size then covers them all: this cell ends where the next one's
      // freeblock header (left when it was freed on its own) begins.
      const std::size_t cellStart = record.cellOffset - 4;
      const std::size_t blockEnd = std::min<std::size_t>(cellStart + cellSize, page.size());
      bool placed = false;
      for (const uint8_t size : kNumberSizes) {
        const std::size_t end = record.cellOffset + known + size;
        if (end + 8 > blockEnd) break;
        // The next cell, freed later, may still be whole.
        std::size_t cellEnd = 0;
        if (AnyCellAt(reader, page, end, cellEnd) && cellEnd <= blockEnd) {
          ParsedRecord next;
          const RecordLocation nextCell{page.subspan(end), static_cast<uint32_t>(end),
                                        static_cast<uint32_t>(cellEnd), RecordMode::kFullCell, 1};
          if (ParseCell(reader, nextCell, next) == kOk && next.columns.size() == columnCount) {
            lost = size;
            placed = true;
            break;
          }
        }
        const std::size_t next = ReadBigEndian16(&page[end]);
        const std::size_t nextSize = ReadBigEndian16(&page[end + 2]);
        if ((next != 0 && (next <= end || next >= page.size())) || nextSize < 4 + columnCount ||
            end + nextSize > page.size() || page[end + 4] == 0)
          continue;
        const uint64_t span = RecordSpan(columnCount, page.subspan(end + 4), 0, page.size() - end - 4);
        if (span == 0 || 4 + span > nextSize) continue;
        lost = size;
        placed = true;
        break;
      }
      if (!placed) return false;
    }
    lostBody_ = lost;
    if (lost == 0) return true;
    const std::size_t types = static_cast<std::size_t>(parsedRecord_.headerLength);
    if (types + lost > record.bytes.size()) return false;
    shifted_.assign(record.bytes.begin(), record.bytes.begin() + static_cast<std::ptrdiff_t>(types));
    shifted_.insert(shifted_.end(), record.bytes.begin() + static_cast<std::ptrdiff_t>(types + lost),
                    record.bytes.end());
    return ParseCarvedRecord(ByteSpan(shifted_), columnCount, parsedRecord_) == kOk &&
           !parsedRecord_.truncated && parsedRecord_.firstColumn != 0;
  }

  // A carved record whose bytes reach into a cell of its page, or into the
  // page header and cell pointers, was partly overwritten since it was
  // deleted: its values are no longer its own.
  bool OverlapsCells(const SqliteDbReader& reader, const RecordLocation& record) const {
    const ParsedRecord& parsed = parsedRecord_;
    // The first column's body, when lost, lies before the others: the
    // record then reaches further than it shows.
    const uint64_t end = record.cellOffset + parsed.headerLength + BodyBytes(parsed) + lostBody_;
    // The whole page: the record's bytes run from its place to the page end.
    const ByteSpan page(record.bytes.data() - record.cellOffset, record.cellOffset + record.bytes.size());
    const std::size_t headerOffset = record.page == 0 ? kFileHeaderSize : 0;
    if (page.size() < headerOffset + 8) return true;
    const std::vector<uint16_t> cells = reader.ReadCellPointers(page, headerOffset);
    const std::size_t pointersEnd = headerOffset + 8 + 2 * cells.size();
    if (record.cellOffset < pointersEnd) return true;
    for (const uint16_t cell : cells) {
      const Varint payload = ReadVarint(page.subspan(cell));
      const Varint rowid = ReadVarint(page.subspan(cell + payload.length));
      uint64_t local = reader.LocalPayloadSize(payload.value);
      if (local < payload.value) local += 4;
      const uint64_t cellEnd = cell + payload.length + rowid.length + local;
      if (cell < end && record.cellOffset < cellEnd) return true;
    }
    return false;
  }

  struct LiveKeys {
    ValuesKey key;
    ValuesKey tailKey;
  };

  const TableShape& shape_;
  TextEncoding encoding_;
  std::vector<uint8_t> admitted_;
  std::vector<uint8_t> liveKinds_;  // the storage classes the live rows hold, per column
  ParsedRecord parsedRecord_;
  std::vector<uint8_t> shifted_;      // a carved record with its lost first body taken out
  uint64_t lostBody_ = 0;             // bytes of that body
  bool liveTextOrBlobFirst_ = false;  // a live row keeps text or a blob in the first column
  std::set<std::size_t> liveColumnCounts_;
  FlatTable<int64_t, LiveKeys, RowidHash> liveByRowid_;
  FlatTable<ValuesKey, Present, ValuesKeyHash> liveKeys_;
  FlatTable<ValuesKey, Present, ValuesKeyHash> liveTailKeys_;
  std::vector<CarvedValue> liveValues_;  // the live row in hand, its buffers kept
  std::vector<Found> deleted_;
  std::vector<bool> earlierLost_;
  std::vector<ValuesKey> fullKeys_;
  CarvedTable table_;
};

Status CarveOne(SqliteDbReader& reader, const SchemaTable& table, TextEncoding encoding,
                CarveResult& result) {
  const TableShape shape = ShapeOf(table);
  if (!shape.skipReason.empty()) {
    result.skipped.push_back({table.name, shape.skipReason});
    return kOk;
  }
  TableProfile profile;
  profile.tableName = table.storedName;
  profile.columnCount = static_cast<uint32_t>(shape.names.size());
  profile.declaredColumns = shape.names;
  TableCarver carver(shape, encoding);
  const Status status = reader.ScanTable(
      profile, [&](SqliteDbReader& from, const RecordLocation& record) { return carver.Take(from, record); });
  result.tables.push_back(carver.Finish(table.name));
  return status;
}

// ---------------------------------------------------------------------------
// Tables no longer in the schema.

// A whole cell of any column count at `at`: payload length, a positive
// rowid, a record header whose serial types fill it exactly, bodies that
// fill the payload exactly, on the page alone (no overflow); two columns
// or more. `end` is then the cell's end.
bool AnyCellAt(const SqliteDbReader& reader, ByteSpan page, std::size_t at, std::size_t& end) {
  const ByteSpan area = page.subspan(at);
  const Varint payload = ReadVarint(area);
  if (!payload.complete || payload.value < 3 || payload.value > area.size() ||
      reader.LocalPayloadSize(payload.value) < payload.value)
    return false;
  const Varint rowid = ReadVarint(area.subspan(payload.length));
  if (!rowid.complete || rowid.value == 0 || rowid.value > static_cast<uint64_t>(INT64_MAX)) return false;
  const std::size_t recordAt = payload.length + rowid.length;
  if (recordAt + payload.value > area.size()) return false;
  const ByteSpan record = area.subspan(recordAt, static_cast<std::size_t>(payload.value));
  const Varint header = ReadVarint(record);
  if (!header.complete || header.value < header.length + 2 || header.value > record.size()) return false;
  std::size_t walked = header.length;
  uint64_t bodies = 0;
  while (walked < header.value) {
    const Varint type = ReadVarint(record.subspan(walked));
    if (!type.complete || type.value == 10 || type.value == 11) return false;
    walked += type.length;
    bodies += SerialTypeBodySize(type.value);
  }
  if (walked != header.value || header.value + bodies != payload.value) return false;
  end = at + recordAt + static_cast<std::size_t>(payload.value);
  return true;
}

// The rows of tables dropped from the schema, from free pages (the free
// list's leaves, and its trunks after their list of leaves): whole cells
// whose column count is no carved table's give each such table's column
// count and, by what its cells keep in each column, a profile; under it
// the pages are carved like a live table's free space (records whose
// cell start a freeblock header overwrote). Reported as "dropped table (N
// columns)", values by their serial types.
Status CarveDroppedTables(SqliteDbReader& reader, TextEncoding encoding, CarveResult& result) {
  std::set<std::size_t> liveCounts;
  for (const CarvedTable& table : result.tables) liveCounts.insert(table.columns.size());
  std::vector<std::pair<PageIndex, std::size_t>> pages;  // page, where its old cells may begin
  for (const PageIndex index : reader.FreePages()) pages.emplace_back(index, 8);
  std::vector<uint8_t> page;
  for (const PageIndex index : reader.FreeTrunkPages()) {
    if (reader.ReadPage(index, page) != kOk) continue;
    const uint64_t leaves = std::min<uint64_t>(ReadBigEndian32(&page[4]), page.size() / 4 - 2);
    pages.emplace_back(index, static_cast<std::size_t>(8 + 4 * leaves));
  }
  struct Cell {
    PageIndex page;
    uint32_t offset;
    uint32_t end;
  };
  struct Dropped {
    std::vector<Cell> cells;
    std::vector<uint8_t> kinds;              // per column: the classes its cells keep
    std::map<PageIndex, std::size_t> pages;  // page: where its cells may begin
  };
  std::map<std::size_t, Dropped> byCount;
  ParsedRecord parsed;
  CarvedValue value;
  std::set<PageIndex> done;
  for (auto& [index, start] : pages) {
    if (index == 0 || !done.insert(index).second || reader.ReadPage(index, page) != kOk) continue;
    // Index pages (types 2 and 10) and interior table pages keep no table rows.
    if (page[0] == 2 || page[0] == 10 || page[0] == kInteriorTablePage) continue;
    // Pointer-array entries left behind: none of them is a cell's byte.
    while (start + 1 < page.size()) {
      const std::size_t pointer = ReadBigEndian16(&page[start]);
      if (pointer == 0 || pointer >= page.size() || pointer < start) break;
      start += 2;
    }
    const ByteSpan bytes(page);
    std::size_t position = start;
    while (position + 4 < page.size()) {
      std::size_t end = 0;
      if (!AnyCellAt(reader, bytes, position, end)) {
        ++position;
        continue;
      }
      const auto cell = static_cast<uint32_t>(position);
      const RecordLocation location{bytes.subspan(cell), cell, static_cast<uint32_t>(end),
                                    RecordMode::kFullCell, 1};
      bool valid = ParseCell(reader, location, parsed) == kOk && !parsed.truncated;
      const std::size_t count = parsed.columns.size();
      valid = valid && liveCounts.count(count) == 0;
      bool textual = false;
      std::vector<uint8_t> kinds(count, 0);
      for (std::size_t i = 0; valid && i < count; ++i) {
        valid = TakeValue(parsed.Column(i), encoding, value);
        textual = textual || value.kind == CarvedValueKind::kText;
        kinds[i] = ClassBit(value.kind);
      }
      if (!valid || !textual) {
        ++position;
        continue;
      }
      position = end;
      Dropped& dropped = byCount[count];
      dropped.cells.push_back({index, cell, static_cast<uint32_t>(end)});
      dropped.kinds.resize(count, 0);
      for (std::size_t i = 0; i < count; ++i) dropped.kinds[i] |= kinds[i];
      dropped.pages.emplace(index, start);
    }
  }
  for (const auto& [count, dropped] : byCount) {
    TableShape shape;
    for (std::size_t i = 1; i <= count; ++i) shape.names.push_back("c" + std::to_string(i));
    for (const uint8_t kinds : dropped.kinds) {
      // The column's type as its cells show it: text, numbers, or anything.
      ColumnRule rule;
      const uint8_t text = ClassBit(CarvedValueKind::kText);
      const uint8_t number = ClassBit(CarvedValueKind::kInteger) | ClassBit(CarvedValueKind::kReal);
      const uint8_t kept = kinds & static_cast<uint8_t>(~ClassBit(CarvedValueKind::kNull));
      rule.affinity = kept != 0 && (kept & ~text) == 0     ? Affinity::kText
                      : kept != 0 && (kept & ~number) == 0 ? Affinity::kNumeric
                                                           : Affinity::kBlob;
      shape.rules.push_back(rule);
    }
    // A column NULL in every cell is the INTEGER PRIMARY KEY, which the
    // record keeps as NULL: it shows the rowid.
    if (dropped.cells.size() >= 2) {
      for (std::size_t i = 0; i < count && !shape.rowidColumn; ++i) {
        if (dropped.kinds[i] == ClassBit(CarvedValueKind::kNull))
          shape.rowidColumn = static_cast<uint32_t>(i);
      }
    }
    TableCarver carver(shape, encoding);
    std::vector<uint8_t> bytes;
    for (const auto& [index, start] : dropped.pages) {
      if (reader.ReadPage(index, bytes) != kOk) continue;
      const ByteSpan span(bytes);
      for (const Cell& cell : dropped.cells) {
        if (cell.page != index) continue;
        RecordLocation location{span.subspan(cell.offset), cell.offset, cell.end, RecordMode::kFullCell, 1};
        location.origin = RecordOrigin::kFreePage;
        location.page = index;
        (void)carver.Take(reader, location);
      }
      CarvingContext context;
      context.columnCount = static_cast<uint32_t>(count);
      context.usableSize = reader.UsableSize();
      CandidateList found;
      ScanArea(context, span, start, span.size(), RecordOrigin::kFreePage, found);
      for (const Candidate& candidate : found) {
        if (candidate.cellStart != 0) continue;  // a whole cell: taken above
        RecordLocation location{span.subspan(candidate.offset), candidate.offset, 0, RecordMode::kCarved, 1,
                                candidate.headerIntact};
        location.origin = RecordOrigin::kFreePage;
        location.page = index;
        (void)carver.Take(reader, location);
      }
    }
    result.tables.push_back(carver.Finish("dropped table (" + std::to_string(count) + " columns)"));
  }
  return kOk;
}

}  // namespace

std::string CarvedValue::Display() const {
  switch (kind) {
    case CarvedValueKind::kNull:
      return "NULL";
    case CarvedValueKind::kInteger:
      return std::to_string(integer);
    case CarvedValueKind::kReal: {
      char buffer[32];
      const auto end = std::to_chars(buffer, buffer + sizeof buffer, real);
      std::string text(buffer, end.ptr);
      // A whole number still reads as a real.
      if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
      return text;
    }
    case CarvedValueKind::kText:
      return bytes;
    case CarvedValueKind::kBlob: {
      static constexpr char kHex[] = "0123456789abcdef";
      std::string text = "x'";
      for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
      }
      return text + "'";
    }
    case CarvedValueKind::kLost:
      return "?";
  }
  return "?";
}

Status TableExists(const SqliteDbReader& reader, std::string_view tableName, bool& exists) {
  exists = false;
  std::vector<SchemaTable> tables;
  const Status status = ReadSchemaTables(reader, EncodingOf(reader), tables);
  exists =
      std::any_of(tables.begin(), tables.end(), [&](const SchemaTable& t) { return t.name == tableName; });
  return status;
}

Status CarveDeletedRows(SqliteDbReader& reader, std::string_view tableName, CarveResult& result) {
  const TextEncoding encoding = EncodingOf(reader);
  std::vector<SchemaTable> tables;
  if (const Status status = ReadSchemaTables(reader, encoding, tables); status != kOk) return status;
  bool any = false;
  Status first = kOk;
  for (const SchemaTable& table : tables) {
    if (!tableName.empty() && table.name != tableName) continue;
    any = true;
    // A table whose pages cannot all be read keeps what was carved; the
    // other tables are still carved.
    const Status status = CarveOne(reader, table, encoding, result);
    if (status != kOk) {
      if (!result.tables.empty() && result.tables.back().name == table.name) {
        result.tables.back().readProblem = status.Message();
      }
      if (first == kOk) first = status;
    }
  }
  if (!any && !tableName.empty()) return kInvalidData;
  if (tableName.empty()) (void)CarveDroppedTables(reader, encoding, result);
  return first;
}

}  // namespace corvyn::sqlite
