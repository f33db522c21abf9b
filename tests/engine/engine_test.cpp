#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <numbers>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "core/latest_value.h"
#include "engine/biquad_filter.h"
#include "engine/calibration.h"
#include "engine/fixed_fft.h"
#include "engine_harness.h"

namespace mimicore {

class StatusDisplayTestAccess {
 public:
  static void Hold(StatusDisplay& s) { s.Lock(); }
  static void Release(StatusDisplay& s) { s.Unlock(); }
};

namespace {

using testing::Rig;

TEST(VoiceDecision, ThresholdIsInclusiveAndSilenceTimeEndsTheTake) {
  Rig rig;
  rig.Blocks(1638);  // level 39 on the default scale
  EXPECT_FALSE(rig.engine.Recording());
  rig.Blocks(1639);  // level 40: the threshold
  EXPECT_TRUE(rig.engine.Recording());
  rig.Blocks(1638, 29);
  EXPECT_TRUE(rig.engine.Recording());
  EXPECT_TRUE(rig.samples.empty());
  // 600 ms after the last voice block: ends unrecorded and sends the first buffer.
  rig.Blocks(1638);
  EXPECT_FALSE(rig.engine.Recording());
  EXPECT_TRUE(rig.engine.Playing());
  EXPECT_EQ(rig.samples.size(), 880U);
  EXPECT_EQ(rig.engine.Ring().LastTake().count, 30U * 880U);
  EXPECT_STREQ(rig.status.Read().value, "REC") << "PLAY waits while REC is shown";

  Rig late;
  late.settings.SilenceTime = 2500;  // REC has gone when the playback starts
  late.status.ShowStatus("SPEED", "%1.2f x", 1.5);
  late.Blocks(1639);
  EXPECT_STREQ(late.status.Read().value, "1.50 x") << "REC never replaces a visible text";
  while (!late.engine.Playing()) {
    late.Blocks(0);
  }
  EXPECT_STREQ(late.status.Read().value, "PLAY");
}

// Shut-down drains the capture queue through the engine: nothing may start again.
TEST(VoiceDecision, NothingHappensAfterStopTakes) {
  const struct {
    int loud, quiet;
    bool recording, playing;
  } cases[] = {{10, 0, true, false}, {10, 40, false, true}, {10, 40, true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.recording << c.playing);
    Rig rig;
    rig.Blocks(8000, c.loud);
    rig.Blocks(0, c.quiet);
    if (c.recording && c.playing) {
      rig.Blocks(20000);  // plainly louder than the playback could come back
    }
    ASSERT_EQ(std::pair(rig.engine.Recording(), rig.engine.Playing()),
              std::pair(c.recording, c.playing));
    rig.engine.StopTakes();
    const auto before = std::tuple(rig.samples.size(), rig.frames, rig.engine.Ring().WritePos());
    for (int i = 0; i < 64; ++i) {
      rig.Blocks(i < 32 ? 8000 : 0);
      EXPECT_FALSE(rig.engine.Recording() || rig.engine.Playing());
    }
    EXPECT_EQ(std::tuple(rig.samples.size(), rig.frames, rig.engine.Ring().WritePos()), before);
  }
}

// Whatever the speeds and overlaps, every recorded sample plays once, in order; reversed,
// each take plays backwards once it is whole, one begun meanwhile after it.
TEST(Playback, PlaysEveryRecordedSampleExactlyOnceInOrder) {
  for (const int32_t reverse : {0, 1}) {
    Rig rig;
    rig.settings.Reverse = reverse;
    std::mt19937 rng(7);
    std::vector<int16_t> want;
    const float speeds[] = {1.0F, 0.5F, 2.2F, 1.5F, 0.73F};
    for (int take = 0; take < 12; ++take) {
      rig.settings.Speed = speeds[take % 5];
      const int32_t before = rig.engine.Ring().WritePos();
      for (int b = 1 + int(rng() % 6); b > 0; --b) {
        std::vector<int16_t> v(880);
        std::generate(v.begin(), v.end(), [&] { return int16_t(3000 + int(rng() % 20000)); });
        rig.Block(v);
      }
      while (rig.engine.Recording()) {
        rig.Blocks(0);
      }
      std::vector<int16_t> stored(size_t(rig.engine.Ring().WritePos() - before));
      rig.engine.Ring().CopyOut(before, int32_t(stored.size()), stored.data());
      if (reverse != 0) {
        std::reverse(stored.begin(), stored.end());
      }
      std::copy_if(stored.begin(), stored.end(), std::back_inserter(want),
                   [](int16_t s) { return s != 0; });
      rig.Blocks(0, take % 3 != 2 ? 100 : 0);  // else the next take starts while this one plays
    }
    rig.Blocks(0, 200);
    std::erase(rig.samples, int16_t{0});  // silence pads where a playback reached the writer
    EXPECT_EQ(rig.samples, want) << "reverse " << reverse;
  }
}

// A speaker whose output runs dry for a moment plays the rest that much later, so the echo
// moves to delays the guard learned nothing or little at: under Wine it ran dry eight times in
// a playback's first half second (255 ms in all) and now and then later. One phrase must stay
// one take, and a voice 6 dB over the echo 1 s into the playback a take of its own.
TEST(EchoGuard, AnEchoThatComesBackLaterIsNoVoice) {
  struct Dry {
    uint32_t after;  // samples played
    uint32_t samples;
  };
  const std::vector<Dry> wine = {{0, 229},     {1323, 880},   {3087, 6160},
                                 {10143, 220}, {11466, 220},  {12789, 880},
                                 {18522, 896}, {19845, 1760}, {144648, 1107}};
  std::vector<Dry> creeping;  // 5 to 25 ms every 0.6 s
  for (uint32_t k = 0; k < 8; ++k) {
    creeping.push_back({13230 + k * 26460, 220 * (1 + k % 5)});
  }
  const struct {
    double gain;
    const std::vector<Dry>& dry;
    bool answer;
  } cases[] = {{1.0, wine, false},     {0.5, wine, false}, {1.0, creeping, false},
               {0.7, creeping, false}, {1.0, wine, true},  {0.5, creeping, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "gain " << c.gain << (c.answer ? ", answered" : ""));
    // Speech-like: noise swelling and dipping every 230 ms, 2 s of it after 1 s.
    std::vector<int16_t> input(44100 * 25, 0);
    std::mt19937 rng(3);
    for (size_t i = 0; i < 88200; ++i) {
      const double swell = 0.55 + 0.45 * std::sin(2.0 * std::numbers::pi * double(i) / 10143.0);
      input[44100 + i] = int16_t(12000.0 * swell * (double(rng() % 20001) / 10000.0 - 1.0));
    }
    for (size_t i = 0; c.answer && i < 66150; ++i) {  // playback starts 2.6 s after the phrase
      input[202860 + i] = int16_t(2.0 * c.gain * 12000.0 * (double(rng() % 20001) / 10000.0 - 1.0));
    }
    Rig rig;
    std::vector<int16_t> speaker;  // what came out, 0.1 s on its way back
    size_t fed = 0;
    size_t next = 0;
    size_t played = 0;
    for (size_t at = 0; at + 880 <= input.size(); at += 880) {
      std::vector<int16_t> block(880);
      for (size_t i = 0; i < 880; ++i) {
        const size_t back = at + i >= 4410 && at + i - 4410 < speaker.size() ? at + i - 4410 : 0;
        const double heard = input[at + i] + c.gain * (back != 0 ? speaker[back] : 0);
        block[i] = int16_t(std::clamp(heard, -32768.0, 32767.0));
      }
      rig.Block(block);
      // The output plays out what it was given, silence where it ran dry.
      for (; fed < rig.samples.size(); ++fed, ++played) {
        if (next < c.dry.size() && played == c.dry[next].after) {
          speaker.insert(speaker.end(), c.dry[next++].samples, 0);
        }
        speaker.push_back(rig.samples[fed]);
      }
      speaker.resize(std::max(speaker.size(), at + 880), 0);
    }
    EXPECT_EQ(rig.engine.TakesBegun(), c.answer ? 2U : 1U);
    EXPECT_FALSE(rig.engine.Recording() || rig.engine.Playing());
  }
}

TEST(TakeRing, ResamplesEachBlockToTheSpeedsLength) {
  for (auto [speed, written] :
       {std::pair{1.0F, 880}, {0.5F, 1760}, {1.5F, 587}, {2.2F, 400}, {2.0F, 440}}) {
    TakeRing ring;
    ASSERT_TRUE(ring.Allocate());
    EchoEffect echo;
    std::vector<int16_t> in(880);
    std::iota(in.begin(), in.end(), int16_t{0});
    const auto step = uint32_t(double(speed) * 4194304.0);
    ASSERT_EQ(ring.WriteBlock(in.data(), 880, step, {}, echo), written) << speed;
    std::vector<int16_t> out(static_cast<size_t>(written));
    ring.CopyOut(0, written, out.data());
    for (int32_t k = 0; k < written; ++k) {
      ASSERT_EQ(out[size_t(k)], int16_t((uint64_t(k) * step) >> 22)) << speed << " k " << k;
    }
    // Backwards: the take's end first, silence after its start, nothing past the block.
    ring.MarkTakeEnd();
    std::vector<int16_t> back(1760, 7);
    ring.ReadBlockReversed(back.data(), 880);
    for (int32_t k = 0; k < 1760; ++k) {
      ASSERT_EQ(back[size_t(k)], k < std::min(written, 880) ? out[size_t(written - 1 - k)]
                                 : k < 880                  ? 0
                                                            : 7)
          << speed << " k " << k;
    }
  }
}

// More takes wait to be played backwards than the ring keeps ends for (64): the oldest two then
// play as one; a take that recorded nothing ends nothing.
TEST(TakeRing, ReversedTakesBeyondTheKeptEndsPlayTheOldestTogether) {
  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  EchoEffect echo;
  std::vector<int16_t> want = {2, 1};
  for (int16_t t = 1; t <= 65; ++t) {  // takes of one sample each
    ring.MarkTakeStart();
    ring.WriteBlock(&t, 1, 4194304, {}, echo);
    ring.MarkTakeEnd();
    ring.MarkTakeStart();
    ring.MarkTakeEnd();
    want.push_back(t > 2 ? t : 0);
  }
  std::erase(want, 0);
  int16_t last = 0;  // the last take, one sample, copies whole
  EXPECT_TRUE(ring.CopyTake(ring.LastTake(), &last) && last == 65);
  std::vector<int16_t> played(66, 7);
  EXPECT_FALSE(ring.ReadBlockReversed(played.data(), 66));
  want.push_back(0);
  EXPECT_EQ(played, want);
}

// Half a block off the ring's bounds, writes, playback and copies all cross its end.
TEST(TakeRing, WriterReaderAndCopyCrossTheRingsEnd) {
  TakeRing ring;
  ASSERT_TRUE(ring.Allocate() && ring.Allocate()) << "a second call keeps the ring";
  EchoEffect echo;
  std::vector<int16_t> block(880);
  std::vector<int16_t> played(880, 7);
  ring.WriteBlock(block.data(), 440, 4194304, {}, echo);
  ASSERT_FALSE(ring.ReadBlock(played.data(), 880));
  ASSERT_EQ(played, block) << "half a block, then silence";
  for (int b = 0; b < 4100; ++b) {
    std::iota(block.begin(), block.end(), int16_t(b * 7));
    if (b == 4095) {
      ring.MarkTakeStart();
    }
    ring.WriteBlock(block.data(), 880, 4194304, {}, echo);
    ASSERT_FALSE(ring.ReadBlock(played.data(), 880));
    ASSERT_EQ(played, block) << "block " << b;
    if (b == 4095) {
      std::vector<int16_t> copy(880);
      ASSERT_TRUE(ring.CopyTake(ring.LastTake(), copy.data()));
      EXPECT_EQ(copy, block);
    }
  }
  for (int i = 0; i < 4096 + 10; ++i) {
    ring.WriteBlock(block.data(), 880, 4194304, {}, echo);
  }
  EXPECT_EQ(ring.PendingBytes(), uint32_t(kRingSamples) * 2U);
  EXPECT_EQ(ring.ReadPos(), ring.WritePos());
  // A take longer than the ring: its last ring's length, just not overwritten, copies whole.
  std::vector<int16_t> whole(static_cast<size_t>(kRingSamples) + 1);
  ASSERT_TRUE(ring.CopyTake(ring.LastTake(), whole.data()));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), whole.end() - 881));
  // Nothing, more than the ring, nowhere to copy to or no ring: refused.
  const TakeSnapshot longer{ring.LastTake().start - 1, uint32_t(kRingSamples) + 1};
  EXPECT_FALSE(ring.CopyTake({}, whole.data()) || ring.CopyTake(longer, whole.data()) ||
               ring.CopyTake(ring.LastTake(), nullptr) ||
               TakeRing().CopyTake(ring.LastTake(), whole.data()));
}

