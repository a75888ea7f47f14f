#include "export/OutputFile.h"

#include <cerrno>

namespace corvyn::exporting {

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
}

Status OutputFile::Open(const std::filesystem::path& path) {
  if (file_) std::fclose(file_);
  path_ = path;
  status_ = kOk;
  errno = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return Status::System(errno, "cannot create " + path.string());
  return kOk;
}

void OutputFile::Fail(int errorNumber) {
  if (status_.ok()) status_ = Status::System(errorNumber, "cannot write " + path_.string());
}

void OutputFile::Write(std::string_view bytes) {
  if (!file_ || !status_.ok() || bytes.empty()) return;
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) Fail(errno);
}

void OutputFile::Flush() {
  if (!file_ || !status_.ok()) return;
  errno = 0;
  if (std::fflush(file_) != 0) Fail(errno);
}

Status OutputFile::Close() {
  if (!file_) return status_.ok() ? Status(kInvalidData, "not open: " + path_.string()) : status_;
  errno = 0;
  if (std::fflush(file_) != 0) Fail(errno);
  errno = 0;
  if (std::fclose(file_) != 0) Fail(errno);
  file_ = nullptr;
  return status_;
}

}  // namespace corvyn::exporting
