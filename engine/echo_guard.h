// Tells the user's voice from the engine's own playback coming back into the
// microphone (a laptop's speakers heard by its microphone), from levels
// alone: the engine knows what it played, so it learns how much of that
// returns and how late, and predicts the echo of every block.
//
// Levels are sums of absolute sample values. What was played is kept in
// quarter-block segments, so that a delay is known to a quarter of a block.
// For each candidate delay the guard keeps a coupling gain, learned as the
// smallest ratio of heard to played level seen: an upper bound, since the
// echo is at most what was heard. A voice only ever raises that ratio, so
// it is never learned as coupling, and a delay at which nothing comes back
// falls to nearly nothing on the first quiet block. A delay not learned yet
// counts as 0 dB coupling. Capture thread only; fixed arrays, no allocation.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace mimicore {

// The latest samples of a stream, by position since start-up.
class SampleHistory {
 public:
  static constexpr uint32_t kSamples = 65536;
  // Null appends silence.
  void Append(const int16_t* samples, uint32_t n);
  [[nodiscard]] uint64_t End() const { return end_; }
  [[nodiscard]] uint64_t Begin() const { return end_ - std::min<uint64_t>(end_, kSamples); }
  [[nodiscard]] int16_t At(uint64_t position) const { return ring_[size_t(position % kSamples)]; }
  void Copy(uint64_t from, uint32_t n, int16_t* out) const;

 private:
  std::array<int16_t, kSamples> ring_{};
  uint64_t end_ = 0;
};

enum class EchoVerdict {
  kVoice,   // louder than any echo the coupling can explain
  kEcho,    // explained by the echo at a delay proven to carry one
  kUnsure,  // perhaps echo: the coupling is only known not to be larger
};

class EchoGuard {
 public:
  static constexpr int32_t kSegmentsPerBlock = 4;
  // Candidate delays beyond one block, in segments: up to about 0.75 s.
  // Under Wine the speaker's output runs dry now and then, most of all as a
  // playback starts, and the echo comes back up to half a second late
  // instead of 0.1 s; the oldest held block still finds what was played that
  // far before it.
  static constexpr int32_t kLags = 150;
  // A block counts as voice only above the predicted echo times this.
  static constexpr float kMargin = 1.3F;

  // What went to the speaker during one block (silence: null or zeros).
  // The heard and the played stream advance by the same blocks, so a
  // position means the same instant in both.
  void AddPlayed(const int16_t* samples, uint32_t n);
  // Blocks played so far: the reference a heard block is judged against.
  [[nodiscard]] uint64_t Stamp() const { return played_; }
  // Whether anything audible was played within reach of a block heard at
  // |stamp|: if not, every block is what it seems.
  [[nodiscard]] bool InReach(uint64_t stamp) const;

  // |heard| is the block's level (sum of absolute values over |n| samples).
  [[nodiscard]] EchoVerdict Judge(uint32_t heard, uint64_t stamp) const;
  // A block judged echo or too quiet to be voice teaches the coupling; a
  // block counted as voice only lets a learned gain creep up, so that a
  // louder speaker volume is followed.
  void Learn(uint32_t heard, uint32_t n, uint64_t stamp, bool echoOrQuiet);

  // Blocks on hold, not judged yet. They are explained as echo when their
  // levels follow what was played closely at some delay, the loudest of
  // them is a copy of what was played that much earlier (correlated sample
  // by sample, which no voice is), and every loud one is within the margin
  // of the echo predicted at that delay and the delays learned before; they
  // then teach the coupling. |at| is where the block lies in |heard|.
  static constexpr uint32_t kMaxHeld = 32;
  void ClearHeld() { heldBlocks_ = 0; }
  // False when no more fit.
  bool AddHeld(uint32_t heard, uint32_t n, uint64_t stamp, uint64_t at, bool loud);
  // The delay (a lag) that explains the held blocks, or -1.
  [[nodiscard]] int32_t HeldExplained(const SampleHistory& heard) const;
  // Learns from the held blocks and takes the delays around |lag| as
  // proven to carry the echo.
  void LearnFromHeld(int32_t lag);

  // The lag at which the |n| heard samples at |at| are a copy of what was
  // played, searched over every candidate delay, or -1. A speaker whose
  // output runs dry for a moment plays the rest that much later, so the echo
  // moves to a delay whose coupling was learned low, and looks like a voice.
  [[nodiscard]] int32_t CopiedAt(const SampleHistory& heard, uint64_t at, uint32_t n);
  // Takes the delays around |lag| as proven, coupled at least as strongly as
  // the block heard at |stamp| shows.
  void LearnCopy(int32_t lag, uint32_t heard, uint32_t n, uint64_t stamp);
  // Whether every loud held block is a copy of what was played, each at a
  // delay of its own; the delays are then learned as by LearnCopy.
  bool HeldAllCopies(const SampleHistory& heard);

 private:
  static constexpr int32_t kHistory = 512;  // segments, a power of two
  static constexpr float kMaxGain = 2.0F;
  static constexpr float kCreep = 1.01F;
  static constexpr uint32_t kHeldNeeded = 4;
  static constexpr float kHeldSpread = 1.5F;

  [[nodiscard]] uint32_t Segment(int64_t index) const;
  // Calls fn(lag, low, high) with the levels of the two windows around
  // each candidate delay for a block heard at |stamp|.
  template <typename Fn>
  void ForEachLag(uint64_t stamp, Fn&& fn) const;
  // The two windows' levels differ by at most a quarter: the true window
  // lies between them, so the ratio is known within that.
  static bool Steady(uint32_t low, uint32_t high, uint32_t n);
  static bool Audible(uint32_t low, uint32_t n);

  std::array<uint32_t, kHistory> segments_{};
  SampleHistory playedSamples_;
  uint64_t played_ = 0;
  uint64_t lastAudible_ = 0;  // stamp after the last audible block; 0: none
  std::array<float, kLags> gain_{};
  std::array<bool, kLags> learned_{};
  std::array<bool, kLags> proven_{};
  // Whether the |n| heard samples at |at| correlate with what was played
  // between |fromDelay| and |toDelay| samples earlier.
  [[nodiscard]] bool Copies(const SampleHistory& heard, uint64_t at, uint32_t n, uint32_t fromDelay,
                            uint32_t toDelay) const;
  [[nodiscard]] bool CopiesAt(const SampleHistory& heard, uint64_t at, uint32_t n, uint32_t delay,
                              int64_t heardEnergy) const;
  // CopiedAt's search runs on sums of this many samples; its scratch holds
  // the played ones for blocks of up to about 2500 samples.
  static constexpr uint32_t kCoarse = 8;
  static constexpr uint32_t kMaxCoarseParts = 320;
  std::array<double, 8192> coarse_{};

  struct Held {
    uint32_t heard;
    uint32_t n;
    uint64_t stamp;
    uint64_t at;
    bool loud;
  };
  std::array<Held, kMaxHeld> held_{};
  uint32_t heldBlocks_ = 0;
};

}  // namespace mimicore
