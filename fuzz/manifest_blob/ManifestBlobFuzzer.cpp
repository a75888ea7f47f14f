// Feeds arbitrary bytes to the reader of Manifest.db attribute blobs: it must
// never read outside them, and a refused blob leaves no values behind.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "backup/ManifestFileBlob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvyn::backup::ManifestFileAttributes attributes;
  const corvyn::Status status =
      corvyn::backup::ParseManifestFileBlob(std::span<const uint8_t>(data, size), attributes);
  if (status != corvyn::kOk) {
    if (attributes.hasSize || attributes.hasProtectionClass || attributes.hasLastModified) std::abort();
    if (!attributes.encryptionKey.empty()) std::abort();
    if (status.Message().empty()) std::abort();
  }
  return 0;
}
