#include "tools/decrypt/ToolCopy.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/decrypt/FileCipher.h"

namespace corvyn::backupcrypto {
namespace fs = std::filesystem;

bool HasExecutableSignature(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  FileHandle file(std::fopen(path.c_str(), "rb"));
  char head[sizeof kElfMagic] = {};
  return file && std::fread(head, 1, sizeof head, file.get()) == sizeof head &&
         std::memcmp(head, kElfMagic, sizeof head) == 0;
}

Status CopyDecryptionProgram(const fs::path& from, const fs::path& to) {
  if (!HasExecutableSignature(from)) return kInvalidData;
  FileHandle in(std::fopen(from.c_str(), "rb"));
  if (!in) return Status::System(errno, "opening " + from.string());
  FileHandle out;
  if (Status status = CreateFreshFile(to, out); status != kOk) return status;
  std::vector<char> buffer(1 << 16);
  Status status = kOk;
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
    if (got == 0) break;
    if (std::fwrite(buffer.data(), 1, got, out.get()) != got) {
      status = Status::System(errno, "writing " + to.string());
      break;
    }
  }
  if (status == kOk && std::ferror(in.get())) status = Status::System(EIO, "reading " + from.string());
  if (std::fclose(out.release()) != 0 && status == kOk)
    status = Status::System(errno, "writing " + to.string());
  std::error_code ec;
  if (status == kOk) {
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec,
                    fs::perm_options::replace, ec);
    if (ec) status = Status::System(ec, "making " + to.string() + " executable");
  }
  if (status == kOk && !HasExecutableSignature(to)) status = kInvalidData;
  if (status != kOk) fs::remove(to, ec);
  return status;
}

}  // namespace corvyn::backupcrypto
