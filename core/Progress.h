// The share of the scan driver's 0..100 progress scale that one piece of
// engine work owns: it reports `base` plus a part of `span`, and turns the
// callback's answer into a status (a non-zero answer asks the engine to
// return at once).
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/IPhoneRecoveryParse.h"

namespace corvyn {

struct ProgressShare {
  ProgressCallback callback = nullptr;
  void* userValue = nullptr;
  int base = 0;
  int span = 11;

  // Reports `percent`; kOk to go on, otherwise the status to return at once.
  // Without a callback nothing is reported and the answer is kOk.
  Status Report(int percent) const {
    return callback ? Status::FromProgressAnswer(callback(userValue, percent)) : Status{};
  }

  // base + span * numerator / denominator, within the int range. A
  // denominator of 0 or less means the work is complete: base + span.
  int At(int64_t numerator, int64_t denominator) const {
    int64_t value = base;
    value += denominator > 0 ? int64_t{span} * numerator / denominator : int64_t{span};
    return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
  }

  Status ReportAt(int64_t numerator, int64_t denominator) const { return Report(At(numerator, denominator)); }

  // The work of this share is done: moves the base past it by `step` and
  // reports the new base.
  Status Advance(int step) {
    base += step;
    return Report(base);
  }

  // A share of `subSpan` points starting at this share's base, for a part of
  // the work handed to another library (a decoder).
  ProgressShare Part(int subSpan) const { return ProgressShare{callback, userValue, base, subSpan}; }
};

}  // namespace corvyn
