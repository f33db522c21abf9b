// Feedback echo applied in place to what the take ring writer appended:
// y[t] = x[t] + trunc(decay * y[t - L]). Capture thread only.
#pragma once

#include <array>
#include <cstdint>

namespace mimicore {

inline constexpr int32_t kEchoLineSamples = 30800;

class EchoEffect {
 public:
  // |count| of 0 or less processes nothing. |delay| is clamped to what the
  // line can hold at |sampleRate|, |decay| to 0..1 (not a number: 0).
  void Process(int16_t* samples, int32_t count, int32_t sampleRate, int32_t delay, float decay,
               int32_t limit);

  // Samples of lead between reading and writing the line for these values.
  static int32_t Lead(int32_t sampleRate, int32_t delay);

  [[nodiscard]] const std::array<int16_t, kEchoLineSamples>& Line() const { return line_; }

 private:
  std::array<int16_t, kEchoLineSamples> line_{};
  int32_t readIdx_ = 0;
};

}  // namespace mimicore
