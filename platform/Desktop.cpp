#include "platform/Desktop.h"

#include <cerrno>

namespace corvyn::platform {

Status XdgDesktop::OpenInDefaultProgram(std::string_view target) {
  if (target.empty()) return kInvalidData;
  // A short-lived shell starts the opener in the background and exits at
  // once; the opener is then no child of ours and leaves no zombie behind.
  // The target travels as a positional parameter, never as shell text.
  ProcessSpec process;
  process.executable = "/bin/sh";
  process.arguments = {"-c", "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &", opener_, std::string(target)};
  std::unique_ptr<IChildProcess> shell;
  if (const Status status = launcher_.Start(process, &shell); status != kOk) return status;
  ExitStatus exit;
  if (shell->Wait(std::chrono::seconds(10), &exit) != kOk)
    return Status::System(ETIMEDOUT, "waiting for " + opener_);
  if (!exit.Succeeded()) return Status::System(ECHILD, opener_ + " failed");
  return kOk;
}

IDesktop& DefaultDesktop() {
  static XdgDesktop desktop(DefaultProcessLauncher());
  return desktop;
}

}  // namespace corvyn::platform
