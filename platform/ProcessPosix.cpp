// POSIX process runner: posix_spawn with pipes, own process group, reaping
// that never signals a process id we have already given back to the system.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/Ascii.h"
#include "platform/Process.h"

extern char** environ;

namespace corvyn::platform {
namespace {

// State of one started child, shared by its IChildProcess object and by the
// launcher that lists it. The mutex orders reaping against signalling: a
// child is only signalled while it is not yet reaped, so its id still names it.
// Longer waits are cut to this, so a deadline never overflows the clock.
constexpr std::chrono::milliseconds kLongestWait = std::chrono::hours(24 * 365);

struct ChildRecord {
  pid_t pid = -1;
  std::string executableName;
  std::mutex mutex;
  bool reaped = false;
  ExitStatus status;
};

ExitStatus DecodeWaitStatus(int raw) {
  ExitStatus status;
  if (WIFEXITED(raw)) {
    status.exited = true;
    status.code = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    status.signalled = true;
    status.signal = WTERMSIG(raw);
  }
  return status;
}

// Reaps the child when it has ended. Caller holds record.mutex.
void TryReapLocked(ChildRecord& record, bool block) {
  if (record.reaped) return;
  int raw = 0;
  pid_t result;
  do {
    result = waitpid(record.pid, &raw, block ? 0 : WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == record.pid) {
    record.reaped = true;
    record.status = DecodeWaitStatus(raw);
  } else if (result < 0 && errno == ECHILD) {
    // Someone else reaped it; we can no longer learn how it ended.
    record.reaped = true;
  }
}

// Caller holds record.mutex.
void SignalGroupLocked(ChildRecord& record, int signalNumber) {
  if (record.reaped) return;
  if (kill(-record.pid, signalNumber) != 0) kill(record.pid, signalNumber);
}

void KillGroupLocked(ChildRecord& record) {
  SignalGroupLocked(record, SIGKILL);
}

void CloseFd(int* fd) {
  if (*fd >= 0) {
    close(*fd);
    *fd = -1;
  }
}

class PosixChildProcess final : public IChildProcess {
 public:
  PosixChildProcess(std::shared_ptr<ChildRecord> record, int inputFd, int outputFd, bool endOnRelease)
      : record_(std::move(record)), inputFd_(inputFd), outputFd_(outputFd), endOnRelease_(endOnRelease) {}

  ~PosixChildProcess() override {
    CloseFd(&inputFd_);
    CloseFd(&outputFd_);
    if (endOnRelease_) {
      std::lock_guard lock(record_->mutex);
      TryReapLocked(*record_, false);
      KillGroupLocked(*record_);
      TryReapLocked(*record_, true);
    }
  }

  int Pid() const override { return record_->pid; }

  // "<what> <program> (process <pid>)", the context of a failed call.
  std::string Subject(std::string_view what) const {
    return std::string(what) + " " + record_->executableName + " (process " + std::to_string(record_->pid) +
           ")";
  }

  Status PeekOutput(std::size_t* available) override {
    *available = 0;
    if (outputFd_ < 0) return Status::System(EBADF, Subject("reading the output of"));
    int count = 0;
    if (ioctl(outputFd_, FIONREAD, &count) != 0)
      return Status::System(errno, Subject("reading the output of"));
    *available = count > 0 ? static_cast<std::size_t>(count) : 0;
    return kOk;
  }

  Status ReadOutput(std::string* out, std::size_t maxBytes, std::chrono::milliseconds timeout,
                    bool* endOfOutput) override {
    *endOfOutput = false;
    if (outputFd_ < 0) return Status::System(EBADF, Subject("reading the output of"));
    if (maxBytes == 0) return kOk;
    const auto deadline = std::chrono::steady_clock::now() + std::min(timeout, kLongestWait);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd entry{outputFd_, POLLIN, 0};
      const int waitMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30));
      const int ready = poll(&entry, 1, waitMs);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return Status::System(errno, Subject("waiting for the output of"));
      }
      if (ready == 0) return kOk;  // timed out, nothing waiting
      break;
    }
    const std::size_t chunk = std::min<std::size_t>(maxBytes, 65536);
    const std::size_t oldSize = out->size();
    out->resize(oldSize + chunk);
    ssize_t got;
    do {
      got = read(outputFd_, out->data() + oldSize, chunk);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      const int error = errno;
      out->resize(oldSize);
      return Status::System(error, Subject("reading the output of"));
    }
    out->resize(oldSize + static_cast<std::size_t>(got));
    if (got == 0) *endOfOutput = true;
    return kOk;
  }

  Status WriteInput(std::string_view data) override {
    if (inputFd_ < 0) return Status::System(EBADF, Subject("writing to"));
    // A write to a pipe nobody reads raises SIGPIPE; hold it back for this
    // thread and swallow it, so the caller gets EPIPE instead of dying.
    sigset_t pipeOnly, previous;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    Status result = kOk;
    while (!data.empty()) {
      const ssize_t written = write(inputFd_, data.data(), data.size());
      if (written < 0) {
        if (errno == EINTR) continue;
        result = Status::System(errno, Subject("writing to"));
        break;
      }
      data.remove_prefix(static_cast<std::size_t>(written));
    }
    if (result.systemError() == EPIPE) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec noWait{0, 0};
        sigtimedwait(&pipeOnly, nullptr, &noWait);
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return result;
  }

  void CloseInput() override { CloseFd(&inputFd_); }

  bool IsRunning() override {
    std::lock_guard lock(record_->mutex);
    TryReapLocked(*record_, false);
    return !record_->reaped;
  }

  Status Wait(std::chrono::milliseconds timeout, ExitStatus* status) override {
    const auto deadline = std::chrono::steady_clock::now() + std::min(timeout, kLongestWait);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
      {
        std::lock_guard lock(record_->mutex);
        TryReapLocked(*record_, false);
        if (record_->reaped) {
          *status = record_->status;
          return kOk;
        }
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return Status::System(ETIMEDOUT, Subject("waiting for"));
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
  }

  Status Kill() override {
    std::lock_guard lock(record_->mutex);
    TryReapLocked(*record_, false);
    KillGroupLocked(*record_);
    return kOk;
  }

  Status Terminate() override {
    std::lock_guard lock(record_->mutex);
    TryReapLocked(*record_, false);
    SignalGroupLocked(*record_, SIGTERM);
    return kOk;
  }

 private:
  std::shared_ptr<ChildRecord> record_;
  int inputFd_;
  int outputFd_;
  bool endOnRelease_;
};

