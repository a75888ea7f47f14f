#include "device/DeviceHelper.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

namespace corvyn::device {
namespace fs = std::filesystem;
namespace {

constexpr int kAskEncryption = 0;
constexpr int kMakeBackup = 1;
constexpr int kCheckPassword = 2;

constexpr std::size_t kChunkBytes = 4096;
constexpr std::chrono::milliseconds kPollWait{5};
constexpr int kDrainPolls = 100;
// After the helper's last word (or a request to stop) it still ends the
// backup tool and removes its staging folder; that takes a second or two.
constexpr std::chrono::milliseconds kEndWait{20000};
constexpr std::chrono::milliseconds kEndPoll{50};

constexpr std::string_view kDisconnectWord = "Disconnect";
constexpr std::string_view kPasscodeWord = "passcode lock";
constexpr std::string_view kCancelWord = "user cancle";
constexpr std::string_view kPathWord = "Path=";

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  return std::string(text);
}

// The chunk's leading decimal number (after blanks), if it has one.
std::optional<int> LeadingNumber(std::string_view chunk) {
  std::size_t at = 0;
  while (at < chunk.size() && std::isspace(static_cast<unsigned char>(chunk[at]))) ++at;
  if (at == chunk.size() || !std::isdigit(static_cast<unsigned char>(chunk[at]))) return std::nullopt;
  long value = 0;
  for (; at < chunk.size() && std::isdigit(static_cast<unsigned char>(chunk[at])); ++at) {
    value = value * 10 + (chunk[at] - '0');
    if (value > 1'000'000) return std::nullopt;  // no progress value; a path or an identifier
  }
  return static_cast<int>(value);
}

// One run of the helper.
class HelperRun {
 public:
  explicit HelperRun(const DeviceHelperSetup& setup) : setup_(setup) {}
  HelperRun(const HelperRun&) = delete;
  HelperRun& operator=(const HelperRun&) = delete;
  ~HelperRun() { WaitForEnd(); }

  Status Start(int command, const std::string* password) {
    platform::ProcessSpec helper;
    helper.executable = setup_.programFolder / kDeviceHelperName;
    helper.arguments = {std::to_string(command)};
    helper.environment.emplace_back("CORVYN_STOP_FILE", DeviceHelperStopFile(setup_).string());
    if (!setup_.udid.empty()) helper.environment.emplace_back("CORVYN_DEVICE_UDID", setup_.udid);
    if (command == kMakeBackup)
      helper.environment.emplace_back("CORVYN_BACKUP_ROOT", setup_.backupRoot.string());
    helper.endOnRelease = true;
    platform::IProcessLauncher& launcher =
        setup_.launcher ? *setup_.launcher : platform::DefaultProcessLauncher();
    const Status started = launcher.Start(helper, &child_);
    if (started != kOk || !child_) {
      child_.reset();
      return Status(kInvalidData, "the device helper tool2 cannot be started: " +
                                      (started != kOk ? started.Message() : std::string("no process")));
    }
    // A helper that has already ended no longer reads; what it printed says why.
    if (password) (void)child_->WriteInput(*password + "\n");
    child_->CloseInput();
    return kOk;
  }

  // Hands each chunk to `judge` until it answers false, or the helper has
  // ended and its output is drained.
  template <typename Judge>
  void Poll(Judge&& judge) {
    int drainPolls = -1;  // counts down once the helper has ended
    while (drainPolls != 0) {
      if (drainPolls > 0) {
        --drainPolls;
      } else {
        // a timeout means the helper still runs; anything else, that it is gone
        platform::ExitStatus exit;
        const Status waited = child_->Wait(kPollWait, &exit);
        if (waited.systemError() != ETIMEDOUT) drainPolls = kDrainPolls;
      }
      std::size_t available = 0;
      if (child_->PeekOutput(&available) != kOk) return;
      if (available == 0 && drainPolls < 0) continue;
      std::string chunk;
      bool endOfOutput = false;
      if (child_->ReadOutput(&chunk, kChunkBytes, std::chrono::milliseconds(0), &endOfOutput) != kOk) return;
      if (chunk.empty()) {
        if (endOfOutput) return;
        continue;
      }
      // each chunk is one zero-terminated text
      chunk.resize(std::string_view(chunk.c_str()).size());
      if (!judge(std::string_view(chunk))) return;
    }
  }

