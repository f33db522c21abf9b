#include "engine/take_ring.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>

#include "core/audio_block.h"

namespace mimicore {

namespace {

// Ring samples are shared with readers on other threads, so every access
// that may meet one goes through atomic_ref. A release store per sample is
// a plain store on the machines the program runs on; the ordering is what
// lets a reader that saw a sample of a block also see that block's
// reservation.
void LoadRun(int16_t* ring, int32_t at, int32_t count, int16_t* out) {
  for (int32_t k = 0; k < count; ++k) {
    out[k] = std::atomic_ref<int16_t>(ring[at + k]).load(std::memory_order_acquire);
  }
}

int32_t RingIndex(uint64_t position) { return int32_t(position % uint64_t(kRingSamples)); }

}  // namespace

bool TakeRing::Allocate() {
  if (ring_) {
    return true;
  }
  ring_.reset(new (std::nothrow) int16_t[kRingSamples]());
  return ring_ != nullptr;
}

void TakeRing::Free() { ring_.reset(); }

void TakeRing::StoreRun(const int16_t* from, int32_t count, int32_t at) {
  int16_t* ring = ring_.get();
  while (count > 0) {
    const int32_t run = std::min(count, kRingSamples - at);
    for (int32_t k = 0; k < run; ++k) {
      std::atomic_ref<int16_t>(ring[at + k]).store(from[k], std::memory_order_release);
    }
    from += run;
    count -= run;
    at = 0;
  }
}

void TakeRing::Publish() {
  // A sequence lock made of atomics: readers retry while it is odd or
  // changed under them, the writer never waits.
  const uint32_t s = seq_.load(std::memory_order_relaxed);
  seq_.store(s + 1U);
  takeStartPub_.store(takeStart_);
  writtenPub_.store(written_);
  seq_.store(s + 2U);
}

int32_t TakeRing::WriteBlock(const int16_t* input, uint32_t n, uint32_t speedStep,
                             const EchoParams& echo, EchoEffect& effect) {
  if (!ring_ || n == 0 || speedStep == 0) {
    return 0;
  }
  // Output sample k takes input sample (k * speedStep) >> 22 while that is
  // below n, so the count is known before the copy: ceil(n * 2^22 / step),
  // at least one. 64 bits so that long blocks cannot wrap the position.
  const uint64_t span = uint64_t{n} << 22;
  const auto count = static_cast<int32_t>((span + speedStep - 1) / speedStep);
  const int32_t old = RingIndex(written_);
  reserved_.store(written_ + uint64_t(count), std::memory_order_relaxed);

  // Resampled and echoed in a private scratch piece, then stored: the echo
  // carries its line position from call to call, so pieces in order equal
  // one stretch, and readers never see a sample before its echo.
  uint64_t acc = 0;
  int32_t done = 0;
  while (done < count) {
    const int32_t run = std::min(count - done, kScratchSamples);
    for (int32_t k = 0; k < run; ++k) {
      scratch_[size_t(k)] = input[acc >> 22];
      acc += speedStep;
    }
    if (echo.on) {
      effect.Process(scratch_.data(), run, int32_t(kSampleRate), echo.delay, echo.decay, 32768);
    }
    StoreRun(scratch_.data(), run, RingIndex(uint64_t(old) + uint64_t(done)));
    done += run;
  }
  written_ += uint64_t(count);
  Publish();

  const uint64_t pending = uint64_t{pendingSamples_} + uint64_t(count);
  if (pending > uint64_t(kRingSamples)) {
    // The writer lapped the reader: what it has not played is overwritten,
    // so it goes on from the oldest sample still in the ring.
    pendingSamples_ = kRingSamples;
    readPos_ = RingIndex(written_);
  } else {
    pendingSamples_ = uint32_t(pending);
  }
  return count;
}

void TakeRing::MarkTakeEnd() {
  if (written_ == takeStart_) {
    return;
  }
  if (takeEndsCount_ == kTakeEnds) {
    // The oldest end is dropped: its take is played together with the next.
    takeEndsHead_ = (takeEndsHead_ + 1U) % kTakeEnds;
    --takeEndsCount_;
  }
  takeEnds_[(takeEndsHead_ + takeEndsCount_) % kTakeEnds] = written_;
  ++takeEndsCount_;
}

bool TakeRing::StartReversedTake() {
  const uint64_t oldest = OldestUnplayed();
  while (takeEndsCount_ != 0 && takeEnds_[takeEndsHead_] <= oldest) {
    takeEndsHead_ = (takeEndsHead_ + 1U) % kTakeEnds;
    --takeEndsCount_;
  }
  if (takeEndsCount_ == 0) {
    return false;
  }
  reverseEnd_ = takeEnds_[takeEndsHead_];
  takeEndsHead_ = (takeEndsHead_ + 1U) % kTakeEnds;
  --takeEndsCount_;
  reverseAt_ = reverseEnd_;
  reverseStop_ = oldest;
  reversing_ = true;
  return true;
}

bool TakeRing::ReadBlockReversed(int16_t* out, uint32_t n) {
  uint32_t done = 0;
  while (ring_ && done < n && (reversing_ || StartReversedTake())) {
    // What the writer has lapped meanwhile is gone.
    if (written_ > uint64_t(kRingSamples)) {
      reverseStop_ = std::max(reverseStop_, written_ - uint64_t(kRingSamples));
    }
    while (done < n && reverseAt_ > reverseStop_) {
      --reverseAt_;
      out[done++] = ring_[size_t(RingIndex(reverseAt_))];
    }
    if (reverseAt_ <= reverseStop_) {
      reversing_ = false;
      pendingSamples_ = uint32_t(std::min(written_ - reverseEnd_, uint64_t(kRingSamples)));
      readPos_ = RingIndex(OldestUnplayed());
    }
  }
  if (done < n) {
    std::memset(out + done, 0, (n - done) * sizeof(int16_t));
  }
  return reversing_ || StartReversedTake();
}

bool TakeRing::ReadBlock(int16_t* out, uint32_t n) {
  // A take half played backwards when the direction changed is played
  // forwards from its first unplayed sample.
  reversing_ = false;
  uint32_t take = std::min(n, pendingSamples_);
  if (!ring_) {
    take = 0;
  }
  // Only the capture thread writes the ring, and this is it: plain reads.
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

TakeSnapshot TakeRing::LastTake() const {
  uint64_t start = 0;
  uint64_t end = 0;
  for (;;) {
    const uint32_t s = seq_.load();
    if ((s & 1U) == 0) {
      start = takeStartPub_.load();
      end = writtenPub_.load();
      if (seq_.load() == s) {
        break;
      }
    }
    // The writer is between its few stores; it never waits for us.
    std::this_thread::yield();
  }
  TakeSnapshot take;
  const uint64_t length = std::min(end - start, uint64_t(kRingSamples));
  take.start = end - length;
  take.count = uint32_t(length);
  return take;
}

bool TakeRing::CopyTake(const TakeSnapshot& take, int16_t* out) const {
  if (!ring_ || out == nullptr || take.count == 0 || take.count > uint32_t(kRingSamples)) {
    return false;
  }
  // The writer overwrites position p when it writes p + kRingSamples.
  const uint64_t limit = take.start + uint64_t(kRingSamples);
  if (reserved_.load(std::memory_order_relaxed) > limit) {
    return false;
  }
  CopyOut(RingIndex(take.start), int32_t(take.count), out);
  // Any sample stored by a block that reached into the take was seen
  // together with that block's reservation (release/acquire per sample).
  return reserved_.load(std::memory_order_relaxed) <= limit;
}

int32_t TakeRing::WritePos() const { return RingIndex(writtenPub_.load()); }

void TakeRing::CopyOut(int32_t start, int32_t count, int16_t* out) const {
  if (!ring_ || count <= 0) {
    return;
  }
  int32_t pos = ((start % kRingSamples) + kRingSamples) % kRingSamples;
  int32_t left = std::min(count, kRingSamples);
  while (left > 0) {
    const int32_t run = std::min(left, kRingSamples - pos);
    LoadRun(ring_.get(), pos, run, out);
    out += run;
    left -= run;
    pos = 0;
  }
}

}  // namespace mimicore
