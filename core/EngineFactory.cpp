#include "core/EngineFactory.h"

#include <array>
#include <mutex>

namespace corvyn {
namespace {

struct Registry {
  std::mutex mutex;
  std::array<EngineCreator, 2> creators;  // indexed by source kind
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool IsKnownKind(int sourceKind) {
  return sourceKind == kSourceKindDevice || sourceKind == kSourceKindBackup;
}

}  // namespace

bool RegisterEngineFactory(int sourceKind, EngineCreator creator) {
  if (!IsKnownKind(sourceKind)) return false;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.creators[static_cast<std::size_t>(sourceKind)] = std::move(creator);
  return true;
}

std::unique_ptr<IPhoneRecoveryParse> CreateRecoveryEngine(int sourceKind, void* sourceContext,
                                                          Status* status) {
  Status ignored = kOk;
  Status& result = status != nullptr ? *status : ignored;
  result = kInvalidData;
  if (!IsKnownKind(sourceKind)) return nullptr;
  EngineCreator creator;
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    creator = registry.creators[static_cast<std::size_t>(sourceKind)];
  }
  if (!creator) return nullptr;
  std::unique_ptr<IPhoneRecoveryParse> engine = creator();
  if (engine == nullptr) return nullptr;
  result = engine->Attach(sourceContext);
  if (result != kOk) return nullptr;
  return engine;
}

}  // namespace corvyn
