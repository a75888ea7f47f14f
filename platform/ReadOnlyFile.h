// A file opened read-only for positional reads: the reader's only contact with
// the operating system. Never writes, never creates. Offsets are 64-bit, so files of 4 GiB and more work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "platform/Status.h"

namespace corvyn::platform {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens an existing file for reading only (closing any file open before).
  // Returns kOk or a system error naming the path (a folder is EISDIR).
  Status Open(const std::filesystem::path& path);
  void Close();
  bool IsOpen() const { return descriptor_ >= 0; }
  uint64_t Size() const { return size_; }

  // Reads out.size() bytes at offset, in pieces of at most 64 KiB. Returns
  // kOk, kInvalidData when no file is open, kShortRead when the file ends
  // before all bytes arrived, or a system error for a failed read. *bytesRead gets the bytes actually read.
  Status ReadAt(uint64_t offset, std::span<uint8_t> out, std::size_t* bytesRead = nullptr) const;

 private:
  int descriptor_ = -1;
  std::string path_;  // for the context of errors
  uint64_t size_ = 0;
};

}  // namespace corvyn::platform