TEST(BandPass, CoefficientsFollowTheCookbookFormulasAndBadDesignsAreSilent) {
  for (auto [hz, octaves] : {std::pair{121.0, 0.4}, {1000.0, 0.4}, {5120.0, 0.4}, {3000.0, 2.0}}) {
    const double w = 2.0 * std::numbers::pi * hz / 44100.0;
    const double alpha = std::sin(w) * std::sinh(std::log(2.0) / 2.0 * octaves * w / std::sin(w));
    const double a0 = 1.0 + alpha;
    BiquadFilter f(FilterType::BandPass, 1.0F, float(hz), 44100.0F, float(octaves));
    for (auto [got, want] : {std::pair{f.B0(), alpha / a0},
                             {f.B1(), 0.0},
                             {f.B2(), -alpha / a0},
                             {f.A1(), -2.0 * std::cos(w) / a0},
                             {f.A2(), (1.0 - alpha) / a0}}) {
      EXPECT_NEAR(got, want, 1e-5) << hz;
    }
    f.Process(30000);
    f.Design(FilterType::BandPass, 1.0F, float(hz), 44100.0F, float(octaves));
    EXPECT_EQ(f.Process(10000), int32_t(double(f.B0()) * 10000.0)) << "a redesign starts at rest";
  }
  for (float hz : {0.0F, -5.0F, 22050.0F, 1e9F, std::nanf("")}) {
    BiquadFilter f(FilterType::BandPass, 1.0F, hz, 44100.0F, 0.4F);
    EXPECT_EQ(f.Process(12345), 0) << hz;
  }
}

