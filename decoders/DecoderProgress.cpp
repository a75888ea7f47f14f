#include <limits>

#include "decoders/Decoders.h"

namespace corvyn::decoders {

int DecoderProgress::Report(int64_t numerator, int64_t denominator) const {
  if (callback == nullptr) return 0;
  int64_t value = base;
  if (denominator != 0) {
    value += static_cast<int64_t>(span) * numerator / denominator;
  } else {
    value += span;  // a zero denominator means "this stage is complete"
  }
  if (value > std::numeric_limits<int>::max()) value = std::numeric_limits<int>::max();
  if (value < std::numeric_limits<int>::min()) value = std::numeric_limits<int>::min();
  return callback(userValue, static_cast<int>(value));
}

}  // namespace corvyn::decoders