  // Gives a helper that is still running time to end on its own (reading
  // and dropping what it still prints, so it never blocks on a full pipe);
  // a helper that does not end is killed when the run is released.
  void WaitForEnd() {
    if (!child_) return;
    const auto deadline = std::chrono::steady_clock::now() + kEndWait;
    while (child_->IsRunning() && std::chrono::steady_clock::now() < deadline) {
      std::string dropped;
      bool endOfOutput = false;
      if (child_->ReadOutput(&dropped, kChunkBytes, kEndPoll, &endOfOutput) != kOk || endOfOutput) {
        platform::ExitStatus exit;
        (void)child_->Wait(kEndPoll, &exit);
      }
    }
    child_.reset();
  }

 private:
  const DeviceHelperSetup& setup_;
  std::unique_ptr<platform::IChildProcess> child_;
};

// Runs command 0 or 2 and returns the helper's first chunk (empty when it printed nothing).
Status FirstChunk(const DeviceHelperSetup& setup, int command, const std::string* password,
                  std::string& first) {
  HelperRun run(setup);
  if (Status started = run.Start(command, password); started != kOk) return started;
  run.Poll([&](std::string_view chunk) {
    first.assign(chunk);
    return false;
  });
  return kOk;
}

Status NoAnswer(const std::string& chunk) {
  const std::string words = Trimmed(chunk);
  return Status(kInvalidData, words.empty() ? std::string("the device helper tool2 gave no answer")
                                            : "the device helper tool2 gave no answer: " + words);
}

}  // namespace

fs::path DeviceHelperStopFile(const DeviceHelperSetup& setup) {
  return setup.programFolder / kDeviceHelperStopFileName;
}

Status AskBackupEncryption(const DeviceHelperSetup& setup, bool& encrypted) {
  encrypted = false;
  std::string chunk;
  if (Status run = FirstChunk(setup, kAskEncryption, nullptr, chunk); run != kOk) return run;
  if (Contains(chunk, "1")) {
    encrypted = true;
    return kOk;
  }
  if (Contains(chunk, "0")) return kOk;
  return NoAnswer(chunk);
}

Status CheckBackupPassword(const DeviceHelperSetup& setup, const std::string& password) {
  std::string chunk;
  if (Status run = FirstChunk(setup, kCheckPassword, &password, chunk); run != kOk) return run;
  if (Contains(chunk, "0")) return kOk;
  if (Contains(chunk, "1")) return Status(kPasswordRefused, "the phone refused the backup password");
  return NoAnswer(chunk);
}

Status RunDeviceBackup(const DeviceHelperSetup& setup, const std::string& password, ProgressCallback callback,
                       void* userValue, fs::path& backupFolder) {
  backupFolder.clear();
  if (setup.backupRoot.empty())
    return Status(kInvalidData, "the device helper tool2 was given no folder to put the backup in");
  const fs::path stopFile = DeviceHelperStopFile(setup);
  std::error_code ignored;
  fs::remove(stopFile, ignored);

  HelperRun run(setup);
  if (Status started = run.Start(kMakeBackup, &password); started != kOk) return started;

  Status result = kOk;
  int progress = 0;
  run.Poll([&](std::string_view chunk) {
    if (Contains(chunk, kDisconnectWord)) {
      result = Status(kSourceUnreadable, "the phone was disconnected, or the connection to it failed");
      return false;
    }
    if (Contains(chunk, kPasscodeWord)) {
      result = Status(kPasscodeLocked, "the phone is locked with a passcode: unlock it and try again");
      return false;
    }
    if (Contains(chunk, kCancelWord)) {
      result = kStopped;
      return false;
    }
    if (const auto at = chunk.find(kPathWord); at != std::string_view::npos) {
      std::string_view folder = chunk.substr(at + kPathWord.size());
      folder = folder.substr(0, folder.find_first_of("\r\n"));
      backupFolder = fs::path(std::string(folder));
    } else if (const auto number = LeadingNumber(chunk)) {
      progress = *number;
    }
    const int answer = callback ? callback(userValue, progress) : 0;
    if (answer == 0) return true;
    result = Status::FromProgressAnswer(answer);
    std::ofstream(stopFile, std::ios::binary | std::ios::trunc);
    return false;
  });
  // After a stop the helper still ends its backup tool and removes what it
  // wrote; the stop is only over once it has.
  run.WaitForEnd();
  if (result != kOk) backupFolder.clear();
  return result;
}

}  // namespace corvyn::device