// The spectrum bars stand on this: the forward transform is the DFT divided by
// n within a few steps; the inverse halves only on passes that would overflow.
TEST(Fft, ForwardIsTheScaledDftAndInverseHalvesOnlyWhenItMust) {
  std::mt19937 rng(3);
  for (int32_t m : {0, 1, 4, 9, 10}) {
    const int32_t n = 1 << m;
    std::vector<int16_t> re(static_cast<size_t>(n)), im(re);
    for (int32_t i = 0; i < n; ++i) {
      re[size_t(i)] = int16_t(int32_t(rng() % 16001) - 8000);
      im[size_t(i)] = int16_t(int32_t(rng() % 16001) - 8000);
    }
    const auto x = std::pair{re, im};
    ASSERT_EQ(FixedFft(re.data(), im.data(), m, 0), 0);
    double worst = 0;
    for (int32_t k = 0; k < n; ++k) {
      double wr = 0, wi = 0;
      for (int32_t i = 0; i < n; ++i) {
        const double a = -2.0 * std::numbers::pi * double(k) * double(i) / double(n);
        wr += x.first[size_t(i)] * std::cos(a) - x.second[size_t(i)] * std::sin(a);
        wi += x.first[size_t(i)] * std::sin(a) + x.second[size_t(i)] * std::cos(a);
      }
      worst = std::max({worst, std::abs(wr / n - re[size_t(k)]), std::abs(wi / n - im[size_t(k)])});
    }
    EXPECT_LE(worst, 2 * m) << n << " points";  // each pass truncates once
  }
  std::vector<int16_t> re(64), im(64);
  re[5] = 100;  // one bin: a rotating phasor of 100, no pass needs halving
  ASSERT_EQ(FixedFft(re.data(), im.data(), 6, 1), 0);
  EXPECT_NEAR(re[8], 100 * std::cos(2 * std::numbers::pi * 40 / 64), 2);
  EXPECT_NEAR(im[8], 100 * std::sin(2 * std::numbers::pi * 40 / 64), 2);
  for (const auto& [peak, halvings] : {std::pair{16383, 0}, {16384, 1}, {-32768, 2}}) {
    re.assign(64, 0);
    im.assign(64, 0);
    re[0] = int16_t(peak);  // beyond 16383 a butterfly's sum could overflow
    EXPECT_EQ(FixedFft(re.data(), im.data(), 6, 1), halvings) << peak;
  }
  EXPECT_EQ(FixedFft(re.data(), im.data(), 11, 0), -1);
}

