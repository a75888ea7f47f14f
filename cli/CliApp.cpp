#include "cli/CliApp.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <thread>

#include "backup/BackupContext.h"
#include "backup/BackupDiscovery.h"
#include "backup/CLocalBuckupRecovery.h"
#include "cli/ScanJson.h"
#include "core/CategoryCatalog.h"
#include "core/EngineFactory.h"
#include "core/ScanDriver.h"
#include "core/TextFormat.h"
#include "device/CDeviceRecovery.h"
#include "device/DeviceScanSetup.h"
#include "device/IPhone.h"
#include "device/MobileDeviceLibrary.h"
#include "export/ExportJob.h"
#include "platform/PasswordLine.h"
#include "platform/SpecialFolders.h"
#include "platform/Terminal.h"
#include "sqlite/GenericCarve.h"
#include "sqlite/SqliteDbReader.h"

#ifndef CORVYN_VERSION
#define CORVYN_VERSION "0.0.0"
#endif

namespace corvyn::cli {
namespace fs = std::filesystem;
namespace {

constexpr int kBarWidth = 30;

constexpr const char* kUsage =
    "usage: corvyn-cli --version\n"
    "       corvyn-cli --help\n"
    "       corvyn-cli backups\n"
    "       corvyn-cli scan FOLDER [--password-stdin] [--json]\n"
    "       corvyn-cli scan --device [UDID] [--password-stdin] [--json]\n"
    "       corvyn-cli export FOLDER --out DIR [--password-stdin] [--only-deleted]\n"
    "                  [--category LABEL]... [--json]\n"
    "       corvyn-cli carve DB [--table T] [--json]\n"
    "\n"
    "backups  lists the backups of the backup root and of the [BackupFolders]\n"
    "         section of config.ini beside the program\n"
    "scan     scans one backup folder and prints the count of each category;\n"
    "         --password-stdin reads the password of an encrypted backup as one\n"
    "         line from standard input; --json prints every record as JSON\n"
    "         Categories that cannot be read are named on standard error (and\n"
    "         under \"errors\" with --json); the other categories are still read.\n"
    "         --device scans the connected phone (the one named by UDID when\n"
    "         several are): it is backed up into the working folder first;\n"
    "         a phone that encrypts its backups needs --password-stdin\n"
    "export   scans one backup folder and writes its records into DIR (copies,\n"
    "         reports, transcripts and CSV files); --category LABEL (as scan\n"
    "         prints them, e.g. \"Camera Roll\", \"Messages\") limits it to those\n"
    "         categories, --only-deleted to deleted records; prints what was\n"
    "         recovered and every file that failed, with --json as JSON\n"
    "carve    prints the deleted rows still in the SQLite file DB (and in its\n"
    "         -wal log or -journal beside it), of every table or of table T,\n"
    "         each with where it was found; the files are only read. Text output is\n"
    "         one line per row: table, origin, page number, rowid (- when lost),\n"
    "         then column=value (? for a value lost); --json prints an object\n"
    "\n"
    "exit status: 0 the scan completed (also when some categories could not be\n"
    "read), 2 usage, 3 wrong password, 4 the source cannot be opened, 1 other\n"
    "failures (the scan was stopped, the engine could not start; for export: a\n"
    "file that could not be written, or the export could not start; for carve:\n"
    "a page of the database could not be read)\n";

int Usage(const CliStreams& streams, const std::string& problem) {
  std::fprintf(streams.err, "corvyn-cli: %s (see corvyn-cli --help)\n", problem.c_str());
  return kExitUsage;
}

class ScanSink final : public IScanEventSink {
 public:
  explicit ScanSink(const CliStreams& streams) : streams_(streams) {}

  void Post(int message, int wParam) override {
    if (message != kMsgScanState) return;
    if (wParam == kScanStateWrongPassword) wrongPassword = true;
    if (wParam == kScanStateOpenFailed) openFailed = true;
  }

