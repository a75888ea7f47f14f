// Creating a recovery engine from the source kind of a start-scan request.
//
// The engines live in higher layers (backup/, device/), so core cannot name
// them. Each engine library offers a creator, and the program (or a test)
// registers it once at start-up:
//
//   corvyn::RegisterEngineFactory(corvyn::kSourceKindBackup,
//                                 [] { return std::make_unique<CLocalBuckupRecovery>(); });
//
// CreateRecoveryEngine then creates the engine of a kind and attaches it to the
// source context the source page prepared. The registry is process-wide and
// safe to use from any thread.
#pragma once

#include <functional>
#include <memory>

#include "core/IPhoneRecoveryParse.h"

namespace corvyn {

inline constexpr int kSourceKindDevice = 0;
inline constexpr int kSourceKindBackup = 1;

using EngineCreator = std::function<std::unique_ptr<IPhoneRecoveryParse>()>;

// Registers (or replaces, or with an empty creator removes) the creator of a
// source kind. Only kinds 0 and 1 are accepted; returns false otherwise.
bool RegisterEngineFactory(int sourceKind, EngineCreator creator);

// Creates the engine of the kind and calls Attach(sourceContext) on it.
// Returns nullptr for an unknown or unregistered kind, when the creator makes
// nothing, or when Attach fails (*status then holds Attach's result; it holds
// kInvalidData for the other failures and kOk on success).
std::unique_ptr<IPhoneRecoveryParse> CreateRecoveryEngine(int sourceKind, void* sourceContext,
                                                          Status* status = nullptr);

}  // namespace corvyn
