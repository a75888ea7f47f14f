// The running progress of the backup engine: a base and a step in percent,
// reported through the scan driver's callback.
#pragma once

#include <cstdint>

#include "core/IPhoneRecoveryParse.h"

namespace corvyn::backup {

struct EngineProgress {
  ProgressCallback callback = nullptr;
  void* userValue = nullptr;
  int base = 0;
  int step = 11;

  // Reports a value; returns the callback's answer (0 without a callback).
  int Report(int percent) const { return callback ? callback(userValue, percent) : 0; }

  // base + step * numerator / denominator (base when the denominator is 0).
  int Share(int64_t numerator, int64_t denominator, int64_t factor = 1) const {
    if (denominator <= 0) return base;
    return base + static_cast<int>(int64_t{step} * factor * numerator / denominator);
  }
};

}  // namespace corvyn::backup
