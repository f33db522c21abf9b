#include "engine/echo_guard.h"

#include <algorithm>
#include <limits>

namespace mimicore {

namespace {

// A window quieter than this mean absolute value teaches nothing: noise
// would dominate the ratio.
constexpr uint64_t kMinMean = 32;

}  // namespace

void EchoGuard::AddPlayed(const int16_t* samples, uint32_t n) {
  bool audible = false;
  for (int32_t k = 0; k < kSegmentsPerBlock; ++k) {
    const uint32_t from = n * uint32_t(k) / kSegmentsPerBlock;
    const uint32_t to = n * uint32_t(k + 1) / kSegmentsPerBlock;
    uint32_t sum = 0;
    if (samples != nullptr) {
      for (uint32_t i = from; i < to; ++i) {
        const int32_t v = samples[i];
        sum += uint32_t(v < 0 ? -v : v);
      }
    }
    audible = audible || sum != 0;
    segments_[size_t((played_ * kSegmentsPerBlock + uint64_t(k)) % kHistory)] = sum;
  }
  ++played_;
  if (audible) {
    lastAudible_ = played_;
  }
}

bool EchoGuard::InReach(uint64_t stamp) const {
  // The longest delay's window ends this many blocks after it was played.
  constexpr uint64_t kReachBlocks = (kLags + 1) / kSegmentsPerBlock + 2;
  return lastAudible_ != 0 && stamp <= lastAudible_ + kReachBlocks &&
         played_ - stamp < (kHistory - kLags) / kSegmentsPerBlock - 2;
}

uint32_t EchoGuard::Segment(int64_t index) const {
  return index < 0 ? 0U : segments_[size_t(index % kHistory)];
}

template <typename Fn>
void EchoGuard::ForEachLag(uint64_t stamp, Fn&& fn) const {
  // Window for lag s: the block's worth of segments ending s segments
  // before the end of what had been played when the block was heard.
  const auto end = int64_t(stamp) * kSegmentsPerBlock;
  uint32_t next = 0;
  for (int64_t k = 1; k <= kSegmentsPerBlock; ++k) {
    next += Segment(end - k);
  }
  for (int32_t s = 0; s < kLags; ++s) {
    const uint32_t current = next;
    next = current - Segment(end - s - 1) + Segment(end - s - 1 - kSegmentsPerBlock);
    fn(s, std::min(current, next), std::max(current, next));
  }
}

bool EchoGuard::Audible(uint32_t low, uint32_t n) { return uint64_t{low} >= kMinMean * n; }

bool EchoGuard::Steady(uint32_t low, uint32_t high, uint32_t n) {
  return Audible(low, n) && uint64_t{high} * 4U <= uint64_t{low} * 5U;
}

EchoVerdict EchoGuard::Judge(uint32_t heard, uint64_t stamp) const {
  if (!InReach(stamp)) {
    return EchoVerdict::kVoice;
  }
  float any = 0.0F;
  float learned = 0.0F;
  ForEachLag(stamp, [&](int32_t s, uint32_t /*low*/, uint32_t high) {
    const float envelope = float(high);
    if (learned_[size_t(s)]) {
      learned = std::max(learned, gain_[size_t(s)] * envelope);
    } else {
      any = std::max(any, envelope);
    }
  });
  any = std::max(any, learned);
  const float h = float(heard);
  if (any == 0.0F || h > kMargin * any) {
    return EchoVerdict::kVoice;
  }
  return h <= kMargin * learned ? EchoVerdict::kEcho : EchoVerdict::kUnsure;
}

void EchoGuard::Learn(uint32_t heard, uint32_t n, uint64_t stamp, bool echoOrQuiet) {
  if (!InReach(stamp)) {
    return;
  }
  ForEachLag(stamp, [&](int32_t s, uint32_t low, uint32_t high) {
    if (!Audible(low, n)) {
      return;
    }
    // The true window lies between the two, so this bounds the coupling
    // from above: the smallest bound seen is the estimate.
    const float r = float(heard) / float(low);
    float& g = gain_[size_t(s)];
    const float crept = std::min({g * kCreep, r, kMaxGain});
    if (echoOrQuiet && (!learned_[size_t(s)] || r < g)) {
      g = std::min(r, kMaxGain);
      learned_[size_t(s)] = true;
    } else if (learned_[size_t(s)] && r > g && Steady(low, high, n)) {
      g = crept;
    }
  });
}

bool EchoGuard::AddHeld(uint32_t heard, uint32_t n, uint64_t stamp, bool loud) {
  if (heldBlocks_ == kMaxHeld) {
    return false;
  }
  held_[heldBlocks_++] = {heard, n, stamp, loud};
  return true;
}

bool EchoGuard::HeldExplained() const {
  // Per delay, the spread of the held ratios where the envelope is steady.
  std::array<float, kLags> low{};
  std::array<float, kLags> high{};
  std::array<uint32_t, kLags> count{};
  low.fill(std::numeric_limits<float>::max());
  for (uint32_t i = 0; i < heldBlocks_; ++i) {
    const Held& b = held_[i];
    if (!InReach(b.stamp)) {
      continue;
    }
    ForEachLag(b.stamp, [&](int32_t s, uint32_t lo, uint32_t hi) {
      if (Steady(lo, hi, b.n)) {
        const float r = float(b.heard) / float(lo);
        low[size_t(s)] = std::min(low[size_t(s)], r);
        high[size_t(s)] = std::max(high[size_t(s)], r);
        ++count[size_t(s)];
      }
    });
  }
  std::array<float, kLags> gain{};
  bool anyLag = false;
  for (size_t s = 0; s < size_t(kLags); ++s) {
    if (learned_[s]) {
      gain[s] = gain_[s];
    } else if (count[s] >= kHeldNeeded && high[s] <= kHeldSpread * low[s]) {
      gain[s] = low[s];
      anyLag = true;
    }
  }
  if (!anyLag) {
    return false;
  }
  for (uint32_t i = 0; i < heldBlocks_; ++i) {
    const Held& b = held_[i];
    if (!b.loud) {
      continue;
    }
    float echo = 0.0F;
    if (InReach(b.stamp)) {
      ForEachLag(b.stamp, [&](int32_t s, uint32_t /*lo*/, uint32_t hi) {
        echo = std::max(echo, gain[size_t(s)] * float(hi));
      });
    }
    if (float(b.heard) > kMargin * echo) {
      return false;
    }
  }
  return true;
}

void EchoGuard::LearnFromHeld() {
  for (uint32_t i = 0; i < heldBlocks_; ++i) {
    Learn(held_[i].heard, held_[i].n, held_[i].stamp, true);
  }
}

}  // namespace mimicore
