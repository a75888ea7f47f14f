// The single-instance lock: a lock file in the runtime folder stands in for
// the system-wide named mutex. The lock is held through an advisory lock on
// an open file, so it goes away with the process however it ends; a stale
// file left behind never blocks a later start.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include "platform/Status.h"

namespace corvyn::platform {

// The name the program locks.
inline constexpr std::string_view kInstanceMutexName = "Global\\Corvyn_iOS_Recovery_2014_For_Windows";

// A file name for a mutex name: "Global\" and other prefixes before a
// backslash are dropped, characters other than letters, digits, '_', '-'
// and '.' become '_', and ".lock" is appended.
std::string LockFileNameFor(std::string_view mutexName);

class InstanceLock {
 public:
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Tries to take the lock on `file` (created when missing).
  //   kOk: taken; *lock holds it until destroyed.
  //   system error EWOULDBLOCK: another holder has it (another instance runs); *lock empty.
  //   another system error: the file could not be opened or locked.
  static Status Acquire(const std::filesystem::path& file, std::unique_ptr<InstanceLock>* lock);

  const std::filesystem::path& File() const { return file_; }

 private:
  InstanceLock(std::filesystem::path file, int descriptor)
      : file_(std::move(file)), descriptor_(descriptor) {}
  std::filesystem::path file_;
  int descriptor_;
};

}  // namespace corvyn::platform
