// The stored files of an encrypted backup of the newer layout (iOS 10.2 and
// later), decrypted one at a time as the engine reads them.
//
// Such a backup is often 50 to 200 GB, so nothing decrypts it whole: the
// scan decrypts Manifest.db and the databases it opens (with their -wal),
// types media from their first blocks, and a media file is decrypted whole
// only when it is previewed or exported. The password is derived once per
// opening; the class keys stay in this object's memory and are wiped with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backup/BackupFileMap.h"
#include "platform/Status.h"

namespace corvyn::backup {

class EncryptedStore {
 public:
  ~EncryptedStore();
  EncryptedStore(const EncryptedStore&) = delete;
  EncryptedStore& operator=(const EncryptedStore&) = delete;

  // Asked about every tenth of a second while the password is checked, with
  // an estimate of the part done (0 to 1); a non-OK answer is returned once
  // the check (which cannot be cut short) has ended.
  using CheckTick = std::function<Status(double partDone)>;

  // Opens `folder`'s Manifest.plist and checks the password. Returns
  // kWrongPassword when it does not unlock the keybag (an empty one
  // included), kInvalidData in words when the backup carries no keybag or
  // ManifestKey.
  static Status Unlock(const std::filesystem::path& folder, std::string_view password, const CheckTick& tick,
                       std::unique_ptr<EncryptedStore>& store);

  // Decrypts Manifest.db into a fresh `output`.
  Status DecryptFileList(const std::filesystem::path& output) const;

  // What a stored file holds, read from its first and (when asked) last
  // blocks only.
  struct Probe {
    std::vector<std::uint8_t> head;  // up to the asked count of plain bytes
    std::uint64_t plainLength = 0;   // without `length`: the head's end at most
  };
  // Errors in words: the entry has no file key, its key does not unwrap (a
  // damaged blob, an unsupported class), the stored file cannot be read.
  Status ProbeFile(const BackupFileEntry& entry, const std::filesystem::path& stored, std::size_t count,
                   Probe& probe, bool length = true) const;

  // Decrypts a stored file whole into a fresh `output` (removed again on
  // failure).
  Status DecryptFile(const BackupFileEntry& entry, const std::filesystem::path& stored,
                     const std::filesystem::path& output) const;

  // Words for the protection classes whose keys this program cannot unwrap;
  // empty when there are none.
  std::string UnsupportedClassesNote() const;

 private:
  struct Keys;
  explicit EncryptedStore(std::unique_ptr<Keys> keys);
  std::unique_ptr<Keys> keys_;
};

}  // namespace corvyn::backup
