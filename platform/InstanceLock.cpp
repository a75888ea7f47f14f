#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace corvyn::platform {

std::string LockFileNameFor(std::string_view mutexName) {
  const auto backslash = mutexName.rfind('\\');
  if (backslash != std::string_view::npos) mutexName.remove_prefix(backslash + 1);
  std::string name;
  for (char c : mutexName) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-' || c == '.';
    name += plain ? c : '_';
  }
  if (name.empty()) name = "instance";
  return name + ".lock";
}

InstanceLock::~InstanceLock() {
  if (descriptor_ >= 0) close(descriptor_);  // releases the lock
}

Status InstanceLock::Acquire(const std::filesystem::path& file, std::unique_ptr<InstanceLock>* lock) {
  lock->reset();
  int descriptor;
  do {
    descriptor = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return Status::System(errno, file.string());
  int result;
  do {
    result = flock(descriptor, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    close(descriptor);
    return Status::System(error, file.string());
  }
  lock->reset(new InstanceLock(file, descriptor));
  return kOk;
}

}  // namespace corvyn::platform
