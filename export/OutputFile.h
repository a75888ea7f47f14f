// A file written in order, keeping the first error: reports, transcripts and
// CSV files are streamed through it as their records arrive.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string_view>

#include "platform/Status.h"

namespace corvyn::exporting {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // closes without reporting (Close() reports)
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or replaces the file (binary); its folder must exist. kOk or the
  // system error naming the path.
  Status Open(const std::filesystem::path& path);
  bool IsOpen() const { return file_ != nullptr; }
  // Appends the bytes; a failure is kept and returned by Close().
  void Write(std::string_view bytes);
  // Hands the written bytes to the system.
  void Flush();
  // Closes the file: kOk, or the first failure of a write, flush or the close.
  Status Close();
  const std::filesystem::path& Path() const { return path_; }

 private:
  void Fail(int errorNumber);

  std::FILE* file_ = nullptr;
  std::filesystem::path path_;
  Status status_;
};

}  // namespace corvyn::exporting
