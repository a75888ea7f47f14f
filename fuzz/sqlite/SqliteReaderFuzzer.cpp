// Opens arbitrary bytes as a database file and scans known tables with
// carving and free pages, parsing every record it is handed, then runs the
// scanners straight on every page. Any read outside a buffer, hang or crash
// is a finding.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "sqlite/Carving.h"
#include "sqlite/RecordDecoders.h"
#include "sqlite/RecordParser.h"
#include "sqlite/SqliteDbReader.h"

namespace {

// The file each input is written to, removed when the process ends.
struct InputFile {
  std::filesystem::path path;
  InputFile() {
    std::random_device random;
    path =
        std::filesystem::temp_directory_path() / ("corvyn-sqlite-fuzz-" + std::to_string(random()) + ".db");
  }
  ~InputFile() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
};

const std::filesystem::path& InputPath() {
  static const InputFile file;
  return file.path;
}

// Touches every byte a parsed value points at, so a span outside its buffer
// is caught by the address sanitizer.
volatile uint64_t sink;
void Consume(const corvyn::sqlite::ParsedRecord& record) {
  uint64_t sum = 0;
  for (const auto& column : record.columns) {
    for (const uint8_t byte : column.body) sum += byte;
    sum += static_cast<uint64_t>(column.integer);
  }
  sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace corvyn::sqlite;
  {
    std::ofstream file(InputPath(), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  SqliteDbReader reader;
  if (reader.Open(InputPath()) != corvyn::kOk) return 0;
  ParsedRecord record;
  for (const char* table : {"message", "handle", "message_attachment_join", "call"}) {
    TableProfile profile = ProfileFor(table);
    profile.liveColumnCount = 14;
    const RecordDecoder decoder = [&](SqliteDbReader& r, const RecordLocation& location) {
      const corvyn::Status status = ParseRecord(r, location, profile.columnCount, record);
      if (status == corvyn::kOk) Consume(record);
      return status;
    };
    // Findings are crashes and hangs; what the scan returns does not matter.
    (void)reader.ScanTable(profile, decoder);
  }
  // The scanners on every page as a leaf of a 38-column table.
  std::vector<uint8_t> page;
  const CarvingContext context = MakeCarvingContext(reader, ProfileFor("message"));
  for (PageIndex index = 1; index < reader.PageCount() && index < 64; ++index) {
    if (reader.ReadPage(index, page) != corvyn::kOk) break;
    for (const Candidate& candidate : CollectPageCandidates(reader, context, page)) {
      const RecordLocation location{ByteSpan(page).subspan(candidate.offset),
                                    candidate.offset,
                                    0,
                                    RecordMode::kCarved,
                                    1,
                                    candidate.headerIntact};
      if (ParseCarvedRecord(location, 38, record) == corvyn::kOk) Consume(record);
    }
  }
  return 0;
}
