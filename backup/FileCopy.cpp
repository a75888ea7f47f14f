#include "backup/FileCopy.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

namespace corvyn::backup {
namespace fs = std::filesystem;
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The current errno (EIO when the call left none) for `what` on `path`.
Status LastError(std::string_view what, const fs::path& path) {
  return Status::System(errno != 0 ? errno : EIO, std::string(what) + " " + path.string());
}

}  // namespace

Status CopyFileWithProgress(const fs::path& source, const fs::path& destination, ProgressCallback callback,
                            void* userValue) {
  std::error_code error;
  if (source.empty() || destination.empty()) return kInvalidData;
  if (!fs::is_regular_file(source, error)) {
    return Status::System(error ? error.value() : ENOENT, "copying " + source.string());
  }
  // Replacing the destination would empty the source when both are one file.
  if (fs::exists(destination, error) && fs::equivalent(source, destination, error)) {
    return Status(kInvalidData, "cannot copy " + source.string() + " onto itself");
  }
  if (destination.has_parent_path()) {
    fs::create_directories(destination.parent_path(), error);
    if (error) return Status::System(error, "creating " + destination.parent_path().string());
  }

  errno = 0;
  FileHandle input(std::fopen(source.c_str(), "rb"));
  if (!input) return LastError("opening", source);
  const auto size = fs::file_size(source, error);
  if (error) return Status::System(error, "reading " + source.string());
  errno = 0;
  FileHandle output(std::fopen(destination.c_str(), "wb"));
  if (!output) return LastError("creating", destination);

  Status status = kOk;
  std::vector<char> chunk(kCopyChunkSize);
  uint64_t copied = 0;
  while (status == kOk) {
    errno = 0;
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), input.get());
    if (got == 0) {
      if (std::ferror(input.get())) status = LastError("reading", source);
      break;
    }
    errno = 0;
    if (std::fwrite(chunk.data(), 1, got, output.get()) != got) {
      status = LastError("writing", destination);
      break;
    }
    copied += got;
    if (callback) {
      const int percent = size == 0 ? 100 : static_cast<int>(copied >= size ? 100 : copied * 100 / size);
      status = Status::FromProgressAnswer(callback(userValue, percent));
    }
  }
  errno = 0;
  if (std::fclose(output.release()) != 0 && status == kOk) status = LastError("writing", destination);
  if (status != kOk) fs::remove(destination, error);
  return status;
}

}  // namespace corvyn::backup
