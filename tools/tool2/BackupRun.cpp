#include "tools/tool2/BackupRun.h"

#include <fcntl.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

#include "tools/tool2/PhoneLink.h"

namespace corvyn::tool2 {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 3;

constexpr int kPollMilliseconds = 100;  // the stop file is looked for this often
constexpr auto kRepeatProgressEvery = 1s;
constexpr auto kCheckPhoneEvery = 500ms;
constexpr auto kGraceBeforeKill = 1500ms;
constexpr std::size_t kLineLimit = 64 * 1024;
constexpr std::string_view kStagingPrefix = ".tool2-staging-";
constexpr std::string_view kPreviousPrefix = ".tool2-previous-";
// The backup service's error for a phone locked with a passcode.
constexpr int kDeviceLockedError = 208;

volatile sig_atomic_t endRequested = 0;

void OnEndSignal(int) {
  endRequested = 1;
}

void WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // nobody reads any more (EPIPE): nothing left to tell
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// What idevicebackup2 has printed so far.
struct ToolReport {
  int progress = 0;  // of the last overall bar ("[===   ]  40% Finished")
  bool succeeded = false;
  bool locked = false;
  bool noPhone = false;
  std::string lastError;  // the last line that reads as a failure
};

// Splits idevicebackup2's output into lines (its bars end in "\r") and judges each.
class OutputReader {
 public:
  void Feed(std::string_view bytes) {
    pending_.append(bytes);
    std::size_t start = 0;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      if (pending_[i] != '\n' && pending_[i] != '\r') continue;
      Judge(std::string_view(pending_).substr(start, i - start));
      start = i + 1;
    }
    pending_.erase(0, start);
    if (pending_.size() > kLineLimit) Finish();
  }
  void Finish() {
    Judge(pending_);
    pending_.clear();
  }
  const ToolReport& Report() const { return report_; }

 private:
  void Judge(std::string_view line) {
    if (line.empty()) return;
    if (Contains(line, "Backup Successful.")) report_.succeeded = true;
    if (const auto at = line.find("% Finished"); at != std::string_view::npos) {
      std::size_t begin = at;
      while (begin > 0 && std::isdigit(static_cast<unsigned char>(line[begin - 1]))) --begin;
      if (begin < at && at - begin <= 3) {
        const int value = std::stoi(std::string(line.substr(begin, at - begin)));
        report_.progress = std::max(report_.progress, std::min(value, 100));
      }
    }
    const std::string lockdownLocked =
        "lockdownd, error code " + std::to_string(LOCKDOWN_E_PASSWORD_PROTECTED);
    const std::string serviceLocked = "ErrorCode " + std::to_string(kDeviceLockedError);
    if (Contains(line, lockdownLocked) || Contains(line, serviceLocked)) report_.locked = true;
    if (Contains(line, "No device found")) report_.noPhone = true;
    for (std::string_view failure : {"ERROR", "ErrorCode", "Backup Failed", "Backup Aborted", "Could not"}) {
      if (Contains(line, failure)) report_.lastError = std::string(line);
    }
  }

  std::string pending_;
  ToolReport report_;
};

// idevicebackup2 as a child of ours, in our process group (so whoever ends
// us ends it too) and ended with us should we die first.
class BackupTool {
 public:
  ~BackupTool() {
    End();
    if (output_ >= 0) close(output_);
  }

  bool Start(const std::string& tool, const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
      close(pipeEnds[0]);
      close(pipeEnds[1]);
      return false;
    }
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      const int nothing = open("/dev/null", O_RDONLY);
      if (nothing >= 0) dup2(nothing, STDIN_FILENO);
      dup2(pipeEnds[1], STDOUT_FILENO);
      dup2(pipeEnds[1], STDERR_FILENO);
      signal(SIGPIPE, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(tool.c_str()));
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execvp(tool.c_str(), argv.data());
      _exit(127);
    }
    close(pipeEnds[1]);
    output_ = pipeEnds[0];
    return true;
  }

  int Output() const { return output_; }

  // True once the tool has ended; `exitCode` is its exit code (-1 after a signal).
  bool Ended(int& exitCode) {
    if (pid_ <= 0) {
      exitCode = exitCode_;
      return true;
    }
    int status = 0;
    const pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == 0) return false;
    exitCode_ = got == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    exitCode = exitCode_;
    return true;
  }

  // Asks the tool to stop (it then leaves the phone's sync lock cleanly),
  // and kills it when it does not end soon.
  void End() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    const auto deadline = Clock::now() + kGraceBeforeKill;
    int code = 0;
    while (!Ended(code) && Clock::now() < deadline) poll(nullptr, 0, 20);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  int exitCode_ = -1;
};