  void OnProgress(int percent) override {
    if (!streams_.errIsTerminal) return;
    const int filled = percent * kBarWidth / 100;
    std::fprintf(streams_.err, "\rscanning  [%.*s%*s] %3d%%", filled, "##############################",
                 kBarWidth - filled, "", percent);
    std::fflush(streams_.err);
    barShown = true;
  }

  std::atomic<bool> wrongPassword{false};
  std::atomic<bool> openFailed{false};
  std::atomic<bool> barShown{false};

 private:
  const CliStreams& streams_;
};

bool ReadPasswordLine(std::FILE* in, std::string& password) {
  std::optional<std::string> line = platform::ReadPasswordLine(in);
  if (!line) return false;
  password = std::move(*line);
  return true;
}

// Reads the backup folder's summary and, for an encrypted backup, the
// password line. Returns kExitOk, or the exit status to end with (its line
// already printed).
int PrepareBackup(const std::string& folder, bool passwordFromStdin, const CliStreams& streams,
                  backup::BackupDescriptor& descriptor, std::string& password) {
  if (backup::ReadBackupFolder(folder, descriptor) != kOk) {
    std::fprintf(streams.err, "corvyn-cli: cannot open %s: no readable Info.plist, not a backup folder\n",
                 folder.c_str());
    return kExitUnopenable;
  }
  if (descriptor.encrypted && !passwordFromStdin) {
    return Usage(streams,
                 "the backup is encrypted; give its password on standard input with --password-stdin");
  }
  if (passwordFromStdin && !ReadPasswordLine(streams.in, password)) {
    return Usage(streams, "the password line is too long");
  }
  return kExitOk;
}

// Runs the backup engine on the context through the driver until the scan
// ends, and finishes the progress bar. Returns kExitOk, or kExitFailed when
// the scan could not start (its line already printed).
int RunScan(int sourceKind, void* sourceContext, const std::string& password, ScanSink& sink,
            CScanDriver& driver, const CliStreams& streams) {
  Status status = kOk;
  auto engine = CreateRecoveryEngine(sourceKind, sourceContext, &status);
  if (!engine) {
    std::fprintf(streams.err, "corvyn-cli: the %s engine could not be created: %s\n",
                 sourceKind == kSourceKindDevice ? "device" : "backup", status.Message().c_str());
    return kExitFailed;
  }
  if (const Status started = driver.Start(std::move(engine), password); started != kOk) {
    std::fprintf(streams.err, "corvyn-cli: the scan could not be started: %s\n", started.Message().c_str());
    return kExitFailed;
  }
  driver.Wait();
  if (sink.barShown) {
    if (!sink.wrongPassword && !sink.openFailed && driver.FinalStatus() != kStopped) sink.OnProgress(100);
    std::fprintf(streams.err, "\n");
  }
  return kExitOk;
}

// Scans the source through its engine and prints what was found (counts,
// or every record with --json), then what could not be read. `sourceWords`
// names the source in messages ("the backup FOLDER", "the phone"),
// `lockedWords` what a wrong password was given for; the warnings are read
// once the scan has ended.
int ScanAndReport(int sourceKind, void* sourceContext, const std::string& password, bool json,
                  const std::string& sourceWords, const std::string& lockedWords,
                  const std::vector<std::string>& fileListWarnings, const CliStreams& streams) {
  ScanSink sink(streams);
  int exitCode = kExitOk;
  {
    CScanDriver driver(sink, std::chrono::milliseconds(0));
    if (const int exit = RunScan(sourceKind, sourceContext, password, sink, driver, streams); exit != kExitOk)
      return exit;
    const Status finalStatus = driver.FinalStatus();
    std::vector<CategoryError> errors;
    if (!sink.wrongPassword && !sink.openFailed && finalStatus != kStopped) {
      for (const auto& failure : driver.CategoryFailures()) {
        errors.push_back({failure.label, failure.status.Message()});
      }
    }
    auto access = driver.LockResults();
    if (json) {
      if (!WriteScanJson(streams.out, finalStatus, errors, access.results)) {
        std::fprintf(streams.err, "corvyn-cli: the JSON could not be written: %s\n", std::strerror(errno));
        exitCode = kExitFailed;
      }
    } else if (!sink.wrongPassword && !sink.openFailed) {
      for (const RecordCategory category : kAllCategories) {
        std::fprintf(streams.out, "%s: %llu\n", std::string(CategoryLabel(category)).c_str(),
                     static_cast<unsigned long long>(TreeCount(category, access.results, access.statistics)));
      }
    }
    if (sink.wrongPassword) {
      std::fprintf(streams.err, "corvyn-cli: wrong password for %s\n", lockedWords.c_str());
      exitCode = kExitWrongPassword;
    } else if (sink.openFailed) {
      std::fprintf(streams.err, "corvyn-cli: cannot open %s: %s\n", sourceWords.c_str(),
                   finalStatus.Message().c_str());
      exitCode = kExitUnopenable;
    } else if (finalStatus == kStopped) {
      std::fprintf(streams.err, "corvyn-cli: the scan was stopped\n");
      exitCode = kExitFailed;
    }
    for (const CategoryError& error : errors) {
      std::fprintf(streams.err, "corvyn-cli: %s: %s\n", error.label.c_str(), error.message.c_str());
    }
    // Rows of the file list that were refused or damaged: the rest was scanned.
    for (const std::string& warning : fileListWarnings) {
      std::fprintf(streams.err, "corvyn-cli: file list: %s\n", warning.c_str());
    }
    if (streams.processEndsAfter) {
      // Freeing a phone's worth of records one by one takes a noticeable
      // part of the run; they stay reachable until the process ends.
      static ScanResults* const kept = new ScanResults(std::move(access.results));
      (void)kept;
    }
  }
  std::fflush(streams.out);
  return exitCode;
}

int ListCommand(const CliStreams& streams) {
  const auto roots = backup::BackupRoots(platform::ProgramDir() / "config.ini");
  std::vector<backup::BackupDescriptor> descriptors;
  if (const Status status = backup::ListBackups(roots, descriptors); status != kOk) {
    std::fprintf(streams.err, "corvyn-cli: no backup root can be named (set HOME or XDG_DATA_HOME)\n");
    return kExitFailed;
  }
  std::fprintf(streams.out,
               "Name\tLast Backup Date\tSerial Number\tPhone Number\tiOS\tFinished\tEncrypted\tFolder\n");
  for (const auto& d : descriptors) {
    std::fprintf(streams.out, "%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", d.displayName.c_str(),
                 d.lastBackupDate.c_str(), d.serialNumber.c_str(), d.phoneNumber.c_str(),
                 d.productVersion.c_str(), d.snapshotUnfinished ? "no" : "yes", d.encrypted ? "yes" : "no",
                 d.folder.c_str());
  }
  return kExitOk;
}

// How long a scan of the connected phone waits for the phone to be seen.
constexpr auto kDeviceWait = std::chrono::seconds(10);

// Scans the connected phone: waits for it, connects, asks the device helper
// whether its backups are encrypted (and checks the password if so), then
// runs the device engine, which has the helper back it up.
int DeviceScanCommand(const std::string& udid, bool passwordFromStdin, bool json, const CliStreams& streams) {
  const fs::path& programFolder = platform::ProgramDir();
  if (!device::MobileDeviceSoftwarePresent(programFolder)) {
    std::fprintf(streams.err,
                 "corvyn-cli: the mobile-device library is not installed beside the program in %s "
                 "(libcorvyn-mobiledevice.so and registry.ini)\n",
                 programFolder.c_str());
    return kExitUnopenable;
  }
  std::unique_ptr<device::iPhone> phone;
  if (const Status created = device::iPhone::Create(programFolder, {}, phone, udid); created != kOk) {
    std::fprintf(streams.err, "corvyn-cli: the mobile-device library cannot be used: %s\n",
                 created.Message().c_str());
    return kExitUnopenable;
  }
  const auto deadline = std::chrono::steady_clock::now() + kDeviceWait;
  while (!phone->DeviceStored() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!phone->DeviceStored()) {
    std::fprintf(streams.err, "corvyn-cli: %s\n",
                 udid.empty() ? "no phone is connected (is usbmuxd running and the phone plugged in?)"
                              : ("the phone " + udid + " is not connected").c_str());
    return kExitUnopenable;
  }
  if (const Status connected = phone->Connect(); connected != kOk) {
    std::fprintf(streams.err, "corvyn-cli: cannot connect to the phone: %s\n", connected.Message().c_str());
    return kExitUnopenable;
  }
  std::string name, version;
  (void)phone->DeviceValue("DeviceName", name);
  (void)phone->DeviceValue("ProductVersion", version);
  const std::string words = "the phone \"" + name + "\"";
  if (streams.errIsTerminal) {
    std::fprintf(streams.err, "corvyn-cli: scanning %s (iOS %s); it is backed up first...\n", words.c_str(),
                 version.c_str());
  }

  const device::DeviceHelperSetup setup = device::MakeDeviceHelperSetup(programFolder, phone->StoredUdid());
  bool encrypted = false;
  if (const Status asked = device::AskBackupEncryption(setup, encrypted); asked != kOk) {
    // As the device page does: without an answer the phone is taken as not encrypting.
    std::fprintf(streams.err, "corvyn-cli: whether the phone encrypts its backups is unknown (%s)\n",
                 asked.Message().c_str());
  }
  std::string password;
  if (encrypted) {
    if (!passwordFromStdin)
      return Usage(streams, "the phone encrypts its backups; give its backup password with --password-stdin");
    if (!ReadPasswordLine(streams.in, password)) return Usage(streams, "the password line is too long");
    if (const Status checked = device::CheckBackupPassword(setup, password); checked != kOk) {
      std::fprintf(streams.err, "corvyn-cli: %s\n",
                   checked == kPasswordRefused
                       ? "wrong backup password for the phone"
                       : ("the backup password cannot be checked: " + checked.Message()).c_str());
      return checked == kPasswordRefused ? kExitWrongPassword : kExitUnopenable;
    }
  }

  device::RegisterDeviceEngine();
  device::DeviceSource source = device::MakeHelperDeviceSource(*phone, setup);
  static const std::vector<std::string> kNoWarnings;
  return ScanAndReport(kSourceKindDevice, &source, password, json, words, "the backups of " + words,
                       kNoWarnings, streams);
}

int ScanCommand(const std::vector<std::string>& args, const CliStreams& streams) {
  std::string folder;
  bool passwordFromStdin = false;
  bool json = false;
  bool fromDevice = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--password-stdin") {
      passwordFromStdin = true;
    } else if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--device") {
      fromDevice = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      return Usage(streams, "unknown option " + args[i]);
    } else if (folder.empty()) {
      folder = args[i];
    } else {
      return Usage(streams, fromDevice ? "scan --device takes one UDID" : "scan takes one folder");
    }
  }
  // With --device the one argument is the phone's UDID.
  if (fromDevice) return DeviceScanCommand(folder, passwordFromStdin, json, streams);
  if (folder.empty()) return Usage(streams, "scan needs a backup folder");

  backup::BackupDescriptor descriptor;
  std::string password;
  if (const int exit = PrepareBackup(folder, passwordFromStdin, streams, descriptor, password);
      exit != kExitOk) {
    return exit;
  }

  backup::RegisterBackupEngine();
  backup::BackupContext context;
  context.Select(descriptor);
  // The password check of an encrypted backup takes seconds before the bar moves.
  if (descriptor.encrypted && streams.errIsTerminal)
    std::fprintf(streams.err, "corvyn-cli: checking the password of the encrypted backup...\n");
  return ScanAndReport(kSourceKindBackup, &context, password, json, "the backup " + folder,
                       "the encrypted backup " + folder, context.fileListWarnings, streams);
}

