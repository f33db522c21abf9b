#include "engine/display_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace mimicore {

bool DrawsTheSame(const DisplayFrame& a, const DisplayFrame& b) {
  if (a.meterSegments != b.meterSegments || a.traceCount != b.traceCount ||
      a.barHeights != b.barHeights || a.statusVisible != b.statusVisible) {
    return false;
  }
  const uint32_t points = std::min<uint32_t>(a.traceCount, kMaxTracePoints);
  if (!std::equal(a.trace.begin(), a.trace.begin() + points, b.trace.begin())) {
    return false;
  }
  if (!a.statusVisible) {
    return true;  // no texts are drawn
  }
  return a.valueTop == b.valueTop &&
         strncmp(a.status.title, b.status.title, sizeof a.status.title) == 0 &&
         strncmp(a.status.value, b.status.value, sizeof a.status.value) == 0;
}

int32_t MeterSegments(int32_t level) { return std::clamp(level / 5, 0, kMeterMaxSegments); }

uint32_t ComputeTrace(const int16_t* samples, uint32_t n, int32_t oscilloDivisor,
                      std::array<Point, kMaxTracePoints>& points) {
  if (n == 0) {
    return 0;
  }
  const int32_t divisor = std::max(oscilloDivisor, 1);
  const auto xstep = static_cast<uint32_t>(230.0 / double(n) * 4194304.0);
  const auto ygain = static_cast<int64_t>(72.5 / double(divisor) * 4194304.0);
  uint32_t count = 0;
  uint32_t k = 0;
  uint32_t acc = 0;
  for (uint32_t i = 0; i < n && count < points.size(); ++i) {
    if (++k >= uint32_t(kTraceEvery)) {
      k = 0;
      // Formed in 64 bits: with a small divisor a 32-bit product wraps and
      // throws the point to the wrong side of the screen.
      const int64_t dy = (int64_t{samples[i]} * ygain) >> 22;
      const int64_t y =
          std::clamp<int64_t>(kTraceZeroY + dy, kDisplayArea.top, kDisplayArea.bottom);
      points[count++] = Point{60 + int32_t(acc >> 22), int32_t(y)};
    }
    acc += xstep;
  }
  return count;
}

void ComputeBars(const int16_t* spectrumIm, int32_t fftResult, int32_t oscilloDivisor,
                 std::array<int32_t, kSpectrumBars>& heights) {
  const int32_t divisor = std::max(oscilloDivisor, 1);
  const double gainScale = std::ldexp(1.0, std::clamp(fftResult, 0, 16));
  const auto barGain = static_cast<int64_t>(gainScale * (150.0 / double(divisor)) * 4194304.0);
  const int32_t maxHeight = kBarBaseY - kDisplayArea.top;
  for (int32_t i = 0; i < kSpectrumBars; ++i) {
    const int64_t mag = std::abs(int32_t{spectrumIm[i]});
    const int64_t h = ((mag * barGain) >> 22) + 2;
    heights[size_t(i)] = int32_t(std::clamp<int64_t>(h, 2, maxHeight));
  }
}

}  // namespace mimicore
