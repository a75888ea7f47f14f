// Child processes watched through pipes: the decryption program, the device
// helper and the media players run this way.
//
// A child gets
//   - stdin:  a pipe whose write end stays with us (WriteInput / CloseInput);
//   - stdout and stderr: one shared pipe whose read end stays with us
//     (PeekOutput / ReadOutput);
//   - its own process group, so Kill() also ends whatever it started.
// Every pipe end we keep is close-on-exec, so no other child inherits it (a
// child that inherited our stdin write end would keep the first child's input
// open forever).
//
// All operations return a Status (platform/Status.h); a failed system call is
// a system error with its errno. Nothing throws.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Status.h"

namespace corvyn::platform {

struct ProcessSpec {
  std::filesystem::path executable;        // absolute, or a bare name looked up in PATH
  std::vector<std::string> arguments;      // without argv[0], which is the executable itself
  std::filesystem::path workingDirectory;  // empty: inherit ours
  // Variables added to (or replacing those of) our environment.
  std::vector<std::pair<std::string, std::string>> environment;
  // When the IChildProcess object is destroyed while the child still runs:
  // true ends its process group and reaps it; false leaves it running (it is
  // still found by EndProcessesByName and reaped later by the launcher).
  bool endOnRelease = true;
};

// How a child ended.
struct ExitStatus {
  bool exited = false;  // ended by exit(); `code` holds its exit code
  int code = 0;
  bool signalled = false;  // ended by a signal; `signal` holds its number
  int signal = 0;

  bool Succeeded() const { return exited && code == 0; }
};

// One started child. Not thread-safe: one thread reads and waits (the thread
// that started it, as the callers do), though Kill() may be called from any
// thread.
class IChildProcess {
 public:
  virtual ~IChildProcess() = default;

  virtual int Pid() const = 0;

  // Number of output bytes that can be read now without waiting (0 when none
  // or after the child closed its output). Consumes nothing.
  virtual Status PeekOutput(std::size_t* available) = 0;

  // Appends at most maxBytes of output to *out. Waits up to `timeout` for the
  // first byte (0 means do not wait). On timeout returns kOk with nothing
  // appended. *endOfOutput becomes true once every writer of the pipe is gone
  // (the child and all its descendants closed it) and nothing is left.
  virtual Status ReadOutput(std::string* out, std::size_t maxBytes, std::chrono::milliseconds timeout,
                            bool* endOfOutput) = 0;

  // Writes all of `data` to the child's stdin. Returns EPIPE when the child
  // no longer reads its input (no SIGPIPE is raised), EBADF after CloseInput.
  virtual Status WriteInput(std::string_view data) = 0;
  // Closes our end of the child's stdin; the child sees end of file.
  virtual void CloseInput() = 0;

  // True while the child has not ended. Reaps it when it has.
  virtual bool IsRunning() = 0;

  // Waits up to `timeout` for the child to end. Returns kOk and fills *status
  // when it ended, ETIMEDOUT when it still runs.
  virtual Status Wait(std::chrono::milliseconds timeout, ExitStatus* status) = 0;

  // Ends the child's process group at once (SIGKILL). Harmless when it has
  // already ended. Does not reap: call Wait afterwards for the status.
  virtual Status Kill() = 0;

  // Asks the child's process group to end (SIGTERM), letting it clean up.
  // Harmless when it has already ended. Does not reap. Implementations
  // without a gentle way fall back to Kill().
  virtual Status Terminate() { return Kill(); }
};

// Starts children and keeps track of those it started.
class IProcessLauncher {
 public:
  virtual ~IProcessLauncher() = default;

  // Starts the described process. Returns kOk and sets *child, or the system error of the failure
  // (ENOENT for a missing executable, EACCES when it is not executable).
  virtual Status Start(const ProcessSpec& process, std::unique_ptr<IChildProcess>* child) = 0;

  // Ends every still-running process that this launcher started, or that is a
  // direct child of this process, whose executable file name equals `name`
  // ignoring case; a trailing ".exe" on either side is ignored. Other users'
  // and other programs' processes are never touched. Returns how many ended.
  virtual int EndProcessesByName(std::string_view name) = 0;
};

// The process-wide launcher (POSIX implementation), created on first use.
IProcessLauncher& DefaultProcessLauncher();

// A new, independent POSIX launcher (tests use their own).
std::unique_ptr<IProcessLauncher> MakePosixProcessLauncher();

// True when `executableFileName` names `wanted` by the rule of
// EndProcessesByName (case-insensitive, ".exe" suffix ignored).
bool ExecutableNameMatches(std::string_view executableFileName, std::string_view wanted);

}  // namespace corvyn::platform
