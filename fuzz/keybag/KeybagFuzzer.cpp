// Feeds arbitrary bytes to the keybag parser (Manifest.plist's BackupKeyBag
// comes from the backup folder): it must never read outside them, a keybag it
// accepts must keep within its bounds and survive being written and read
// again unchanged, and unwrapping its class keys must not misbehave on any
// WPKY length. No password derivation: the iteration counts are the file's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <span>

#include "tools/decrypt/Keybag.h"

namespace bc = corvyn::backupcrypto;

namespace {

bool SameClassKeys(const bc::Keybag& a, const bc::Keybag& b) {
  if (a.classKeys.size() != b.classKeys.size()) return false;
  for (std::size_t i = 0; i < a.classKeys.size(); ++i) {
    const bc::KeybagClassKey& left = a.classKeys[i];
    const bc::KeybagClassKey& right = b.classKeys[i];
    if (left.uuid != right.uuid || left.protectionClass != right.protectionClass || left.wrap != right.wrap ||
        left.keyType != right.keyType || left.wrappedKey != right.wrappedKey) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bc::Keybag keybag;
  if (bc::ParseKeybag(std::span<const uint8_t>(data, size), keybag) != corvyn::kOk) return 0;
  if (keybag.iterations == 0 || keybag.iterations > bc::kMaxIterations) std::abort();
  if (keybag.sha256Iterations > bc::kMaxIterations) std::abort();
  if (keybag.classKeys.size() > bc::kMaxClassKeys) std::abort();

  // A keybag with its own UUID is written back in full (the two-stage
  // parameters only when both are present) and must read back the same.
  if (!keybag.uuid.empty()) {
    const std::string encoded = bc::EncodeKeybag(keybag);
    bc::Keybag again;
    if (bc::ParseKeybag(std::span(reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size()), again) !=
        corvyn::kOk) {
      std::abort();
    }
    if (again.version != keybag.version || again.type != keybag.type || again.uuid != keybag.uuid ||
        again.salt != keybag.salt || again.iterations != keybag.iterations ||
        again.IsTwoStage() != keybag.IsTwoStage() || !SameClassKeys(again, keybag)) {
      std::abort();
    }
    if (keybag.IsTwoStage() &&
        (again.sha256Salt != keybag.sha256Salt || again.sha256Iterations != keybag.sha256Iterations)) {
      std::abort();
    }
  }

  const uint8_t passwordKey[32] = {};
  std::map<uint32_t, bc::Bytes> classKeys;
  const corvyn::Status unlocked = bc::UnlockClassKeys(keybag, passwordKey, classKeys);
  if (unlocked == corvyn::kOk) {
    for (const auto& [protectionClass, key] : classKeys) {
      if (key.empty()) std::abort();
    }
  } else if (!classKeys.empty()) {
    std::abort();
  }
  return 0;
}
