// A process launcher for tests: no process is started. Each Start is
// answered by the script registered for the executable's file name; the
// child then hands out the scripted output and ends with the scripted exit.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace corvyn::platform {

struct FakeChildScript {
  Status startStatus = kOk;  // non-zero: Start fails with it
  std::string output;        // everything the child prints (stdout and stderr)
  ExitStatus exit{true, 0, false, 0};
  bool runsUntilKilled = false;  // keeps running (and its output open) until Kill()
};

class FakeProcessLauncher final : public IProcessLauncher {
 public:
  // The script for executables whose file name matches `name`
  // (ExecutableNameMatches). An unscripted executable fails with ENOENT.
  void Script(const std::string& name, FakeChildScript script);

  Status Start(const ProcessSpec& process, std::unique_ptr<IChildProcess>* child) override;
  int EndProcessesByName(std::string_view name) override;

  // Every process description passed to Start, in order.
  std::vector<ProcessSpec> Started() const;
  // Everything written to the stdin of the children, in start order.
  std::vector<std::string> Inputs() const;

  struct ChildState;  // shared with the children handed out

 private:
  mutable std::mutex mutex_;
  std::map<std::string, FakeChildScript> scripts_;
  std::vector<ProcessSpec> started_;
  std::vector<std::shared_ptr<ChildState>> children_;
};

}  // namespace corvyn::platform
