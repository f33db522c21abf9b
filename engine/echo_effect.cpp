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

  const int32_t lead = Lead(sampleRate, delay);
  int32_t writeIdx = readIdx_ + lead;
  if (writeIdx >= kEchoLineSamples) {
    writeIdx -= kEchoLineSamples;
  }
  // Runs no longer than the lead never read a line entry they write
  // themselves, and stop at the line's end, so the inner loop has neither
  // a dependency from one sample to the next nor a wrap test.
  const int32_t maxRun = lead > 0 ? lead : kEchoLineSamples;
  int16_t* line = line_.data();
  int32_t done = 0;
  while (done < count) {
    const int32_t run =
        std::min({count - done, maxRun, kEchoLineSamples - readIdx_, kEchoLineSamples - writeIdx});
    const int16_t* in = line + readIdx_;
    int16_t* out = line + writeIdx;
    int16_t* s = samples + done;
    for (int32_t i = 0; i < run; ++i) {
      const auto e = static_cast<int32_t>(float(in[i]) * decay);
      const auto y = static_cast<int16_t>(std::clamp(int32_t{s[i]} + e, lo, hi));
      s[i] = y;
      out[i] = y;
    }
    done += run;
    readIdx_ += run;
    if (readIdx_ == kEchoLineSamples) {
      readIdx_ = 0;
    }
    writeIdx += run;
    if (writeIdx == kEchoLineSamples) {
      writeIdx = 0;
    }
  }
}

}  // namespace mimicore