// Draws the export's progress on a terminal and keeps nothing else.
class ExportBar final : public exporting::IExportSink {
 public:
  explicit ExportBar(const CliStreams& streams) : streams_(streams) {}
  void OnProgress(const std::string&, int percent, const exporting::ExportCounts& counts) override {
    if (!streams_.errIsTerminal) return;
    const int overall = counts.total == 0 ? 100 : static_cast<int>(counts.done * 100 / counts.total);
    if (overall == shown_) return;
    shown_ = overall;
    (void)percent;  // the bar shows the whole export, not the current file
    const int filled = overall * kBarWidth / 100;
    std::fprintf(streams_.err, "\rexporting [%.*s%*s] %3d%%", filled, "##############################",
                 kBarWidth - filled, "", overall);
    std::fflush(streams_.err);
  }
  void OnDetail(const exporting::ExportDetail&, const exporting::ExportCounts&) override {}
  bool Shown() const { return shown_ >= 0; }

 private:
  const CliStreams& streams_;
  int shown_ = -1;
};

std::string ExportSummaryJson(const exporting::ExportSummary& summary, const fs::path& root) {
  std::string json = "{\"root\": " + JsonString(root.string());
  json += ", \"status\": " + std::to_string(summary.status.IsSystemError() ? static_cast<int>(kInvalidData)
                                                                           : summary.status.value());
  json += ", \"message\": " + JsonString(summary.status.ok() ? "" : summary.status.Message());
  const auto number = [](uint64_t value) { return std::to_string(value); };
  json += ", \"done\": " + number(summary.counts.done) + ", \"total\": " + number(summary.counts.total) +
          ", \"succeeded\": " + number(summary.counts.Succeeded()) +
          ", \"failed\": " + number(summary.counts.failed);
  json += ", \"failures\": [";
  for (std::size_t i = 0; i < summary.failures.size(); ++i) {
    json += i ? ", " : "";
    json += "{\"path\": " + JsonString(summary.failures[i].path) +
            ", \"reason\": " + JsonString(summary.failures[i].StatusText()) + "}";
  }
  json += "]}\n";
  return json;
}