std::vector<std::string> BuildEnvironment(const ProcessSpec& process) {
  std::vector<std::string> result;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    const auto equals = text.find('=');
    const std::string_view name = text.substr(0, equals);
    const bool replaced = std::any_of(process.environment.begin(), process.environment.end(),
                                      [&](const auto& pair) { return pair.first == name; });
    if (!replaced) result.emplace_back(text);
  }
  for (const auto& [name, value] : process.environment) result.push_back(name + "=" + value);
  return result;
}

// Parent process id and executable file name of /proc/<pid>; false when it
// cannot be read (the process is gone or not ours to inspect).
bool ReadProcessInfo(pid_t pid, pid_t* parent, std::string* executableName) {
  const std::string base = "/proc/" + std::to_string(pid);
  std::ifstream statFile(base + "/stat");
  std::string stat;
  if (!std::getline(statFile, stat)) return false;
  // "pid (comm) state ppid ..."; comm may hold blanks and brackets.
  const auto close = stat.rfind(')');
  if (close == std::string::npos || close + 4 >= stat.size()) return false;
  char state = 0;
  long long parentId = 0;
  if (std::sscanf(stat.c_str() + close + 1, " %c %lld", &state, &parentId) != 2) return false;
  if (state == 'Z') return false;  // already ended
  *parent = static_cast<pid_t>(parentId);
  std::error_code error;
  const auto target = std::filesystem::read_symlink(base + "/exe", error);
  if (!error) {
    *executableName = target.filename().string();
    // A replaced executable reads "name (deleted)".
    constexpr std::string_view kDeleted = " (deleted)";
    if (executableName->size() > kDeleted.size() && executableName->ends_with(kDeleted)) {
      executableName->resize(executableName->size() - kDeleted.size());
    }
  } else {
    const auto open = stat.find('(');
    *executableName = stat.substr(open + 1, close - open - 1);
  }
  return true;
}