// An impulse comes back after the lead and twice the lead; hostile values stay harmless.
TEST(Echo, RepeatsAfterTheLeadAcrossPiecesAndTheLinesEnd) {
  const struct {
    int32_t delay, lead, piece;
    float decay;
    int16_t atLead, first, second;
  } cases[] = {{10, 882, 1 << 20, 1.0F, 30000, 32767, 32767},
               {10, 882, 97, 0.5F, 0, 15000, 7500},
               {300, 26460, 1000, 0.5F, 0, 15000, 7500},  // crosses the line's end
               {0, kEchoLineSamples, 4096, 0.5F, 0, 15000, 7500},
               {-(1 << 30), kEchoLineSamples, 4096, 0.5F, 0, 15000, 7500},
               {1 << 30, kEchoLineSamples - 1, 4096, 0.5F, 0, 15000, 7500},
               {10, 882, 4096, std::nanf(""), 0, 0, 0}};
  for (const auto& c : cases) {
    for (const int16_t sign : {1, -1}) {  // both ends saturate
      const auto m = [&](int16_t v) { return int16_t(sign > 0 ? v : v == 32767 ? -32768 : -v); };
      std::vector<int16_t> s(size_t(c.lead) * 2 + 1, 0);
      s[0] = m(30000);
      s[size_t(c.lead)] = m(c.atLead);
      EchoEffect echo;
      echo.Process(s.data(), -5, 44100, c.delay, c.decay, 32768);
      for (size_t at = 0; at < s.size(); at += size_t(c.piece)) {
        const auto n = std::min(s.size() - at, size_t(c.piece));
        echo.Process(s.data() + at, int32_t(n), 44100, c.delay, c.decay, 32768);
      }
      std::vector<int16_t> want(s.size(), 0);
      want[0] = m(30000);
      want[size_t(c.lead)] = m(c.first);
      want[size_t(c.lead) * 2] = m(c.second);
      EXPECT_EQ(s, want) << c.delay << " in pieces of " << c.piece << ", sign " << sign;
    }
  }
}