int ExportCommand(const std::vector<std::string>& args, const CliStreams& streams) {
  std::string folder, out;
  bool passwordFromStdin = false, json = false, onlyDeleted = false;
  std::vector<RecordCategory> categories;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--password-stdin") {
      passwordFromStdin = true;
    } else if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--only-deleted") {
      onlyDeleted = true;
    } else if (args[i] == "--out" || args[i] == "--category") {
      if (i + 1 >= args.size()) return Usage(streams, args[i] + " needs a value");
      const std::string& value = args[++i];
      if (args[i - 1] == "--out") {
        out = value;
      } else if (const RecordCategory category = CategoryFromLabel(value);
                 category != RecordCategory::kNone) {
        categories.push_back(category);
      } else {
        return Usage(streams, "unknown category " + value);
      }
    } else if (!args[i].empty() && args[i][0] == '-') {
      return Usage(streams, "unknown option " + args[i]);
    } else if (folder.empty()) {
      folder = args[i];
    } else {
      return Usage(streams, "export takes one folder");
    }
  }
  if (folder.empty()) return Usage(streams, "export needs a backup folder");
  if (out.empty()) return Usage(streams, "export needs --out DIR");

  backup::BackupDescriptor descriptor;
  std::string password;
  if (const int exit = PrepareBackup(folder, passwordFromStdin, streams, descriptor, password);
      exit != kExitOk) {
    return exit;
  }

  backup::RegisterBackupEngine();
  backup::BackupContext context;
  context.Select(descriptor);
  ScanSink sink(streams);
  CScanDriver driver(sink, std::chrono::milliseconds(0));
  if (const int exit = RunScan(kSourceKindBackup, &context, password, sink, driver, streams); exit != kExitOk)
    return exit;
  if (sink.wrongPassword) {
    std::fprintf(streams.err, "corvyn-cli: wrong password for the encrypted backup %s\n", folder.c_str());
    return kExitWrongPassword;
  }
  if (sink.openFailed) {
    std::fprintf(streams.err, "corvyn-cli: cannot open the backup %s: %s\n", folder.c_str(),
                 driver.FinalStatus().Message().c_str());
    return kExitUnopenable;
  }
  for (const auto& failure : driver.CategoryFailures()) {
    std::fprintf(streams.err, "corvyn-cli: %s: %s\n", failure.label.c_str(),
                 failure.status.Message().c_str());
  }
  for (const std::string& warning : context.fileListWarnings) {
    std::fprintf(streams.err, "corvyn-cli: file list: %s\n", warning.c_str());
  }

  auto access = driver.LockResults();
  for (const RecordCategory category : kAllCategories) {
    const void* container = access.results.ContainerOf(category);
    const bool named =
        categories.empty() || std::find(categories.begin(), categories.end(), category) != categories.end();
    // Files carry no deleted flag: none of them is a deleted record.
    (void)access.statistics.SetChecked(container,
                                       named && (!onlyDeleted || CategoryHasDeletedFlag(category)));
    if (onlyDeleted && CategoryHasDeletedFlag(category)) {
      (void)access.statistics.ApplyDeletedOnlyFilter(container, true);  // the count is the tree's business
    }
  }
  ExportBar bar(streams);
  exporting::ExportRequest request{out, descriptor.displayName, streams.templateFolder, -1};
  exporting::ExportJob job(access.results, access.statistics, *driver.Engine(), request, &bar);
  const exporting::ExportSummary summary = job.Run();
  if (bar.Shown()) std::fprintf(streams.err, "\n");

  if (json) {
    const std::string text = ExportSummaryJson(summary, out);
    std::fwrite(text.data(), 1, text.size(), streams.out);
  } else {
    std::fprintf(
        streams.out, "recovered: %" PRIu64 " of %" PRIu64 ", %" PRIu64 " succeeded, %" PRIu64 " failed\n",
        summary.counts.done, summary.counts.total, summary.counts.Succeeded(), summary.counts.failed);
    for (const auto& failure : summary.failures) {
      std::fprintf(streams.out, "failed: %s: %s\n", failure.path.c_str(), failure.StatusText().c_str());
    }
  }
  if (!summary.status.ok()) {
    std::fprintf(streams.err, "corvyn-cli: the export did not run: %s\n", summary.status.Message().c_str());
  }
  std::fflush(streams.out);
  return summary.ok() ? kExitOk : kExitFailed;
}

