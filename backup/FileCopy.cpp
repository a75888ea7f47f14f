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

Status ErrnoOr(Status fallback) {
  return errno != 0 ? errno : fallback;
}

}  // namespace

Status CopyFileWithProgress(const fs::path& source, const fs::path& destination, ProgressCallback callback,
                            void* userValue) {
  std::error_code error;
  if (source.empty() || destination.empty() || !fs::is_regular_file(source, error)) return kInvalidData;
  // Replacing the destination would empty the source when both are one file.
  if (fs::exists(destination, error) && fs::equivalent(source, destination, error)) return kInvalidData;
  if (destination.has_parent_path()) fs::create_directories(destination.parent_path(), error);

  FileHandle input(std::fopen(source.c_str(), "rb"));
  if (!input) return kInvalidData;
  const auto size = fs::file_size(source, error);
  if (error) return kInvalidData;
  FileHandle output(std::fopen(destination.c_str(), "wb"));
  if (!output) return kInvalidData;

  Status status = kOk;
  std::vector<char> chunk(kCopyChunkSize);
  uint64_t copied = 0;
  while (status == kOk) {
    errno = 0;
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), input.get());
    if (got == 0) {
      if (std::ferror(input.get())) status = ErrnoOr(EIO);
      break;
    }
    errno = 0;
    if (std::fwrite(chunk.data(), 1, got, output.get()) != got) {
      status = ErrnoOr(EIO);
      break;
    }
    copied += got;
    if (callback) {
      const int percent = size == 0 ? 100 : static_cast<int>(copied >= size ? 100 : copied * 100 / size);
      status = callback(userValue, percent);
    }
  }
  errno = 0;
  if (std::fclose(output.release()) != 0 && status == kOk) status = ErrnoOr(EIO);
  if (status != kOk) fs::remove(destination, error);
  return status;
}

}  // namespace corvyn::backup
