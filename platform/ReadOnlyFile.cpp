#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace corvyn::platform {
namespace {
constexpr std::size_t kMaxReadPiece = 65536;
}  // namespace

ReadOnlyFile::~ReadOnlyFile() {
  Close();
}

Status ReadOnlyFile::Open(const std::filesystem::path& path) {
  Close();
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return Status::System(errno, "opening " + path.string());
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) {
    const int error = errno;
    ::close(descriptor);
    return Status::System(error, "opening " + path.string());
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(descriptor);
    return Status::System(EISDIR, "opening " + path.string());
  }
  descriptor_ = descriptor;
  path_ = path.string();
  size_ = info.st_size > 0 ? static_cast<uint64_t>(info.st_size) : 0;
  return kOk;
}

void ReadOnlyFile::Close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
  path_.clear();
  size_ = 0;
}

Status ReadOnlyFile::ReadAt(uint64_t offset, std::span<uint8_t> out, std::size_t* bytesRead) const {
  std::size_t done = 0;
  Status status = kOk;
  if (descriptor_ < 0) {
    status = kInvalidData;
  } else {
    while (done < out.size()) {
      const uint64_t position = offset + done;
      if (position < offset || position > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
        status = kShortRead;
        break;
      }
      const std::size_t piece = std::min(kMaxReadPiece, out.size() - done);
      const ssize_t got = ::pread(descriptor_, out.data() + done, piece, static_cast<off_t>(position));
      if (got < 0) {
        if (errno == EINTR) continue;
        status = Status::System(errno, "reading " + path_);
        break;
      }
      if (got == 0) {
        status = kShortRead;
        break;
      }
      done += static_cast<std::size_t>(got);
    }
  }
  if (bytesRead) *bytesRead = done;
  return status;
}

}  // namespace corvyn::platform