// --- carve ---------------------------------------------------------------

// Where a row was found, in words: "freeblock", "gap (log frame 7)", "old
// page version (main file, replaced by the log)", "rollback journal (record
// 3)", with ", earlier version"
// for the old values of a row that is still live.
std::string CarvedOriginText(const sqlite::CarvedRow& row) {
  std::string text(sqlite::RecordOriginName(row.origin));
  if (row.origin == sqlite::RecordOrigin::kJournal) {
    text += " (record " + std::to_string(row.journalRecord) + ")";
  } else if (row.walFrame != 0) {
    text += " (log frame " + std::to_string(row.walFrame) + ")";
  } else if (row.replacedByLog) {
    text += " (main file, replaced by the log)";
  }
  if (row.earlierVersion) text += ", earlier version";
  return text;
}

// A value on one line of text output: tabs, line breaks and backslashes
// escaped.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    switch (c) {
      case '\t':
        line += "\\t";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      case '\\':
        line += "\\\\";
        break;
      default:
        line += c;
    }
  }
  return line;
}

std::string CarvedValueJson(const sqlite::CarvedValue& value) {
  using Kind = sqlite::CarvedValueKind;
  switch (value.kind) {
    case Kind::kInteger:
      return std::to_string(value.integer);
    case Kind::kReal:
      return std::isfinite(value.real) ? value.Display() : JsonString(value.Display());
    case Kind::kText:
      return JsonString(value.bytes);
    case Kind::kBlob: {
      const std::string hex = value.Display();  // x'...'
      return "{\"blob\": " + JsonString(hex.substr(2, hex.size() - 3)) + "}";
    }
    default:
      return "null";
  }
}

