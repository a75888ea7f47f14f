// A file opened read-only for positional reads: the reader's only contact with
// the operating system. Offsets are 64-bit, so files of 4 GiB and more work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "core/Status.h"

namespace corvyn::sqlite {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens an existing file for reading only (closing any file open before).
  // Returns 0 or the errno of the failed call.
  Status Open(const std::filesystem::path& path);
  void Close();
  bool IsOpen() const { return descriptor_ >= 0; }
  uint64_t Size() const { return size_; }

  // Reads out.size() bytes at offset, in pieces of at most 64 KiB. Returns 0,
  // 87 when no file is open, 30 when the file ends before all bytes arrived,
  // or the errno of a failed read. *bytesRead gets the bytes actually read.
  Status ReadAt(uint64_t offset, std::span<uint8_t> out, std::size_t* bytesRead = nullptr) const;

 private:
  int descriptor_ = -1;
  uint64_t size_ = 0;
};

}  // namespace corvyn::sqlite
