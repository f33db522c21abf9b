#include "engine/take_ring.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/audio_block.h"

namespace mimicore {

bool TakeRing::Allocate() {
  if (ring_) {
    return true;
  }
  ring_.reset(new (std::nothrow) int16_t[kRingSamples]());
  return ring_ != nullptr;
}

void TakeRing::Free() { ring_.reset(); }

int32_t TakeRing::WriteBlock(const int16_t* input, uint32_t n, uint32_t speedStep,
                             const EchoParams& echo, EchoEffect& effect) {
  if (!ring_ || n == 0 || speedStep == 0) {
    return 0;
  }
  const int32_t old = writePos_.load(std::memory_order_relaxed);
  // Output sample k takes input sample (k * speedStep) >> 22 while that is
  // below n, so the count is known before the copy: ceil(n * 2^22 / step),
  // at least one. 64 bits so that long blocks cannot wrap the position.
  const uint64_t span = uint64_t{n} << 22;
  const auto count = static_cast<int32_t>((span + speedStep - 1) / speedStep);
  int16_t* ring = ring_.get();
  uint64_t acc = 0;
  int32_t w = old;
  int32_t left = count;
  while (left > 0) {
    // Straight runs up to the ring's end: no wrap test in the inner loop.
    const int32_t run = std::min(left, kRingSamples - w);
    int16_t* out = ring + w;
    for (int32_t k = 0; k < run; ++k) {
      out[k] = input[acc >> 22];
      acc += speedStep;
    }
    left -= run;
    w += run;
    if (w == kRingSamples) {
      w = 0;
    }
  }

  if (echo.on) {
    // Both pieces of a write that crossed the ring's end, in order, as one
    // stretch: the effect carries its line position from call to call.
    const int32_t first = std::min(count, kRingSamples - old);
    effect.Process(ring + old, first, int32_t(kSampleRate), echo.delay, echo.decay, 32768);
    effect.Process(ring, count - first, int32_t(kSampleRate), echo.delay, echo.decay, 32768);
  }
  writePos_.store(w);

  const uint64_t pending = uint64_t{pendingSamples_} + uint64_t(count);
  if (pending > uint64_t(kRingSamples)) {
    // The writer lapped the reader: what it has not played is overwritten,
    // so it goes on from the oldest sample still in the ring.
    pendingSamples_ = kRingSamples;
    readPos_ = w;
  } else {
    pendingSamples_ = uint32_t(pending);
  }
  return count;
}

bool TakeRing::ReadBlock(int16_t* out, uint32_t n) {
  uint32_t take = std::min(n, pendingSamples_);
  if (!ring_) {
    take = 0;
  }
  uint32_t done = 0;
  while (done < take) {
    const uint32_t run = std::min(take - done, uint32_t(kRingSamples - readPos_));
    std::memcpy(out + done, ring_.get() + readPos_, run * sizeof(int16_t));
    done += run;
    readPos_ += int32_t(run);
    if (readPos_ >= kRingSamples) {
      readPos_ = 0;
    }
  }
  if (done < n) {
    std::memset(out + done, 0, (n - done) * sizeof(int16_t));
  }
  pendingSamples_ -= take;
  return pendingSamples_ != 0;
}

int32_t TakeRing::TakeLength(int32_t takeStart, int32_t writePos) {
  int64_t d = int64_t{writePos} - int64_t{takeStart};
  if (d <= 0) {
    d += kRingSamples;
  }
  return static_cast<int32_t>(std::clamp<int64_t>(d, 1, kRingSamples));
}

void TakeRing::CopyOut(int32_t start, int32_t count, int16_t* out) const {
  if (!ring_ || count <= 0) {
    return;
  }
  int32_t pos = ((start % kRingSamples) + kRingSamples) % kRingSamples;
  int32_t left = std::min(count, kRingSamples);
  while (left > 0) {
    const int32_t run = std::min(left, kRingSamples - pos);
    std::memcpy(out, ring_.get() + pos, size_t(run) * sizeof(int16_t));
    out += run;
    left -= run;
    pos = 0;
  }
}

}  // namespace mimicore