// The guard judges a block only while something audible it played may still come back,
// at most 39 blocks later, and only while its history reaches that far back.
TEST(EchoGuard, JudgesOnlyWithinReachOfAudiblePlayback) {
  EchoGuard guard;
  const std::vector<int16_t> loud(880, 1000);
  const auto reach = [&](std::initializer_list<uint64_t> stamps) {
    std::string r;
    for (const uint64_t s : stamps) {
      r += guard.InReach(s) ? '1' : '0';
    }
    return r;
  };
  EXPECT_EQ(reach({0, 1, 28}), "000") << "nothing played yet";
  for (int b = 0; b < 10; ++b) {
    guard.AddPlayed(b % 2 == 0 ? nullptr : std::vector<int16_t>(880).data(), 880);
  }
  EXPECT_EQ(reach({1, 10, 28}), "000") << "silence is not audible";
  for (int b = 0; b < 260; ++b) {
    guard.AddPlayed(b < 190 ? loud.data() : nullptr, 880);  // audible up to block 200
  }
  EXPECT_EQ(reach({182, 183, 200, 239, 240}), "01110");
  // What was heard: the latest samples, across the history's wrap.
  const auto heard = std::make_unique<SampleHistory>();
  for (int b = 1; b <= 80; ++b) {
    heard->Append(std::vector<int16_t>(880, int16_t(b)).data(), 880);
  }
  ASSERT_EQ(heard->End() - heard->Begin(), 65536U);
  for (uint64_t at = heard->Begin(); at < heard->End(); at += 97) {
    ASSERT_EQ(heard->At(at), int16_t(at / 880 + 1)) << at;
  }
  // A copy of the playback is found at its delay, from one block to the longest, in 5-ms lags.
  for (const auto& [delay, lag] :
       {std::pair{880U, 0}, {1099U, 0}, {1100U, 1}, {23067U, 100}, {34100U, 149}, {34101U, -1}}) {
    EchoGuard g;
    SampleHistory mic;
    std::mt19937 rng(delay);
    std::vector<int16_t> played(880 * 60);
    std::generate(played.begin(), played.end(), [&] { return int16_t(int(rng() % 16001) - 8000); });
    for (size_t b = 0; b < 60; ++b) {
      g.AddPlayed(played.data() + b * 880, 880);
      for (size_t i = b * 880; i < b * 880 + 880; ++i) {
        const int16_t v = i >= delay ? played[i - delay] : 0;
        mic.Append(&v, 1);
      }
    }
    EXPECT_EQ(g.CopiedAt(mic, 59 * 880, 880), lag) << delay;
  }
  // None is looked for where the playback's history cannot hold one: too early, or not yet heard.
  EXPECT_EQ(std::pair(guard.CopiedAt(*heard, 880, 880), guard.CopiedAt(*heard, heard->End(), 880)),
            std::pair(-1, -1));
  // Silence heard after a playback averaging below 32 teaches nothing: a loud block that the
  // unlearned 0 dB coupling could explain stays unsure.
  for (const auto& [level, verdict] :
       {std::pair{31, EchoVerdict::kUnsure}, {32, EchoVerdict::kVoice}}) {
    EchoGuard g;
    const std::vector<int16_t> faint(880, int16_t(level));
    for (int b = 0; b < 40; ++b) {
      g.AddPlayed(faint.data(), 880);
    }
    g.Learn(0, 880, g.Stamp(), true);
    EXPECT_EQ(g.Judge(uint32_t(level) * 880U, g.Stamp()), verdict) << level;
  }
  // Held blocks that copy the playback at half its level are its echo, also one 1.3 times as
  // loud (the margin); one 1.4 times as loud is a voice over it: the span is not explained.
  for (const float last : {0.5F, 0.65F, 0.7F}) {
    EchoGuard g;
    SampleHistory mic;
    std::vector<int16_t> played(880, 1000);
    for (size_t i = 1; i < played.size(); i += 2) {
      played[i] = -1000;
    }
    for (int b = 0; b < 44; ++b) {
      g.AddPlayed(played.data(), 880);
      const float gain = b < 43 ? 0.5F : last;
      std::vector<int16_t> h(880);
      std::transform(played.begin(), played.end(), h.begin(),
                     [&](int16_t v) { return int16_t(float(v) * gain); });
      mic.Append(h.data(), 880);
      if (b >= 40) {
        ASSERT_TRUE(g.AddHeld(uint32_t(gain * 880000.0F), 880, g.Stamp(), mic.End() - 880, true));
      }
    }
    EXPECT_EQ(g.HeldExplained(mic) >= 0, last < 0.69F) << last;
  }
  EchoGuard full;  // at most 32 blocks are held
  for (int b = 0; b < 32; ++b) {
    ASSERT_TRUE(full.AddHeld(1, 880, 1, 0, true));
  }
  EXPECT_FALSE(full.AddHeld(1, 880, 1, 0, true));
}

// The window thread acting at the worst instant: inside the engine's call to the controls.
TEST(Calibration, ResetOrPressDuringTheStartStep) {
  const std::pair<void (*)(VoiceEngine&), int32_t> cases[] = {
      {[](VoiceEngine& e) { e.ResetAutoMode(); }, kAutoIdle},
      {[](VoiceEngine& e) { e.PressAutoMode(); }, kAutoFinish}};
  for (const auto& [act, after] : cases) {
    Rig rig;
    bool acted = false;
    rig.controls.onShow = [&, act = act] {
      if (!std::exchange(acted, true)) {
        act(rig.engine);
      }
    };
    rig.engine.PressAutoMode();
    rig.Blocks(0);
    EXPECT_EQ(rig.engine.AutoModeState(), after);
  }
}

// However a calibration ends unfinished, what its start replaced comes back (a user's change
// stays).
TEST(Calibration, CancelPutsBackWhatTheStartReplaced) {
  const EngineSettingsValues user{5000, 30, 700, 1.5F, 1, 33, 0.5F, 2000, 1, 9000};
  const struct {
    int presses;  // before the cancel, after the start step ran
    bool userMoves, viaStop, viaReset;
  } cases[] = {{0, false, false, false}, {0, true, false, false}, {1, false, true, false},
               {3, false, false, false}, {0, true, false, true},  {1, false, false, true}};
  for (const auto& c : cases) {
    Rig rig;
    rig.settings.Store(user);
    rig.engine.PressAutoMode();
    rig.Blocks(0, 2);
    ASSERT_EQ(rig.settings.NThre.load(), 100);
    for (int i = 0; i < c.presses; ++i) {
      rig.engine.PressAutoMode();
    }
    EngineSettingsValues want = user;
    if (c.userMoves) {
      rig.settings.Speed = want.Speed = 0.7F;
      rig.settings.oscilloDivisor = want.oscilloDivisor = 512;
    }
    const int calls = rig.controls.calls;
    if (c.viaReset) {
      rig.engine.ResetToDefaults();
      want = DefaultEngineSettings;
      want.peakThreshold = user.peakThreshold;
      want.oscilloDivisor = c.userMoves ? 512 : user.oscilloDivisor;
    } else if (c.viaStop) {
      rig.engine.StopTakes();
    } else {
      rig.engine.ResetAutoMode();
    }
    EXPECT_EQ(rig.settings.Load(), want) << c.presses << c.userMoves << c.viaStop << c.viaReset;
    EXPECT_GT(rig.controls.calls, calls) << "the controls follow";
    rig.Blocks(0, 2);
    EXPECT_EQ(rig.settings.Load(), want) << "no later block undoes it";
    rig.engine.ResetAutoMode();
    EXPECT_EQ(rig.settings.Load(), want) << "a second cancel has nothing to put back";
  }
}

