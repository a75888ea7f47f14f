#include "cli/CliApp.h"

#include <atomic>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "backup/BackupContext.h"
#include "backup/BackupDiscovery.h"
#include "backup/CLocalBuckupRecovery.h"
#include "cli/ScanJson.h"
#include "core/CategoryCatalog.h"
#include "core/EngineFactory.h"
#include "core/ScanDriver.h"
#include "platform/SpecialFolders.h"
#include "platform/Terminal.h"

#ifndef CORVYN_VERSION
#define CORVYN_VERSION "0.0.0"
#endif

namespace corvyn::cli {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kMaxPasswordBytes = 64 * 1024;
constexpr int kBarWidth = 30;

constexpr const char* kUsage =
    "usage: corvyn-cli --version\n"
    "       corvyn-cli --help\n"
    "       corvyn-cli backups\n"
    "       corvyn-cli scan FOLDER [--password-stdin] [--json]\n"
    "\n"
    "backups  lists the backups of the backup root and of the [BackupFolders]\n"
    "         section of config.ini beside the program\n"
    "scan     scans one backup folder and prints the count of each category;\n"
    "         --password-stdin reads the password of an encrypted backup as one\n"
    "         line from standard input; --json prints every record as JSON\n"
    "         Categories that cannot be read are named on standard error (and\n"
    "         under \"errors\" with --json); the other categories are still read.\n"
    "\n"
    "exit status: 0 the scan completed (also when some categories could not be\n"
    "read), 2 usage, 3 wrong password, 4 the source cannot be opened, 1 other\n"
    "failures (the scan was stopped, the engine could not start)\n";

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
    std::fprintf(streams_.err, "\r[%.*s%*s] %3d%%", filled, "##############################",
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
  password.clear();
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    if (password.size() == kMaxPasswordBytes) return false;
    password.push_back(static_cast<char>(c));
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

int ListCommand(const CliStreams& streams) {
  const auto roots = backup::BackupRoots(platform::ProgramDir() / "config.ini");
  std::vector<backup::BackupDescriptor> descriptors;
  if (const Status status = backup::ListBackups(roots, descriptors); status != kOk) {
    std::fprintf(streams.err, "corvyn-cli: no backup root can be named (set HOME or XDG_DATA_HOME)\n");
    return kExitFailed;
  }
  std::fprintf(streams.out, "Name\tLast Backup Date\tSerial Number\tPhone Number\tEncrypted\tFolder\n");
  for (const auto& d : descriptors) {
    std::fprintf(streams.out, "%s\t%s\t%s\t%s\t%s\t%s\n", d.displayName.c_str(), d.lastBackupDate.c_str(),
                 d.serialNumber.c_str(), d.phoneNumber.c_str(), d.encrypted ? "yes" : "no", d.folder.c_str());
  }
  return kExitOk;
}

int ScanCommand(const std::vector<std::string>& args, const CliStreams& streams) {
  std::string folder;
  bool passwordFromStdin = false;
  bool json = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--password-stdin") {
      passwordFromStdin = true;
    } else if (args[i] == "--json") {
      json = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      return Usage(streams, "unknown option " + args[i]);
    } else if (folder.empty()) {
      folder = args[i];
    } else {
      return Usage(streams, "scan takes one folder");
    }
  }
  if (folder.empty()) return Usage(streams, "scan needs a backup folder");

  backup::BackupDescriptor descriptor;
  if (backup::ReadBackupFolder(folder, descriptor) != kOk) {
    std::fprintf(streams.err, "corvyn-cli: cannot open %s: no readable Info.plist, not a backup folder\n",
                 folder.c_str());
    return kExitUnopenable;
  }
  std::string password;
  if (descriptor.encrypted && !passwordFromStdin) {
    return Usage(streams,
                 "the backup is encrypted; give its password on standard input with --password-stdin");
  }
  if (passwordFromStdin && !ReadPasswordLine(streams.in, password)) {
    return Usage(streams, "the password line is too long");
  }

  backup::RegisterBackupEngine();
  backup::BackupContext context;
  context.Select(descriptor);
  ScanSink sink(streams);
  int exitCode = kExitOk;
  {
    CScanDriver driver(sink, std::chrono::milliseconds(0));
    Status status = kOk;
    auto engine = CreateRecoveryEngine(kSourceKindBackup, &context, &status);
    if (!engine) {
      std::fprintf(streams.err, "corvyn-cli: the backup engine could not be created: %s\n",
                   status.Message().c_str());
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
    const Status finalStatus = driver.FinalStatus();
    std::vector<CategoryError> errors;
    if (!sink.wrongPassword && !sink.openFailed && finalStatus != kStopped) {
      for (const auto& failure : driver.CategoryFailures()) {
        errors.push_back({failure.label, failure.status.Message()});
      }
    }
    auto access = driver.LockResults();
    if (json) {
      const std::string text = ScanJson(finalStatus, errors, access.results);
      std::fwrite(text.data(), 1, text.size(), streams.out);
    } else if (!sink.wrongPassword && !sink.openFailed) {
      for (const RecordCategory category : kAllCategories) {
        std::fprintf(streams.out, "%s: %llu\n", std::string(CategoryLabel(category)).c_str(),
                     static_cast<unsigned long long>(TreeCount(category, access.results, access.statistics)));
      }
    }
    if (sink.wrongPassword) {
      std::fprintf(streams.err, "corvyn-cli: wrong password for the encrypted backup %s\n", folder.c_str());
      exitCode = kExitWrongPassword;
    } else if (sink.openFailed) {
      std::fprintf(streams.err, "corvyn-cli: cannot open the backup %s: %s\n", folder.c_str(),
                   finalStatus.Message().c_str());
      exitCode = kExitUnopenable;
    } else if (finalStatus == kStopped) {
      std::fprintf(streams.err, "corvyn-cli: the scan was stopped\n");
      exitCode = kExitFailed;
    }
    for (const CategoryError& error : errors) {
      std::fprintf(streams.err, "corvyn-cli: %s: %s\n", error.label.c_str(), error.message.c_str());
    }
  }
  std::fflush(streams.out);
  return exitCode;
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
  return Usage(streams, "unknown command " + command);
}

}  // namespace corvyn::cli
