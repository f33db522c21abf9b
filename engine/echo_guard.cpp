#include "engine/echo_guard.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace mimicore {

namespace {

// A window quieter than this mean absolute value teaches nothing: noise
// would dominate the ratio.
constexpr uint64_t kMinMean = 32;

}  // namespace

void SampleHistory::Append(const int16_t* samples, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    const auto at = uint32_t((end_ + done) % kSamples);
    const uint32_t run = std::min(n - done, kSamples - at);
    if (samples != nullptr) {
      std::memcpy(ring_.data() + at, samples + done, run * sizeof(int16_t));
    } else {
      std::memset(ring_.data() + at, 0, run * sizeof(int16_t));
    }
    done += run;
  }
  end_ += n;
}

void SampleHistory::Copy(uint64_t from, uint32_t n, int16_t* out) const {
  uint32_t done = 0;
  while (done < n) {
    const auto at = uint32_t((from + done) % kSamples);
    const uint32_t run = std::min(n - done, kSamples - at);
    std::memcpy(out + done, ring_.data() + at, run * sizeof(int16_t));
    done += run;
  }
}

void EchoGuard::AddPlayed(const int16_t* samples, uint32_t n) {
  playedSamples_.Append(samples, n);
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
  float proven = 0.0F;
  ForEachLag(stamp, [&](int32_t s, uint32_t /*low*/, uint32_t high) {
    const auto k = size_t(s);
    const float echo = (learned_[k] ? gain_[k] : 1.0F) * float(high);
    any = std::max(any, echo);
    if (proven_[k]) {
      proven = std::max(proven, echo);
    }
  });
  const float h = float(heard);
  if (any == 0.0F || h > kMargin * any) {
    return EchoVerdict::kVoice;
  }
  return h <= kMargin * proven ? EchoVerdict::kEcho : EchoVerdict::kUnsure;
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

bool EchoGuard::AddHeld(uint32_t heard, uint32_t n, uint64_t stamp, uint64_t at, bool loud) {
  if (heldBlocks_ == kMaxHeld) {
    return false;
  }
  held_[heldBlocks_++] = {heard, n, stamp, at, loud};
  return true;
}

bool EchoGuard::Copies(const SampleHistory& heard, uint64_t at, uint32_t n, uint32_t fromDelay,
                       uint32_t toDelay) const {
  if (at < heard.Begin() || at + n > heard.End() || at + n > playedSamples_.End()) {
    return false;
  }
  int64_t heardEnergy = 0;
  for (uint32_t k = 0; k < n; ++k) {
    heardEnergy += int64_t{heard.At(at + k)} * heard.At(at + k);
  }
  for (uint32_t delay = fromDelay; delay <= toDelay; ++delay) {
    if (at < delay || at - delay < playedSamples_.Begin()) {
      break;
    }
    if (CopiesAt(heard, at, n, delay, heardEnergy)) {
      return true;
    }
  }
  return false;
}

bool EchoGuard::CopiesAt(const SampleHistory& heard, uint64_t at, uint32_t n, uint32_t delay,
                         int64_t heardEnergy) const {
  int64_t cross = 0;
  int64_t playedEnergy = 0;
  for (uint32_t k = 0; k < n; ++k) {
    const int64_t p = playedSamples_.At(at + k - delay);
    cross += int64_t{heard.At(at + k)} * p;
    playedEnergy += p * p;
  }
  // A correlation coefficient of at least one half.
  return cross > 0 &&
         double(cross) * double(cross) >= 0.25 * double(heardEnergy) * double(playedEnergy);
}

int32_t EchoGuard::CopiedAt(const SampleHistory& heard, uint64_t at, uint32_t n) {
  const uint32_t segment = n / kSegmentsPerBlock;
  const uint32_t parts = n / kCoarse;
  const uint32_t minDelay = n;
  const uint32_t maxDelay = n + uint32_t(kLags + 1) * segment;
  const uint32_t span = (maxDelay - minDelay) / kCoarse + parts;
  if (parts == 0 || parts > kMaxCoarseParts || span > coarse_.size() || at < maxDelay ||
      at - maxDelay < playedSamples_.Begin() || at + n - minDelay > playedSamples_.End() ||
      at < heard.Begin() || at + n > heard.End()) {
    return -1;
  }
  // Coarse first, on sums of kCoarse samples (a voice lies mostly below
  // their band edge), then sample by sample around the best coarse delay.
  const uint64_t base = at - maxDelay;
  for (uint32_t m = 0; m < span; ++m) {
    int32_t sum = 0;
    for (uint32_t k = 0; k < kCoarse; ++k) {
      sum += playedSamples_.At(base + uint64_t{m} * kCoarse + k);
    }
    coarse_[m] = double(sum);
  }
  std::array<double, kMaxCoarseParts> h{};
  double heardCoarse = 0.0;
  int64_t heardEnergy = 0;
  for (uint32_t j = 0; j < parts; ++j) {
    int32_t sum = 0;
    for (uint32_t k = 0; k < kCoarse; ++k) {
      const int32_t v = heard.At(at + uint64_t{j} * kCoarse + k);
      sum += v;
      heardEnergy += int64_t{v} * v;
    }
    h[j] = double(sum);
    heardCoarse += h[j] * h[j];
  }
  double bestScore = 0.0;
  uint32_t bestDelay = 0;
  for (uint32_t q = 0; q + parts <= span; ++q) {
    double cross = 0.0;
    double played = 0.0;
    for (uint32_t j = 0; j < parts; ++j) {
      cross += h[j] * coarse_[q + j];
      played += coarse_[q + j] * coarse_[q + j];
    }
    // A coarse coefficient of at least 0.4: the coarse grid may miss the
    // delay by half a step.
    const double score = cross * cross / std::max(played, 1.0);
    if (cross > 0.0 && score >= 0.16 * heardCoarse && score > bestScore) {
      bestScore = score;
      bestDelay = maxDelay - q * kCoarse;
    }
  }
  if (bestDelay == 0) {
    return -1;
  }
  for (uint32_t delay = std::max(bestDelay - kCoarse, minDelay);
       delay <= std::min(bestDelay + kCoarse, maxDelay); ++delay) {
    if (CopiesAt(heard, at, n, delay, heardEnergy)) {
      return std::min(int32_t((delay - minDelay) / segment), kLags - 1);
    }
  }
  return -1;
}

void EchoGuard::LearnCopy(int32_t lag, uint32_t heard, uint32_t n, uint64_t stamp) {
  if (!InReach(stamp)) {
    return;
  }
  ForEachLag(stamp, [&](int32_t s, uint32_t low, uint32_t /*high*/) {
    const auto k = size_t(s);
    if (s < lag - 1 || s > lag + 1 || !Audible(low, n)) {
      return;
    }
    const float r = std::min(float(heard) / float(low), kMaxGain);
    gain_[k] = learned_[k] ? std::max(gain_[k], r) : r;
    learned_[k] = true;
    proven_[k] = true;
  });
}

bool EchoGuard::HeldAllCopies(const SampleHistory& heard) {
  std::array<int32_t, kMaxHeld> lags{};
  bool any = false;
  for (uint32_t i = 0; i < heldBlocks_; ++i) {
    const Held& b = held_[i];
    lags[i] = b.loud ? CopiedAt(heard, b.at, b.n) : -1;
    if (b.loud && lags[i] < 0) {
      return false;
    }
    any = any || b.loud;
  }
  for (uint32_t i = 0; any && i < heldBlocks_; ++i) {
    if (lags[i] >= 0) {
      LearnCopy(lags[i], held_[i].heard, held_[i].n, held_[i].stamp);
    }
  }
  return any;
}

int32_t EchoGuard::HeldExplained(const SampleHistory& heard) const {
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
  // The delays whose held levels agree most closely, best first; a
  // swelling voice can make a few far-off delays agree as well.
  constexpr size_t kCandidates = 3;
  std::array<int32_t, kCandidates> candidates{-1, -1, -1};
  const auto spread = [&](int32_t s) { return high[size_t(s)] / low[size_t(s)]; };
  for (int32_t s = 0; s < kLags; ++s) {
    const auto k = size_t(s);
    if (count[k] < kHeldNeeded || high[k] > kHeldSpread * low[k]) {
      continue;
    }
    for (size_t c = 0; c < kCandidates; ++c) {
      if (candidates[c] < 0 || spread(s) < spread(candidates[c])) {
        std::copy_backward(candidates.begin() + std::ptrdiff_t(c), candidates.end() - 1,
                           candidates.end());
        candidates[c] = s;
        break;
      }
    }
  }
  const Held* loudest = nullptr;
  for (uint32_t i = 0; i < heldBlocks_; ++i) {
    if (held_[i].loud && (loudest == nullptr || held_[i].heard > loudest->heard)) {
      loudest = &held_[i];
    }
  }
  if (loudest == nullptr) {
    return -1;
  }
  // Lag s stands for delays between one block plus s and s + 1 segments;
  // a segment more either side covers the rounding of the levels.
  const uint32_t segment = loudest->n / kSegmentsPerBlock;
  int32_t best = -1;
  for (const int32_t s : candidates) {
    if (s >= 0 &&
        Copies(heard, loudest->at, loudest->n, loudest->n + uint32_t(std::max(s - 1, 0)) * segment,
               loudest->n + uint32_t(s + 2) * segment)) {
      best = s;
      break;
    }
  }
  if (best < 0) {
    return -1;
  }
  std::array<float, kLags> gain{};
  for (size_t s = 0; s < size_t(kLags); ++s) {
    gain[s] = learned_[s] ? gain_[s] : 0.0F;
  }
  gain[size_t(best)] = std::max(gain[size_t(best)], low[size_t(best)]);
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
      return -1;
    }
  }
  return best;
}

void EchoGuard::LearnFromHeld(int32_t lag) {
  for (uint32_t i = 0; i < heldBlocks_; ++i) {
    Learn(held_[i].heard, held_[i].n, held_[i].stamp, true);
  }
  for (int32_t s = std::max(lag - 1, 0); s <= std::min(lag + 1, kLags - 1); ++s) {
    proven_[size_t(s)] = learned_[size_t(s)];
  }
}

}  // namespace mimicore