// The result waits while the window thread holds the status line; a new calibration drops it.
TEST(Calibration, MeasuresAndShowsItsResultOnceTheStatusLineIsFree) {
  const struct {
    bool heard, restart;
    const char *title, *value;
  } cases[] = {{true, false, "", "OK!"},
               {false, false, kCalibrationNothingHeard, " "},
               {true, true, kCalibrationPrompt, " "}};
  for (const auto& c : cases) {
    Rig rig;
    rig.settings.Store({1, 2, 3, 1.5F, 1, 33, 0.5F, 2000, 1, 99});
    rig.engine.PressAutoMode();
    rig.Blocks(0);
    EXPECT_EQ(rig.settings.Load(),
              (EngineSettingsValues{40000, 100, 2000, 1.0F, 0, 33, 0.5F, 0, 0, 32768}));
    // The threshold slider and the silence knob at their top ends, the band-pass below its own.
    EXPECT_EQ(rig.controls.last, (ControlPositions{100, 100, false, -2, 11, 50, 100, false}));
    rig.Blocks(0);
    rig.Blocks(c.heard ? 9000 : 0);
    EXPECT_FALSE(rig.engine.Recording()) << "measuring starts no take";
    rig.settings.Store({9, 9, 3, 1.5F, 1, 33, 0.5F, 2000, 1, 9});  // turned meanwhile: overruled
    rig.engine.PressAutoMode();
    bool held = false;
    rig.controls.onShow = [&] {
      if (!std::exchange(held, true)) {
        StatusDisplayTestAccess::Hold(rig.status);
      }
    };
    rig.Blocks(0);  // finishes while the status is being written
    ASSERT_TRUE(held);
    StatusDisplayTestAccess::Release(rig.status);
    ASSERT_EQ(rig.engine.AutoModeState(), kAutoIdle);
    EXPECT_EQ(rig.settings.Load(),
              (EngineSettingsValues{c.heard ? 9000 : 4096, c.heard ? 15 : 40, 600, 1.0F, 0, 33,
                                    0.5F, 0, 0, c.heard ? 13501 : 32768}));
    if (c.restart) {
      rig.engine.PressAutoMode();
      rig.Blocks(0);
      rig.engine.ResetAutoMode();
    }
    rig.Blocks(0);
    EXPECT_STREQ(rig.status.Read().title, c.title);
    EXPECT_STREQ(rig.status.Read().value, c.value);
  }
  EXPECT_TRUE(FinishCalibration(1, 0).measured && !FinishCalibration(7, 7).measured);
  // Each calibration measures afresh: the second hears nothing quieter than 3000.
  Rig rig;
  for (const auto& [quiet, peak, nthre, divisor] :
       {std::tuple{0, 9000, 15, 13501}, {3000, 6000, 65, 9001}}) {
    rig.engine.PressAutoMode();
    rig.Blocks(0);
    rig.Blocks(int16_t(quiet));
    rig.Blocks(9000);
    rig.engine.PressAutoMode();
    rig.Blocks(0);
    const EngineSettingsValues v = rig.settings.Load();
    EXPECT_EQ(std::tuple(v.peakThreshold, v.NThre, v.oscilloDivisor),
              std::tuple(peak, nthre, divisor));
  }
}