class PosixProcessLauncher final : public IProcessLauncher {
 public:
  Status Start(const ProcessSpec& process, std::unique_ptr<IChildProcess>* child) override {
    child->reset();
    if (process.executable.empty()) return Status::System(ENOENT, "starting a program without a name");
    int inputPipe[2] = {-1, -1};
    int outputPipe[2] = {-1, -1};
    if (pipe2(inputPipe, O_CLOEXEC) != 0) return Status::System(errno, "creating a pipe");
    if (pipe2(outputPipe, O_CLOEXEC) != 0) {
      const int error = errno;
      CloseFd(&inputPipe[0]);
      CloseFd(&inputPipe[1]);
      return Status::System(error, "creating a pipe");
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inputPipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputPipe[1], STDERR_FILENO);
    if (!process.workingDirectory.empty()) {
      posix_spawn_file_actions_addchdir_np(&actions, process.workingDirectory.c_str());
    }

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t noSignals, defaults;
    sigemptyset(&noSignals);
    sigemptyset(&defaults);
    for (int signalNumber : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGQUIT, SIGHUP}) {
      sigaddset(&defaults, signalNumber);
    }
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argumentTexts;
    argumentTexts.push_back(process.executable.string());
    argumentTexts.insert(argumentTexts.end(), process.arguments.begin(), process.arguments.end());
    std::vector<char*> argv;
    for (auto& text : argumentTexts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentTexts = BuildEnvironment(process);
    std::vector<char*> envp;
    for (auto& text : environmentTexts) envp.push_back(text.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const std::string path = process.executable.string();
    const bool searchPath = path.find('/') == std::string::npos;
    const int spawnError =
        searchPath ? posix_spawnp(&pid, path.c_str(), &actions, &attributes, argv.data(), envp.data())
                   : posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    CloseFd(&inputPipe[0]);
    CloseFd(&outputPipe[1]);
    if (spawnError != 0) {
      CloseFd(&inputPipe[1]);
      CloseFd(&outputPipe[0]);
      return Status::System(spawnError, "starting " + path);
    }

    auto record = std::make_shared<ChildRecord>();
    record->pid = pid;
    record->executableName = process.executable.filename().string();
    {
      std::lock_guard lock(mutex_);
      PruneLocked();
      children_.push_back(record);
    }
    *child = std::make_unique<PosixChildProcess>(std::move(record), inputPipe[1], outputPipe[0],
                                                 process.endOnRelease);
    return kOk;
  }

  int EndProcessesByName(std::string_view name) override {
    int ended = 0;
    std::vector<pid_t> handled;
    {
      std::lock_guard lock(mutex_);
      for (auto& record : children_) {
        std::lock_guard recordLock(record->mutex);
        TryReapLocked(*record, false);
        if (record->reaped || !ExecutableNameMatches(record->executableName, name)) continue;
        KillGroupLocked(*record);
        TryReapLocked(*record, true);
        handled.push_back(record->pid);
        ++ended;
      }
      PruneLocked();
    }
    // Direct children started some other way (not through a launcher).
    const pid_t self = getpid();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
      const std::string leaf = entry.path().filename().string();
      if (leaf.empty() ||
          !std::all_of(leaf.begin(), leaf.end(), [](unsigned char c) { return std::isdigit(c); }))
        continue;
      const pid_t pid = static_cast<pid_t>(std::stoll(leaf));
      if (std::find(handled.begin(), handled.end(), pid) != handled.end()) continue;
      pid_t parent = 0;
      std::string executableName;
      if (!ReadProcessInfo(pid, &parent, &executableName) || parent != self) continue;
      if (!ExecutableNameMatches(executableName, name)) continue;
      // Still unreaped children of ours, so the id cannot have been reused.
      if (getpgid(pid) == pid) kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      ++ended;
    }
    return ended;
  }

 private:
  // Drops records of children that have been reaped. Caller holds mutex_.
  void PruneLocked() {
    std::erase_if(children_, [](const std::shared_ptr<ChildRecord>& record) {
      std::lock_guard lock(record->mutex);
      TryReapLocked(*record, false);
      return record->reaped;
    });
  }

  std::mutex mutex_;
  std::vector<std::shared_ptr<ChildRecord>> children_;
};

std::string_view WithoutExeSuffix(std::string_view name) {
  constexpr std::string_view kExe = ".exe";
  if (name.size() > kExe.size() && EndsWithIgnoringCase(name, kExe)) name.remove_suffix(kExe.size());
  return name;
}

}  // namespace

bool ExecutableNameMatches(std::string_view executableFileName, std::string_view wanted) {
  executableFileName = WithoutExeSuffix(executableFileName);
  wanted = WithoutExeSuffix(wanted);
  return !wanted.empty() && EqualsIgnoringCase(executableFileName, wanted);
}

IProcessLauncher& DefaultProcessLauncher() {
  static PosixProcessLauncher launcher;
  return launcher;
}

std::unique_ptr<IProcessLauncher> MakePosixProcessLauncher() {
  return std::make_unique<PosixProcessLauncher>();
}

}  // namespace corvyn::platform