std::string CarveJson(const std::string& database, const sqlite::CarveResult& result) {
  std::string json = "{\"database\": " + JsonString(database) + ", \"tables\": [";
  for (std::size_t t = 0; t < result.tables.size(); ++t) {
    const sqlite::CarvedTable& table = result.tables[t];
    json += t ? ", " : "";
    json += "{\"name\": " + JsonString(table.name) + ", \"columns\": [";
    for (std::size_t c = 0; c < table.columns.size(); ++c)
      json += (c ? ", " : "") + JsonString(table.columns[c]);
    json += "], \"liveRows\": " + std::to_string(table.liveRows);
    if (!table.readProblem.empty()) json += ", \"readProblem\": " + JsonString(table.readProblem);
    json += ", \"deleted\": [";
    for (std::size_t r = 0; r < table.deleted.size(); ++r) {
      const sqlite::CarvedRow& row = table.deleted[r];
      json += r ? ", " : "";
      json += "{\"rowid\": " + (row.rowid ? std::to_string(*row.rowid) : std::string("null"));
      json += ", \"origin\": " + JsonString(row.origin == sqlite::RecordOrigin::kJournal
                                                ? std::string_view("journal")
                                                : sqlite::RecordOriginName(row.origin));
      if (row.origin == sqlite::RecordOrigin::kJournal)
        json += ", \"journalRecord\": " + std::to_string(row.journalRecord);
      json += ", \"page\": " + std::to_string(static_cast<uint64_t>(row.page) + 1);
      json += ", \"walFrame\": " + std::to_string(row.walFrame);
      json += std::string(", \"replacedByLog\": ") + (row.replacedByLog ? "true" : "false");
      json += std::string(", \"earlierVersion\": ") + (row.earlierVersion ? "true" : "false");
      json += ", \"values\": [";
      for (std::size_t v = 0; v < row.values.size(); ++v)
        json += (v ? ", " : "") + CarvedValueJson(row.values[v]);
      json += "]}";
    }
    json += "]}";
  }
  json += "], \"skipped\": [";
  for (std::size_t s = 0; s < result.skipped.size(); ++s) {
    json += (s ? ", " : "") + std::string("{\"name\": ") + JsonString(result.skipped[s].name) +
            ", \"reason\": " + JsonString(result.skipped[s].reason) + "}";
  }
  return json + "]}\n";
}

