#include "engine/echo_effect.h"

#include <algorithm>
#include <cmath>

namespace mimicore {

int32_t EchoEffect::Lead(int32_t sampleRate, int32_t delay) {
  // The single-precision constant is part of the behaviour: it decides the
  // truncation at every whole-millisecond delay.
  const double lead = double(2.0 * double(sampleRate) * double(delay)) * double(0.001F);
  if (!(lead > 0.0)) {
    return 0;
  }
  if (lead >= double(kEchoLineSamples - 1)) {
    return kEchoLineSamples - 1;
  }
  return static_cast<int32_t>(lead);
}

void EchoEffect::Process(int16_t* samples, int32_t count, int32_t sampleRate, int32_t delay,
                         float decay, int32_t limit) {
  if (count <= 0 || samples == nullptr) {
    return;
  }
  if (std::isnan(decay)) {
    decay = 0.0F;
  }
  decay = std::clamp(decay, 0.0F, 1.0F);
  const int32_t lim = std::clamp(limit, 0, 32768);
  const int32_t lo = std::max(-lim, -32768);
  const int32_t hi = std::min(lim, 32767);

  int32_t writeIdx = readIdx_ + Lead(sampleRate, delay);
  if (writeIdx >= kEchoLineSamples) {
    writeIdx -= kEchoLineSamples;
  }
  for (int32_t i = 0; i < count; ++i) {
    const auto e = static_cast<int32_t>(float(line_[size_t(readIdx_)]) * decay);
    const int32_t out = std::clamp(int32_t{samples[i]} + e, lo, hi);
    samples[i] = static_cast<int16_t>(out);
    line_[size_t(writeIdx)] = static_cast<int16_t>(out);
    if (++writeIdx == kEchoLineSamples) {
      writeIdx = 0;
    }
    if (++readIdx_ == kEchoLineSamples) {
      readIdx_ = 0;
    }
  }
}

}  // namespace mimicore
