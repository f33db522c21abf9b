#include "ui/windows/level_keys.h"

#include <algorithm>

namespace mimicore {

int32_t StepPeakLevel(int32_t level, bool up) {
  if (up) {
    return std::min(level < 32768 ? level + 32 : level, 32768);
  }
  return std::max(level > 32 ? level - 32 : level, 32);
}

int32_t StepOscilloscopeScale(int32_t divisor, bool up) {
  // In 64 bits: a stored divisor may be anything, and must not wrap.
  const int64_t stepped = int64_t{divisor} + (up ? 512 : -512);
  return static_cast<int32_t>(up ? std::min<int64_t>(stepped, 32768)
                                 : std::max<int64_t>(stepped, 512));
}

}  // namespace mimicore