// The display is drawn every 34 ms of the engine's clock from the block just heard: its level
// on the meter, its trace (72.5 px for full scale), the bars of its first 512 samples (half the
// amplitude at its bin, 150 px for full scale) and nothing of earlier blocks.
TEST(Display, EachFrameShowsTheBlockJustHeard) {
  Rig rig;
  rig.settings.NThre = 1000;  // nothing is recorded or played here
  rig.Blocks(0);
  rig.clock.now += 13;  // 33 ms since the first block: no frame yet
  rig.Blocks(0);
  EXPECT_EQ(rig.frames, 0);
  rig.clock.now -= 19;
  for (const auto& [amplitude, segments] :
       {std::pair{1023, 4}, {1024, 5}, {4095, 19}, {4096, 20}, {32767, 20}, {0, 0}}) {
    rig.clock.now += 14;  // 34 ms since the last frame
    const int before = rig.frames;
    rig.Blocks(int16_t(amplitude));
    EXPECT_EQ(std::pair(rig.frames - before, rig.shown.meterSegments), std::pair(1, segments))
        << amplitude;
  }
  std::vector<int16_t> tone(880);  // exactly bin 10 of the 512-point transform
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] =
        int16_t(std::lround(8000.0 * std::sin(2.0 * std::numbers::pi * 10.0 * double(i) / 512.0)));
  }
  for (const bool silent : {false, true, false}) {
    rig.clock.now += 14;
    rig.Block(silent ? std::vector<int16_t>(880) : tone);
    const DisplayFrame& f = rig.shown;
    ASSERT_EQ(f.traceCount, 80U);
    const auto [low, high] = std::minmax_element(f.trace.begin(), f.trace.begin() + 80,
                                                 [](Point a, Point b) { return a.y < b.y; });
    EXPECT_EQ(std::pair(low->y, high->y), silent ? std::pair(173, 173) : std::pair(155, 190));
    for (int32_t i = 0; i < kSpectrumBars; ++i) {
      const int32_t h = f.barHeights[size_t(i)];
      EXPECT_TRUE(silent    ? h == 2
                  : i == 10 ? h == 2 + 8000 / 2 * 150 / 32768
                            : h < 6)
          << i << ": " << h << (silent ? " after the tone" : "");
    }
  }
  // A status's value sits 2 px lower under a title, and stays until 2000 ms are counted off it.
  for (const char* title : {"T", ""}) {
    rig.status.ShowStatus(title, "V");
    rig.clock.now += 14;
    rig.Blocks(0);
    EXPECT_EQ(std::pair(rig.shown.statusVisible, rig.shown.valueTop),
              std::pair(true, 84 + 2 * (*title != 0)));
  }
  StatusDisplay status;
  status.ShowStatus("T", "V");
  std::string seen;
  for (const int32_t ms : {2000, 1, 0}) {
    StatusSnapshot frame;
    status.TryTakeFrame(ms, frame);
    seen += frame.value;
  }
  EXPECT_EQ(seen, "VV");
}

// A frame that puts the same pixels on the screen as the last is not drawn again: only what is
// drawn counts (the trace up to its count, texts only while shown, never the time left).
TEST(Display, FramesDrawTheSameWhenEveryDrawnPartIsTheSame) {
  DisplayFrame a;
  a.traceCount = 3;
  const std::vector<std::pair<std::function<void(DisplayFrame&)>, bool>> changes = {
      {[](DisplayFrame&) {}, true},
      {[](DisplayFrame& f) { f.status.timeMs = 5; }, true},
      {[](DisplayFrame& f) { f.trace[3].y = 1; }, true},
      {[](DisplayFrame& f) { f.trace[2].y = 1; }, false},
      {[](DisplayFrame& f) { f.traceCount = 2; }, false},
      {[](DisplayFrame& f) { f.meterSegments = 1; }, false},
      {[](DisplayFrame& f) { f.barHeights[40] = 1; }, false},
      {[](DisplayFrame& f) { f.statusVisible = false; }, false},
      {[](DisplayFrame& f) { f.valueTop = 1; }, false},
      {[](DisplayFrame& f) { f.status.title[0] = 'T'; }, false},
      {[](DisplayFrame& f) { f.status.value[0] = 'V'; }, false}};
  for (size_t i = 0; i < changes.size(); ++i) {
    for (const bool shown : {true, false}) {  // hidden texts are not drawn: only their flag counts
      DisplayFrame b = a;
      a.statusVisible = b.statusVisible = shown;
      changes[i].first(b);
      EXPECT_EQ(DrawsTheSame(a, b) && DrawsTheSame(b, a), changes[i].second || (!shown && i >= 7))
          << i;
    }
  }
}

// Values from outside may hold anything; reset keeps the two levels the user tuned.
TEST(Settings, HostileValuesAreTamedAndResetKeepsTheTunedLevels) {
  const auto takeLength = [](float speed) {
    Rig rig;
    rig.settings.Speed = speed;
    rig.Blocks(5000);
    return rig.engine.Ring().WritePos();
  };
  EXPECT_EQ(takeLength(9.0F), takeLength(2.2F));
  EXPECT_EQ(takeLength(-3.0F), takeLength(0.5F));
  EXPECT_EQ(takeLength(std::nanf("")), 880);
  for (const auto& [bpf, records] : {std::pair{120, true}, {121, false}}) {
    Rig rig;  // the knob's lowest position is off; one step up filters this buzz away
    rig.settings.Bpf = bpf;
    rig.Blocks(8000);
    EXPECT_EQ(rig.engine.Recording(), records) << bpf;
  }
  const std::vector<int16_t> high(880, 32767);
  const std::vector<int16_t> low(880, -32768);
  std::array<Point, kMaxTracePoints> pts{};
  ASSERT_EQ(ComputeTrace(high.data(), 880, 1, pts), 80U) << "every eleventh sample";
  EXPECT_EQ(std::tuple(pts[0].x, pts[79].x, pts[0].y), std::tuple(62, 289, 281));
  ComputeTrace(low.data(), 880, 92, pts);
  EXPECT_EQ(pts[0].y, 68) << "the display's top";
  struct {
    std::array<int32_t, kSpectrumBars> h{};
    int32_t next = 7;  // where a bar past the last would land
  } bars;
  ComputeBars(low.data(), 0, 1, bars.h);
  EXPECT_EQ(std::pair(bars.h[40], bars.next), std::pair(281 - 68, 7));
  Rig rig;
  const std::string longText(1000, 'T');
  rig.status.ShowStatus(longText.c_str(), "%s", longText.c_str());
  const StatusSnapshot shown = rig.status.Read();
  EXPECT_EQ(std::pair(std::strlen(shown.title), std::strlen(shown.value)),
            std::pair(size_t{127}, size_t{127}));
  rig.settings.Store({4128, 7, 20, 2.0F, 1, 3, 0.1F, 500, 1, 16384});
  rig.engine.ApplySettings();  // the echo on: its knobs usable
  EXPECT_EQ(rig.controls.last, (ControlPositions{200, 7, true, 7, 1, 10, 1, true}));
  ResetSettings(rig.settings, rig.engine);
  EngineSettingsValues want = DefaultEngineSettings;
  want.peakThreshold = 4128;
  want.oscilloDivisor = 16384;
  EXPECT_EQ(rig.settings.Load(), want);
  EXPECT_EQ(rig.controls.calls, 2);
  EXPECT_EQ(rig.controls.last, (ControlPositions{100, 40, false, -2, 50, 40, 30, false}));
}

