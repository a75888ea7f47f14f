// Row numbering state of the value-list writers (sqlite/ValueListWriter.h).
// Those writers still read and write it through the reader they are handed,
// so SqliteDbReader carries it as a base; nothing in the reader, the carving
// or the table scans' record decoders reads it. WriteMessageValueList and
// WriteContactValueList (sqlite/TableScans.h) seed it per file.
#pragma once

#include <cstdint>

namespace corvyn::sqlite {

struct ValueListCounters {
  uint64_t messageRowidCounter = 0;  // last number given to a message row without its own rowid
  uint64_t contactRowidCounter = 0;  // the same for contact rows
  int32_t contactHeaderLength = 0;   // column count of the last full contact cell written
};

}  // namespace corvyn::sqlite