bool OnPath(const std::string& tool) {
  if (tool.find('/') != std::string::npos) return access(tool.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/bin:/bin";
  while (true) {
    const auto colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    if (!folder.empty() && access((std::string(folder) + "/" + tool).c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

// True when <backup>/Status.plist says the snapshot finished.
bool SnapshotFinished(const fs::path& backup) {
  std::ifstream in(backup / "Status.plist", std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.empty()) return false;
  plist_t root = nullptr;
  plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
  if (!root) return false;
  bool finished = false;
  plist_t state =
      plist_get_node_type(root) == PLIST_DICT ? plist_dict_get_item(root, "SnapshotState") : nullptr;
  if (state && plist_get_node_type(state) == PLIST_STRING) {
    char* text = nullptr;
    plist_get_string_val(state, &text);
    finished = text && std::strcmp(text, "finished") == 0;
    std::free(text);
  }
  plist_free(root);
  return finished;
}

bool HoldsManifest(const fs::path& backup) {
  std::error_code ignored;
  return fs::is_regular_file(backup / "Manifest.db", ignored) ||
         fs::is_regular_file(backup / "Manifest.mbdb", ignored);
}

// Removes staging and previous-backup folders left by a tool2 that was killed.
void RemoveLeftovers(const fs::path& root) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(root, error)) {
    const std::string name = entry.path().filename().string();
    std::string_view rest;
    if (name.rfind(kStagingPrefix, 0) == 0) {
      rest = std::string_view(name).substr(kStagingPrefix.size());
    } else if (name.rfind(kPreviousPrefix, 0) == 0) {
      rest = std::string_view(name).substr(kPreviousPrefix.size());
    } else {
      continue;
    }
    const long owner = std::strtol(std::string(rest.substr(0, rest.find('-'))).c_str(), nullptr, 10);
    if (owner <= 0 || (kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH)) {
      std::error_code ignored;
      fs::remove_all(entry.path(), ignored);
    }
  }
}

bool StopAsked(const fs::path& stopFile) {
  std::error_code ignored;
  return endRequested || (!stopFile.empty() && fs::exists(stopFile, ignored));
}

enum class Ending { kToolEnded, kStopped, kPhoneGone };

// Follows the running tool to its end, the stop file's appearance or the phone's departure.
Ending Follow(BackupTool& tool, OutputReader& reader, const BackupRequest& request, const std::string& udid,
              int& exitCode) {
  int said = 0;
  auto lastSaid = Clock::now();
  auto lastPhoneCheck = Clock::now();
  bool outputOpen = true;
  while (true) {
    if (StopAsked(request.stopFile)) return Ending::kStopped;
    if (outputOpen) {
      pollfd waiting{tool.Output(), POLLIN, 0};
      if (poll(&waiting, 1, kPollMilliseconds) > 0) {
        char buffer[4096];
        const ssize_t got = read(tool.Output(), buffer, sizeof buffer);
        if (got > 0) {
          reader.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
        } else if (got == 0 || errno != EINTR) {
          outputOpen = false;
        }
      }
    } else {
      poll(nullptr, 0, kPollMilliseconds);
    }
    if (tool.Ended(exitCode)) {
      // whatever is still in the pipe belongs to the judgement
      char buffer[4096];
      ssize_t got;
      while (outputOpen && (got = read(tool.Output(), buffer, sizeof buffer)) > 0)
        reader.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
      reader.Finish();
      return Ending::kToolEnded;
    }
    const auto now = Clock::now();
    if (reader.Report().progress != said || now - lastSaid >= kRepeatProgressEvery) {
      said = reader.Report().progress;
      Say(std::to_string(said));
      lastSaid = now;
    }
    if (now - lastPhoneCheck >= kCheckPhoneEvery) {
      lastPhoneCheck = now;
      if (!PhoneListed(udid)) return Ending::kPhoneGone;
    }
  }
}

// Puts the finished backup `finished` at `target`; an older backup there is
// replaced only once the new one is in place.
bool MoveIntoPlace(const fs::path& finished, const fs::path& target, const fs::path& root) {
  std::error_code error;
  const fs::path previous = root / (std::string(kPreviousPrefix) + std::to_string(getpid()) + "-old");
  fs::remove_all(previous, error);
  const bool hadOne = fs::exists(target, error);
  if (hadOne) {
    fs::rename(target, previous, error);
    if (error) {
      Explain("the earlier backup of this phone cannot be moved aside: " + error.message());
      return false;
    }
  }
  fs::rename(finished, target, error);
  if (error) {
    Explain("the new backup cannot be moved into place: " + error.message());
    std::error_code ignored;
    if (hadOne) fs::rename(previous, target, ignored);
    return false;
  }
  std::error_code ignored;
  fs::remove_all(previous, ignored);
  return true;
}

}  // namespace

void Say(const std::string& text) {
  WriteAll(STDOUT_FILENO, text + "\n");
}

void Explain(const std::string& text) {
  std::string words;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) words.push_back(c);
  }
  WriteAll(STDERR_FILENO, "tool two: " + words + "\n");
}