// Everything the window thread may do meanwhile; run under ThreadSanitizer too.
TEST(Concurrency, CaptureThreadAgainstWindowThread) {
  testing::Rig rig;
  LatestValue<std::pair<int, int>> latest;
  std::atomic<bool> done{false};
  std::thread capture([&] {
    for (int i = 1; i <= 6000; ++i) {
      rig.Blocks((i / 40) % 2 == 0 ? 9000 : 0);  // only this thread reads the fake clock
      latest.Publish({i, -i});
    }
    done = true;
  });
  std::pair<int, int> last{0, 0};
  bool inOrder = true;
  for (int round = 0; !done.load() || latest.Take(last); ++round) {
    rig.settings.Speed = (round % 2) ? 0.5F : 2.2F;
    rig.settings.Echo = round % 2;
    rig.settings.Bpf = 120 + (round % 100) * 50;
    rig.status.ShowStatus("SPEED", "%1.2f x", 1.25);
    (void)rig.status.Read();
    (void)rig.engine.Ring().LastTake();
    if (round % 3 == 0) {
      rig.engine.PressAutoMode();
    }
    if (round % 7 == 0) {
      ResetSettings(rig.settings, rig.engine);
      rig.engine.ResetAutoMode();
    }
    std::pair<int, int> p;
    if (latest.Take(p)) {
      inOrder = inOrder && p.first == -p.second && p.first > last.first;
      last = p;
    }
  }
  capture.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(last.first, 6000);
  rig.engine.StopTakes();
  EXPECT_FALSE(rig.engine.Recording());
}

// A copy that lets |midCopy| run halfway through, as a producer thread might.
struct Pair {
  int a = 0, b = 0;
  Pair& operator=(const Pair& o) {
    a = o.a;
    if (const std::function<void()> f = std::exchange(midCopy, nullptr)) {
      f();
    }
    b = o.b;
    return *this;
  }
  static inline std::function<void()> midCopy;
};

// The same race made step by step: the producer publishes twice while the consumer copies out,
// and never writes the slot being copied.
TEST(Concurrency, PublishingDuringATakeLeavesTheCopyWhole) {
  LatestValue<Pair> latest;
  Pair out;
  for (int n = 1; n <= 4; ++n) {
    latest.Publish(Pair{n, n});
    Pair::midCopy = [&] {
      latest.Publish(Pair{-n, -n});
      latest.Publish(Pair{-n - 10, -n - 10});
    };
    ASSERT_TRUE(latest.Take(out));
    EXPECT_EQ(std::pair(out.a, out.b), std::pair(n, n));
    ASSERT_TRUE(latest.Take(out));
    EXPECT_EQ(std::tuple(out.a, out.b, latest.Take(out)), std::tuple(-n - 10, -n - 10, false));
  }
}

// A copy made while takes are recorded is one whole take, never part of a neighbour.
TEST(Concurrency, TakeCopiesAreWholeTakes) {
  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  std::atomic<bool> done{false};
  std::thread capture([&] {
    EchoEffect echo;
    for (int t = 1; t <= 40; ++t) {
      const std::vector<int16_t> block(880, int16_t(t));
      ring.MarkTakeStart();
      for (int b = t == 20 ? 4100 : t % 7; b > 0; --b) {
        ring.WriteBlock(block.data(), 880, 4194304, {}, echo);
      }
    }
    done = true;
  });
  std::vector<int16_t> copy(static_cast<size_t>(kRingSamples));
  while (!done.load()) {
    const TakeSnapshot take = ring.LastTake();
    if (take.count != 0 && ring.CopyTake(take, copy.data())) {
      const auto end = copy.begin() + std::ptrdiff_t(take.count);
      ASSERT_EQ(std::count(copy.begin(), end, copy[0]), end - copy.begin()) << copy[0];
    }
  }
  capture.join();
  ASSERT_TRUE(ring.CopyTake(ring.LastTake(), copy.data())) << "an idle writer laps nothing";
  EXPECT_EQ(copy[0], 40);
}

}  // namespace
}  // namespace mimicore