void PrintCarveText(const sqlite::CarveResult& result, std::FILE* out) {
  // A schema without tables (all dropped, or none made) still gets a line.
  if (result.tables.empty() && result.skipped.empty()) std::fprintf(out, "# the schema names no table\n");
  for (const sqlite::CarvedTable& table : result.tables) {
    std::fprintf(out, "# %s: %zu deleted row%s%s%s\n", OneLine(table.name).c_str(), table.deleted.size(),
                 table.deleted.size() == 1 ? "" : "s",
                 table.readProblem.empty() ? "" : "; some pages unread: ", table.readProblem.c_str());
    for (const sqlite::CarvedRow& row : table.deleted) {
      std::string line = OneLine(table.name) + "\t" + CarvedOriginText(row) + "\t" +
                         std::to_string(static_cast<uint64_t>(row.page) + 1) + "\t" +
                         (row.rowid ? std::to_string(*row.rowid) : std::string("-"));
      for (std::size_t c = 0; c < row.values.size() && c < table.columns.size(); ++c) {
        line += "\t" + OneLine(table.columns[c]) + "=" + OneLine(row.values[c].Display());
      }
      std::fprintf(out, "%s\n", line.c_str());
    }
  }
  for (const sqlite::SkippedTable& skipped : result.skipped) {
    std::fprintf(out, "# %s: skipped, %s\n", OneLine(skipped.name).c_str(), skipped.reason.c_str());
  }
}