int RunBackup(const BackupRequest& request) {
  signal(SIGPIPE, SIG_IGN);
  struct sigaction endHandler {};
  endHandler.sa_handler = OnEndSignal;
  sigemptyset(&endHandler.sa_mask);
  sigaction(SIGTERM, &endHandler, nullptr);
  sigaction(SIGINT, &endHandler, nullptr);

  if (request.root.empty()) {
    Explain("no backup folder was given (CORVYN_BACKUP_ROOT)");
    return kExitUsage;
  }
  std::error_code error;
  fs::create_directories(request.root, error);
  if (error || !fs::is_directory(request.root)) {
    Explain("the backup folder cannot be made: " + request.root.string());
    return kExitFailed;
  }
  if (!OnPath(request.backupTool)) {
    Explain(request.backupTool + " is not installed (package libimobiledevice-utils)");
    return kExitFailed;
  }
  RemoveLeftovers(request.root);

  std::string udid;
  {
    PhoneLink link;
    const LinkOutcome opened = link.Open(request.udid);
    if (opened.result != LinkResult::kOk) {
      Explain(opened.words);
      Say(opened.result == LinkResult::kLocked ? "passcode lock" : "Disconnect");
      return kExitFailed;
    }
    udid = link.Udid();
  }
  Say("0");

  std::string pattern =
      (request.root / (std::string(kStagingPrefix) + std::to_string(getpid()) + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) {
    Explain("the staging folder cannot be made in " + request.root.string() + ": " + std::strerror(errno));
    return kExitFailed;
  }
  const fs::path staging = pattern;
  // Whatever way the backup ends, the staging folder goes before the last word is said.
  struct StagingCleaner {
    fs::path folder;
    void Clean() {
      std::error_code ignored;
      if (!folder.empty()) fs::remove_all(folder, ignored);
      folder.clear();
    }
    ~StagingCleaner() { Clean(); }
  } cleaner{staging};

  BackupTool tool;
  if (!tool.Start(request.backupTool, {"-u", udid, "backup", "--full", staging.string()})) {
    Explain(request.backupTool + " cannot be started: " + std::strerror(errno));
    return kExitFailed;
  }
  OutputReader reader;
  int exitCode = -1;
  const Ending ending = Follow(tool, reader, request, udid, exitCode);
  if (ending != Ending::kToolEnded) tool.End();
  const ToolReport& report = reader.Report();

  if (ending == Ending::kStopped || StopAsked(request.stopFile)) {
    cleaner.Clean();
    Say("user cancle");
    return kExitStopped;
  }
  if (ending == Ending::kPhoneGone) {
    cleaner.Clean();
    Explain("the phone was disconnected during the backup");
    Say("Disconnect");
    return kExitFailed;
  }
  const fs::path written = staging / udid;
  if (!(report.succeeded && exitCode == 0 && SnapshotFinished(written) && HoldsManifest(written))) {
    cleaner.Clean();
    if (report.locked) {
      Explain("the phone is locked with a passcode");
      Say("passcode lock");
    } else {
      Explain(report.noPhone || !PhoneListed(udid)
                  ? std::string("the phone was disconnected during the backup")
                  : "the backup did not finish" + (report.lastError.empty() ? "" : ": " + report.lastError));
      Say("Disconnect");
    }
    return kExitFailed;
  }
  const fs::path target = request.root / udid;
  if (!MoveIntoPlace(written, target, request.root)) return kExitFailed;
  cleaner.Clean();
  Say("100");
  // The caller reads whatever the pipe holds as one text, and a text with the
  // path in it does not count as progress: a moment apart, both are seen.
  poll(nullptr, 0, kPollMilliseconds);
  Say("Path=" + target.string());
  return kExitOk;
}

}  // namespace corvyn::tool2
