#include "backup/DecryptionRunner.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string>
#include <system_error>

#include "platform/SpecialFolders.h"

namespace corvyn::backup {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kReadSize = 4096;
constexpr std::chrono::milliseconds kPassWait{5};
constexpr std::chrono::milliseconds kQuietReportEvery{100};
// A line longer than this without a newline is judged as it stands.
constexpr std::size_t kLineLimit = 64 * 1024;

// What one line of the program's output says.
struct OutputLine {
  bool wrongPassword = false;
  bool hasCount = false;
  uint64_t count = 0;
};

OutputLine JudgeLine(std::string_view line) {
  OutputLine judged;
  judged.wrongPassword = line.find(kWrongPasswordText) != std::string_view::npos;
  const auto at = line.rfind(kCountText);
  if (at == std::string_view::npos) return judged;
  std::string_view rest = line.substr(at + kCountText.size());
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (error == std::errc() && end != rest.data()) {
    judged.hasCount = true;
    judged.count = value;
  }
  return judged;
}

class Watcher {
 public:
  Watcher(const DecryptionJob& job, ProgressShare& progress) : job_(job), progress_(progress) {}

  // Judges every complete line in pending_ (all of it when `flush`). Returns a
  // non-zero status when the run must end.
  Status Consume(bool flush) {
    while (true) {
      auto newline = pending_.find('\n');
      if (newline == std::string::npos) {
        if (!flush && pending_.size() < kLineLimit) return kOk;
        if (pending_.empty()) return kOk;
        newline = pending_.size();
      }
      const std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline == pending_.size() ? newline : newline + 1);
      if (const Status status = Judge(line); status != kOk) return status;
    }
  }

  Status Judge(std::string_view line) {
    const OutputLine judged = JudgeLine(line);
    if (judged.wrongPassword) return kWrongPassword;
    if (!judged.hasCount) return kOk;
    if (!sawCount_) {
      sawCount_ = true;
      if (progress_.base == 0) {
        progress_.base = 1;
        if (Status answer = progress_.Report(1); answer != kOk) return answer;
      }
    }
    current_ = progress_.At(static_cast<int64_t>(std::min<uint64_t>(judged.count, job_.expectedFileCount)),
                            static_cast<int64_t>(job_.expectedFileCount));
    return progress_.Report(current_);
  }

  int Current() const { return current_; }
  std::string& Pending() { return pending_; }

 private:
  const DecryptionJob& job_;
  ProgressShare& progress_;
  std::string pending_;
  bool sawCount_ = false;
  int current_ = 0;
};

}  // namespace

namespace {

Status RunProgram(platform::IProcessLauncher& launcher, const DecryptionJob& job, std::string_view password,
                  ProgressShare& progress) {
  platform::ProcessSpec request;
  request.executable = job.program;
  request.arguments = {"--password-stdin", job.encryptedFolder.string(), job.copyFolder.string()};
  request.endOnRelease = true;
  std::unique_ptr<platform::IChildProcess> child;
  if (const Status started = launcher.Start(request, &child); started != kOk || !child) {
    return started != kOk ? started : Status(kInvalidData, "the decryption program did not start");
  }

  // The program may already have failed; its output tells what happened.
  std::string input(password);
  input.push_back('\n');
  // A program that has already ended no longer reads: its output says why.
  (void)child->WriteInput(input);
  child->CloseInput();

  Watcher watcher(job, progress);
  Status status = kOk;
  int passesLeft = -1;  // counts down once the program has ended
  auto lastReport = std::chrono::steady_clock::now();
  while (status == kOk) {
    if (passesLeft < 0 && !child->IsRunning()) passesLeft = kPassesAfterExit;
    if (passesLeft == 0) break;
    if (passesLeft > 0) --passesLeft;

    bool endOfOutput = false;
    const std::size_t before = watcher.Pending().size();
    if (const Status read = child->ReadOutput(&watcher.Pending(), kReadSize, kPassWait, &endOfOutput);
        read != kOk) {
      status = read;
      break;
    }
    if (watcher.Pending().size() != before) {
      status = watcher.Consume(false);
      lastReport = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - lastReport >= kQuietReportEvery) {
      status = progress.Report(watcher.Current());
      lastReport = std::chrono::steady_clock::now();
    }
    if (status == kOk && endOfOutput) {
      if (!child->IsRunning()) break;
      platform::ExitStatus ended;
      // Output closed, program still running: wait a while rather than spin
      // (a timeout is the expected answer here).
      (void)child->Wait(kPassWait, &ended);
    }
  }
  if (status == kOk) status = watcher.Consume(true);

  if (status != kOk) {
    // A stopped scan or a rejected password leaves nothing running behind.
    (void)child->Kill();
  }
  platform::ExitStatus exit;
  const bool ended = child->Wait(std::chrono::milliseconds(5000), &exit) == kOk;
  if (status != kOk) return status;
  // A program that failed left at most a part of the backup.
  if (ended && !exit.Succeeded()) return Status(kInvalidData, "the decryption program failed");

  return progress.Advance(progress.span);
}

}  // namespace

Status RunDecryption(platform::IProcessLauncher& launcher, const DecryptionJob& job,
                     std::string_view password, ProgressShare& progress) {
  if (const Status made = platform::MakePrivateFolder(job.copyFolder); made != kOk) return made;
  const Status status = RunProgram(launcher, job, password, progress);
  if (status != kOk) {
    std::error_code ignored;
    fs::remove_all(job.copyFolder, ignored);
  }
  return status;
}

fs::path ProgramFolder() {
  return platform::ProgramDir();
}

fs::path DecryptionProgramPath(const fs::path& programFolder) {
  const fs::path folder = programFolder.empty() ? ProgramFolder() : programFolder;
  return folder / kDecryptionProgramName;
}

}  // namespace corvyn::backup