int CarveCommand(const std::vector<std::string>& args, const CliStreams& streams) {
  std::string database;
  std::string table;
  bool json = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--table") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return Usage(streams, "--table needs a table name");
      table = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      return Usage(streams, "unknown option " + args[i]);
    } else if (database.empty()) {
      database = args[i];
    } else {
      return Usage(streams, "carve takes one database file");
    }
  }
  if (database.empty()) return Usage(streams, "carve needs the database file");

  std::error_code error;
  if (!fs::is_regular_file(database, error)) {
    std::fprintf(streams.err, "corvyn-cli: cannot open %s: no such file\n", database.c_str());
    return kExitUnopenable;
  }
  sqlite::SqliteDbReader reader;
  if (const Status opened = reader.Open(database); opened != kOk) {
    if (opened == kInvalidData) {
      std::fprintf(streams.err, "corvyn-cli: cannot open %s: it is not an SQLite 3 database\n",
                   database.c_str());
    } else {
      std::fprintf(streams.err, "corvyn-cli: cannot open %s: %s\n", database.c_str(),
                   opened.Message().c_str());
    }
    return kExitUnopenable;
  }
  const sqlite::WalVerdict wal = reader.WalState();
  if (wal != sqlite::WalVerdict::kAbsent && wal != sqlite::WalVerdict::kApplied) {
    const std::string why(sqlite::WalVerdictText(wal));
    std::fprintf(streams.err, "corvyn-cli: the log %s-wal was not used: %s\n", database.c_str(), why.c_str());
  }
  const sqlite::JournalVerdict journal = reader.JournalState();
  if (journal != sqlite::JournalVerdict::kAbsent && journal != sqlite::JournalVerdict::kRead &&
      journal != sqlite::JournalVerdict::kEmpty) {
    const std::string why(sqlite::JournalVerdictText(journal));
    std::fprintf(streams.err, "corvyn-cli: %s-journal: %s\n", database.c_str(), why.c_str());
  }
  if (!table.empty()) {
    bool exists = false;
    if (const Status status = sqlite::TableExists(reader, table, exists); status != kOk) {
      std::fprintf(streams.err, "corvyn-cli: the schema of %s cannot be read: %s\n", database.c_str(),
                   status.Message().c_str());
      return kExitFailed;
    }
    if (!exists) return Usage(streams, "there is no table named " + table + " in " + database);
  }
  sqlite::CarveResult result;
  const Status carved = sqlite::CarveDeletedRows(reader, table, result);
  if (json) {
    const std::string text = CarveJson(database, result);
    std::fwrite(text.data(), 1, text.size(), streams.out);
  } else {
    PrintCarveText(result, streams.out);
  }
  if (carved != kOk) {
    std::fprintf(streams.err, "corvyn-cli: %s could not be read whole: %s\n", database.c_str(),
                 carved.Message().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

bool StandardErrorIsTerminal() {
  return platform::IsTerminal(platform::StandardStream::kError);
}

int RunCli(const std::vector<std::string>& args, const CliStreams& streams) {
  if (args.empty()) return Usage(streams, "no command given");
  const std::string& command = args[0];
  if (command == "--version") {
    std::fprintf(streams.out, "corvyn-cli %s\n", CORVYN_VERSION);
    return kExitOk;
  }
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, streams.out);
    return kExitOk;
  }
  if (command == "backups") {
    if (args.size() != 1) return Usage(streams, "backups takes no arguments");
    return ListCommand(streams);
  }
  if (command == "scan") return ScanCommand(args, streams);
  if (command == "export") return ExportCommand(args, streams);
  if (command == "carve") return CarveCommand(args, streams);
  return Usage(streams, "unknown command " + command);
}

}  // namespace corvyn::cli
