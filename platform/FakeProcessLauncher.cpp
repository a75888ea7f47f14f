#include "platform/FakeProcessLauncher.h"

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace corvyn::platform {

struct FakeProcessLauncher::ChildState {
  std::mutex mutex;
  std::string name;
  FakeChildScript script;
  std::size_t readPosition = 0;
  std::string input;
  bool inputClosed = false;
  bool killed = false;
  int pid = 0;

  bool Running() const { return script.runsUntilKilled && !killed; }
};

namespace {

using ChildState = FakeProcessLauncher::ChildState;

class FakeChild final : public IChildProcess {
 public:
  explicit FakeChild(std::shared_ptr<ChildState> state) : state_(std::move(state)) {}

  int Pid() const override { return state_->pid; }

  Status PeekOutput(std::size_t* available) override {
    std::lock_guard lock(state_->mutex);
    *available = state_->script.output.size() - state_->readPosition;
    return kOk;
  }

  Status ReadOutput(std::string* out, std::size_t maxBytes, std::chrono::milliseconds,
                    bool* endOfOutput) override {
    std::lock_guard lock(state_->mutex);
    const std::size_t left = state_->script.output.size() - state_->readPosition;
    const std::size_t count = std::min(left, maxBytes);
    out->append(state_->script.output, state_->readPosition, count);
    state_->readPosition += count;
    *endOfOutput = count == 0 && !state_->Running() && maxBytes > 0;
    return kOk;
  }

  Status WriteInput(std::string_view data) override {
    std::lock_guard lock(state_->mutex);
    if (state_->inputClosed) return Status::System(EBADF, "writing to " + state_->name);
    if (state_->killed) return Status::System(EPIPE, "writing to " + state_->name);
    state_->input.append(data);
    return kOk;
  }

  void CloseInput() override {
    std::lock_guard lock(state_->mutex);
    state_->inputClosed = true;
  }

  bool IsRunning() override {
    std::lock_guard lock(state_->mutex);
    return state_->Running();
  }

  Status Wait(std::chrono::milliseconds, ExitStatus* status) override {
    std::lock_guard lock(state_->mutex);
    if (state_->Running()) return Status::System(ETIMEDOUT, "waiting for " + state_->name);
    *status = state_->killed ? ExitStatus{false, 0, true, SIGKILL} : state_->script.exit;
    return kOk;
  }

  Status Kill() override {
    std::lock_guard lock(state_->mutex);
    if (state_->script.runsUntilKilled) state_->killed = true;
    return kOk;
  }

 private:
  std::shared_ptr<ChildState> state_;
};

}  // namespace

void FakeProcessLauncher::Script(const std::string& name, FakeChildScript script) {
  std::lock_guard lock(mutex_);
  scripts_[name] = std::move(script);
}

Status FakeProcessLauncher::Start(const ProcessSpec& process, std::unique_ptr<IChildProcess>* child) {
  child->reset();
  std::lock_guard lock(mutex_);
  started_.push_back(process);
  const std::string fileName = process.executable.filename().string();
  for (const auto& [name, script] : scripts_) {
    if (!ExecutableNameMatches(fileName, name)) continue;
    if (script.startStatus != kOk) return script.startStatus;
    auto state = std::make_shared<ChildState>();
    state->name = fileName;
    state->script = script;
    state->pid = 100000 + static_cast<int>(children_.size());
    children_.push_back(state);
    *child = std::make_unique<FakeChild>(std::move(state));
    return kOk;
  }
  return Status::System(ENOENT, process.executable.string());
}

int FakeProcessLauncher::EndProcessesByName(std::string_view name) {
  std::lock_guard lock(mutex_);
  int ended = 0;
  for (auto& state : children_) {
    std::lock_guard stateLock(state->mutex);
    if (state->Running() && ExecutableNameMatches(state->name, name)) {
      state->killed = true;
      ++ended;
    }
  }
  return ended;
}

std::vector<ProcessSpec> FakeProcessLauncher::Started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

std::vector<std::string> FakeProcessLauncher::Inputs() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> inputs;
  for (const auto& state : children_) {
    std::lock_guard stateLock(state->mutex);
    inputs.push_back(state->input);
  }
  return inputs;
}

}  // namespace corvyn::platform
