// Second-order IIR band-pass section (constant 0 dB peak) after the Audio
// EQ Cookbook formulas, bandwidth in octaves. Only the thread that runs it
// may touch it.
#pragma once

#include <cstdint>

namespace mimicore {

// Only the band-pass is designed; any other value leaves a silent filter.
enum class FilterType : int32_t {
  BandPass = 2,
};

class BiquadFilter {
 public:
  BiquadFilter(FilterType type, float gain, float frequency, float sampleRate, float bandwidth);
  virtual ~BiquadFilter() = default;
  BiquadFilter(const BiquadFilter&) = default;
  BiquadFilter& operator=(const BiquadFilter&) = default;

  // Computes the coefficients and starts from rest. |gain| must be finite
  // but does not shape a constant-peak band-pass. Another type, or a
  // frequency the formulas cannot take (0, negative, at or above half the
  // sample rate), leaves a filter that passes nothing through (all
  // coefficients 0) rather than one that yields NaN.
  void Design(FilterType type, float gain, float frequency, float sampleRate, float bandwidth);

  // Returns the full integer result; the fed-back output is its low 16 bits.
  int32_t Process(int16_t x);
  // Filters |n| samples in place, each replaced by the low 16 bits of its
  // result: what Process does sample by sample, with the state in registers.
  void ProcessBlock(int16_t* samples, uint32_t n);

  [[nodiscard]] float B0() const { return b0_; }
  [[nodiscard]] float B1() const { return b1_; }
  [[nodiscard]] float B2() const { return b2_; }
  [[nodiscard]] float A1() const { return a1_; }
  [[nodiscard]] float A2() const { return a2_; }

 private:
  float b0_ = 0, b1_ = 0, b2_ = 0;
  float a1_ = 0, a2_ = 0;
  float x1_ = 0, x2_ = 0;
  float y1_ = 0, y2_ = 0;
  // False when no input can drive the sum past the 32-bit range, which is
  // every design the program makes: the block loop then skips the clamp.
  bool mayOverflow_ = false;
};

}  // namespace mimicore
