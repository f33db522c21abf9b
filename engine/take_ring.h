// The take ring: what the user said, already resampled by the speed and
// with the echo in it, plus the reader that feeds the playback device.
//
// The reader plays every written sample exactly once, in order: it keeps a
// count of samples written but not yet played, so a playback always starts
// at the first unplayed sample and stops exactly at the writer, with the
// ring's end crossed seamlessly.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/echo_effect.h"

namespace mimicore {

inline constexpr int32_t kRingSamples = 3604480;  // 4096 capture buffers

class TakeRing {
 public:
  // Allocates the zero-filled ring once; false when memory is short.
  bool Allocate();
  void Free();
  [[nodiscard]] bool Allocated() const { return ring_ != nullptr; }

  void MarkTakeStart() { takeStart_.store(writePos_.load(std::memory_order_relaxed)); }

  struct EchoParams {
    bool on = false;
    int32_t delay = 0;
    float decay = 0.0F;
  };
  // Appends input sample trunc(k * speedStep / 2^22) for k = 0, 1, ... while
  // that index is below n (at least one sample), then applies the echo to
  // the appended stretch, in order, across the ring's end. Returns the
  // number of samples written. |speedStep| must be at least 1.
  int32_t WriteBlock(const int16_t* input, uint32_t n, uint32_t speedStep, const EchoParams& echo,
                     EchoEffect& effect);

  // Copies the next up to |n| unplayed samples into |out| and pads the rest
  // with silence. Returns true while samples remain unplayed afterwards.
  bool ReadBlock(int16_t* out, uint32_t n);

  [[nodiscard]] int32_t WritePos() const { return writePos_.load(); }
  [[nodiscard]] int32_t TakeStart() const { return takeStart_.load(); }
  [[nodiscard]] int32_t ReadPos() const { return readPos_; }
  // Bytes written but not yet played; zero means nothing waits to be played.
  [[nodiscard]] uint32_t PendingBytes() const { return pendingSamples_ * 2U; }

  // Length of the last take in samples: from takeStart up to writePos,
  // wrapping; equal positions mean the whole ring.
  static int32_t TakeLength(int32_t takeStart, int32_t writePos);
  // Copies |count| samples starting at ring index |start|, wrapping.
  void CopyOut(int32_t start, int32_t count, int16_t* out) const;

 private:
  std::unique_ptr<int16_t[]> ring_;
  // Written only on the capture thread; atomics because the WAV export reads
  // the take markers on the window thread.
  std::atomic<int32_t> writePos_{0};
  std::atomic<int32_t> takeStart_{0};
  int32_t readPos_ = 0;          // samples; next sample to play
  uint32_t pendingSamples_ = 0;  // written, not yet played; at most a ring
};

}  // namespace mimicore
