#include "engine/biquad_filter.h"

#include <cmath>
#include <limits>
#include <numbers>

namespace mimicore {

BiquadFilter::BiquadFilter(FilterType type, float gain, float frequency, float sampleRate,
                           float bandwidth) {
  Design(type, gain, frequency, sampleRate, bandwidth);
}

void BiquadFilter::Design(FilterType type, float gain, float frequency, float sampleRate,
                          float bandwidth) {
  x1_ = x2_ = y1_ = y2_ = 0.0F;
  b0_ = b1_ = b2_ = a1_ = a2_ = 0.0F;

  const bool usable = std::isfinite(frequency) && std::isfinite(sampleRate) &&
                      std::isfinite(bandwidth) && std::isfinite(gain) && sampleRate > 0.0F &&
                      frequency > 0.0F && frequency < sampleRate / 2.0F && bandwidth > 0.0F;
  if (!usable || type != FilterType::BandPass) {
    return;
  }

  const float omega = 2.0F * std::numbers::pi_v<float> * frequency / sampleRate;
  const float sn = std::sin(omega);
  const float cs = std::cos(omega);
  const float alpha = sn * std::sinh(std::numbers::ln2_v<float> / 2.0F * bandwidth * omega / sn);
  const float b0 = alpha;
  const float b1 = 0.0F;
  const float b2 = -alpha;
  const float a0 = 1.0F + alpha;
  const float a1 = -2.0F * cs;
  const float a2 = 1.0F - alpha;
  if (!std::isfinite(a0) || a0 == 0.0F) {
    return;
  }
  b0_ = b0 / a0;
  b1_ = b1 / a0;
  b2_ = b2 / a0;
  a1_ = a1 / a0;
  a2_ = a2 / a0;
  if (!(std::isfinite(b0_) && std::isfinite(b1_) && std::isfinite(b2_) && std::isfinite(a1_) &&
        std::isfinite(a2_))) {
    b0_ = b1_ = b2_ = a1_ = a2_ = 0.0F;
  }
  // Inputs and fed-back outputs are 16-bit values, so this bounds the sum.
  const double bound = (std::fabs(double{b0_}) + std::fabs(double{b1_}) + std::fabs(double{b2_}) +
                        std::fabs(double{a1_}) + std::fabs(double{a2_})) *
                       32768.0;
  mayOverflow_ = !(bound < 2147483000.0);
}

int32_t BiquadFilter::Process(int16_t x) {
  const double xf = x;
  const double acc = double{b1_} * x1_ + double{b0_} * xf + double{b2_} * x2_ - double{a1_} * y1_ -
                     double{a2_} * y2_;
  // Converting an out-of-range double to int is undefined; the coefficients
  // are finite and the fed-back values bounded, so this only guards against
  // the impossible, at the cost of two compares.
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  const int32_t r = acc >= kMax   ? std::numeric_limits<int32_t>::max()
                    : acc <= kMin ? std::numeric_limits<int32_t>::min()
                                  : static_cast<int32_t>(acc);
  x2_ = x1_;
  x1_ = static_cast<float>(x);
  y2_ = y1_;
  y1_ = static_cast<float>(static_cast<int16_t>(r));
  return r;
}

}  // namespace mimicore

namespace mimicore {

void BiquadFilter::ProcessBlock(int16_t* samples, uint32_t n) {
  if (mayOverflow_) {
    for (uint32_t i = 0; i < n; ++i) {
      samples[i] = static_cast<int16_t>(Process(samples[i]));
    }
    return;
  }
  const double b0 = b0_, b1 = b1_, b2 = b2_, a1 = a1_, a2 = a2_;
  double x1 = x1_, x2 = x2_, y1 = y1_, y2 = y2_;
  for (uint32_t i = 0; i < n; ++i) {
    const double x = samples[i];
    const double acc = ((b1 * x1 + b0 * x) + b2 * x2 - a2 * y2) - a1 * y1;
    // In range by the bound checked at design time.
    const auto y = static_cast<int16_t>(static_cast<int32_t>(acc));
    samples[i] = y;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
  }
  x1_ = float(x1);
  x2_ = float(x2);
  y1_ = float(y1);
  y2_ = float(y2);
}

}  // namespace mimicore
