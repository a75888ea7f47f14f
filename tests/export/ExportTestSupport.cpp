#include "tests/export/ExportTestSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "backup/BackupDiscovery.h"
#include "backup/CLocalBuckupRecovery.h"
#include "core/EngineFactory.h"
#include "export/ReportTemplate.h"

namespace corvyn::exporting::testing {
namespace fs = std::filesystem;

void WriteTemplates(const fs::path& folder) {
  fs::create_directories(folder);
  for (const ReportKind kind : {ReportKind::kCallHistory, ReportKind::kNotes, ReportKind::kContacts,
                                ReportKind::kMessages, ReportKind::kWhatsApp}) {
    std::ofstream(folder / TemplateFileName(kind), std::ios::binary)
        << "<html><head><title>{|title|}</title></head><body><h1>{|title|}</h1><p>{|person|}</p>\n"
           "<table>\n{|content|}</table></body></html>\n";
  }
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text, bool* ok) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, wasQuoted = false, good = true;
  std::size_t i = 0;
  const auto endField = [&] {
    row.push_back(field);
    field.clear();
    wasQuoted = false;
  };
  while (i < text.size()) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        i += 2;
        continue;
      }
      if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
      ++i;
      continue;
    }
    if (c == '"') {
      if (!field.empty() || wasQuoted) good = false;
      quoted = wasQuoted = true;
    } else if (c == ',') {
      endField();
    } else if (c == '\r' || c == '\n') {
      endField();
      rows.push_back(row);
      row.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      if (wasQuoted) good = false;
      field += c;
    }
    ++i;
  }
  if (quoted) good = false;
  if (!field.empty() || !row.empty()) {
    endField();
    rows.push_back(row);
  }
  if (ok) *ok = good;
  return rows;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::string> FilesUnder(const fs::path& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file()) files.push_back(fs::relative(it->path(), folder).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

ScannedBackup::ScannedBackup(const fs::path& folder, const testsupport::StandardBackupOptions& options) {
  if (testsupport::MakeStandardBackup(folder / "scratch", backup_, options) != kOk) return;
  if (backup_.builder.Write(folder / "backup") != kOk) return;
  backup::BackupDescriptor descriptor;
  if (backup::ReadBackupFolder(folder / "backup", descriptor) != kOk) return;
  context_.Select(descriptor);
  context_.workingRoot = folder / "work";
  backup::RegisterBackupEngine();
  Status status;
  auto engine = CreateRecoveryEngine(kSourceKindBackup, &context_, &status);
  if (!engine || driver_.Start(std::move(engine), "") != kOk) return;
  driver_.Wait();
  ok_ = driver_.FinalStatus() == kOk;
}

}  // namespace corvyn::exporting::testing
