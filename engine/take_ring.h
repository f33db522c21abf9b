// The take ring: what the user said, already resampled by the speed and
// with the echo in it, plus the reader that feeds the playback device.
//
// The reader plays every written sample exactly once, in order: it keeps a
// count of samples written but not yet played, so a playback always starts
// at the first unplayed sample and stops exactly at the writer, with the
// ring's end crossed seamlessly.
//
// The capture thread is the only writer. Any other thread may take a
// snapshot of the last take and copy it out while recording goes on: the
// samples are stored and loaded as atomics, the take's bounds are published
// together, and a copy the writer may have lapped is reported as such
// instead of handing out a mix of two takes.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/echo_effect.h"

namespace mimicore {

inline constexpr int32_t kRingSamples = 3604480;  // 4096 capture buffers

// The capture thread must never wait on a hidden lock, on 32-bit builds too.
static_assert(std::atomic<uint64_t>::is_always_lock_free);
static_assert(std::atomic_ref<int16_t>::is_always_lock_free);

// The last take as one consistent picture. Positions count every sample
// written since start-up, so they never wrap in practice (64 bits).
struct TakeSnapshot {
  uint64_t start = 0;  // position of the take's oldest sample still in the ring
  uint32_t count = 0;  // samples, at most a whole ring; 0: nothing recorded yet
};

class TakeRing {
 public:
  // Allocates the zero-filled ring once; false when memory is short.
  bool Allocate();
  void Free();
  [[nodiscard]] bool Allocated() const { return ring_ != nullptr; }

  // Capture thread. The new take becomes the last take with its first
  // written sample; until then a snapshot still shows the previous one.
  void MarkTakeStart() { takeStart_ = written_; }
  // Capture thread, when a take's recording ends: from here on it may be
  // played backwards as a whole.
  void MarkTakeEnd();

  struct EchoParams {
    bool on = false;
    int32_t delay = 0;
    float decay = 0.0F;
  };
  // Capture thread. Appends input sample trunc(k * speedStep / 2^22) for
  // k = 0, 1, ... while that index is below n (at least one sample), with
  // the echo applied to the appended stretch in order. Returns the number of
  // samples written. |speedStep| must be at least 1.
  int32_t WriteBlock(const int16_t* input, uint32_t n, uint32_t speedStep, const EchoParams& echo,
                     EchoEffect& effect);

  // Capture thread. Copies the next up to |n| unplayed samples into |out|
  // and pads the rest with silence. Returns true while samples remain
  // unplayed afterwards.
  bool ReadBlock(int16_t* out, uint32_t n);
  // Capture thread. The same, but each take whose recording has ended is
  // played from its last unplayed sample back to its first; a take still
  // being recorded waits. Returns true while a finished take remains to be
  // played.
  bool ReadBlockReversed(int16_t* out, uint32_t n);

  // Any thread. A take that outgrew the ring has lost its head: what is left
  // is the whole ring, oldest sample first.
  [[nodiscard]] TakeSnapshot LastTake() const;
  // Any thread. Copies |take| in spoken order into |out| (room for
  // take.count samples). False when there is nothing to copy or when the
  // writer has reached into the copied stretch meanwhile: |out| may then
  // hold parts of a newer take and must not be used.
  bool CopyTake(const TakeSnapshot& take, int16_t* out) const;

  // Ring index of the next sample to write (any thread).
  [[nodiscard]] int32_t WritePos() const;
  [[nodiscard]] int32_t ReadPos() const { return readPos_; }
  // Bytes written but not yet played; zero means nothing waits to be played.
  [[nodiscard]] uint32_t PendingBytes() const { return pendingSamples_ * 2U; }

  // Capture thread, or with the writer stopped: copies |count| samples
  // starting at ring index |start|, wrapping.
  void CopyOut(int32_t start, int32_t count, int16_t* out) const;

 private:
  static constexpr int32_t kScratchSamples = 1024;
  // Ends of finished takes not yet played backwards. More finished takes
  // than this waiting behind one playback are played as one.
  static constexpr uint32_t kTakeEnds = 64;

  [[nodiscard]] uint64_t OldestUnplayed() const { return written_ - pendingSamples_; }
  bool StartReversedTake();

  void StoreRun(const int16_t* from, int32_t count, int32_t at);
  void Publish();

  std::unique_ptr<int16_t[]> ring_;

  // Capture thread only.
  uint64_t written_ = 0;         // samples written since start-up
  uint64_t takeStart_ = 0;       // value of written_ when the current take began
  int32_t readPos_ = 0;          // ring index of the next sample to play
  uint32_t pendingSamples_ = 0;  // written, not yet played; at most a ring
  std::array<int16_t, kScratchSamples> scratch_{};
  std::array<uint64_t, kTakeEnds> takeEnds_{};
  uint32_t takeEndsHead_ = 0;
  uint32_t takeEndsCount_ = 0;
  // The take being played backwards: positions [reverseStop_, reverseAt_)
  // remain, reverseEnd_ is where the forward reader resumes after it.
  bool reversing_ = false;
  uint64_t reverseAt_ = 0;
  uint64_t reverseStop_ = 0;
  uint64_t reverseEnd_ = 0;

  // Published by the capture thread. The take's bounds under a sequence
  // counter (odd while they change); |reserved_| is raised to the end of a
  // block before any of its samples is stored, so a reader can tell after
  // a copy how far the writer may have reached.
  std::atomic<uint32_t> seq_{0};
  std::atomic<uint64_t> takeStartPub_{0};
  std::atomic<uint64_t> writtenPub_{0};
  std::atomic<uint64_t> reserved_{0};
};

}  // namespace mimicore
