#include "engine/voice_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>

#include "engine_harness.h"

namespace mimicore {
namespace {

using testing::Rig;
using testing::Square;

// Default settings: a mean of 1639 reads as level 40 (the threshold), 1638
// as 39.
constexpr int16_t kVoice = 1639;
constexpr int16_t kJustQuiet = 1638;

TEST(VoiceDecision, ThresholdIsInclusiveAndSilenceTimeEndsTheTake) {
  Rig rig;
  rig.Block(Square(kJustQuiet));
  EXPECT_FALSE(rig.engine.Recording());

  rig.Block(Square(kVoice));  // t = 1020
  EXPECT_TRUE(rig.engine.Recording());

  // Quiet blocks shorter than the silence time after the last voice block
  // are part of the take.
  for (int i = 0; i < 29; ++i) {
    rig.Block(Square(kJustQuiet));
    ASSERT_TRUE(rig.engine.Recording()) << "block " << i;
  }
  EXPECT_EQ(rig.sink.writes, 0);

  // sinceVoice == SilenceTime (600 ms): the recording ends, this block is
  // not recorded and already sends the first buffer.
  rig.Block(Square(kJustQuiet));
  EXPECT_FALSE(rig.engine.Recording());
  EXPECT_TRUE(rig.engine.Playing());
  EXPECT_EQ(rig.sink.writes, 1);
  EXPECT_EQ(rig.sink.lastCount, 1760U);
  EXPECT_EQ(rig.engine.Ring().LastTake().count, 30U * 880U);
  EXPECT_STREQ(rig.status.Read().value, "REC");
}

TEST(VoiceDecision, FirstBlockSetsBothTicksAndDrawsNothing) {
  Rig rig;
  rig.settings.SilenceTime = 0;
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.frames.frames, 0);
  EXPECT_FALSE(rig.engine.Playing());  // nothing recorded: nothing to play
  EXPECT_EQ(rig.status.Read().value[0], '\0');
}

TEST(VoiceDecision, ThresholdZeroNeverEndsAndUnreachableNeverStarts) {
  Rig rig;
  rig.settings.NThre = 0;
  for (int i = 0; i < 200; ++i) {
    rig.Block(int16_t{0});
  }
  EXPECT_TRUE(rig.engine.Recording());
  EXPECT_FALSE(rig.engine.Playing());

  Rig deaf;
  deaf.settings.NThre = 100;
  deaf.settings.peakThreshold = 40000;
  deaf.Block(Square(32767));
  EXPECT_FALSE(deaf.engine.Recording());
}

TEST(VoiceDecision, RecDoesNotReplaceAVisibleStatusButRecordingStarts) {
  Rig rig;
  rig.status.ShowStatus("SPEED", "%1.2f x", 1.5);
  rig.Block(Square(kVoice));
  EXPECT_TRUE(rig.engine.Recording());
  EXPECT_STREQ(rig.status.Read().title, "SPEED");
  EXPECT_STREQ(rig.status.Read().value, "1.50 x");
}

TEST(VoiceDecision, FilterOnlyAbove120AndLevelIsMeasuredAfterIt) {
  Rig rig;
  rig.settings.Bpf = 120;
  auto block = Square(5000);
  auto copy = block;
  rig.engine.OnCaptureBlock(block.data(), 1760);
  EXPECT_EQ(block, copy);

  // At 1000 Hz the band-pass all but removes a 22050 Hz square: no voice.
  Rig filtered;
  filtered.settings.Bpf = 1020;
  auto loud = Square(20000);
  filtered.engine.OnCaptureBlock(loud.data(), 1760);
  EXPECT_NE(loud, Square(20000));
  EXPECT_FALSE(filtered.engine.Recording());
}

// Every sample written to the ring is played exactly once, in order, and
// nothing else, whatever the speeds, overlaps and ring crossings.
TEST(Playback, PlaysEveryRecordedSampleExactlyOnceInOrder) {
  Rig rig;
  std::mt19937 rng(7);
  std::vector<int16_t> expected;
  size_t playedBefore = 0;
  const float speeds[] = {1.0F, 0.5F, 2.2F, 1.5F, 0.73F};
  for (int take = 0; take < 12; ++take) {
    rig.settings.Speed = speeds[take % 5];
    const int blocks = 1 + int(rng() % 6);
    const int32_t before = rig.engine.Ring().WritePos();
    for (int b = 0; b < blocks; ++b) {
      std::vector<int16_t> v(880);
      for (auto& s : v) {
        s = int16_t(3000 + int(rng() % 20000));
      }
      rig.Block(v);
    }
    // Quiet until the silence time has run out; those blocks are recorded.
    while (rig.engine.Recording()) {
      rig.Block(int16_t{0});
    }
    const int32_t after = rig.engine.Ring().WritePos();
    const int32_t len = (after - before + kRingSamples) % kRingSamples;
    std::vector<int16_t> take_(size_t(len), 0);
    rig.engine.Ring().CopyOut(before, len, take_.data());
    expected.insert(expected.end(), take_.begin(), take_.end());
    if (take % 3 != 2) {
      rig.Drain();
    }  // else: the next take starts while this one is still playing
    ASSERT_GE(rig.sink.samples.size(), playedBefore);
    playedBefore = rig.sink.samples.size();
  }
  rig.Drain();

  // The speaker got the takes back to back, padded only at the very end of
  // each playback with silence past the writer.
  std::vector<int16_t> played;
  for (int16_t s : rig.sink.samples) {
    if (s != 0) {
      played.push_back(s);
    }
  }
  std::vector<int16_t> want;
  for (int16_t s : expected) {
    if (s != 0) {
      want.push_back(s);
    }
  }
  EXPECT_EQ(played, want);
  EXPECT_EQ(rig.engine.Ring().PendingBytes(), 0U);
  EXPECT_FALSE(rig.engine.Playing());
}

TEST(Playback, EndsOnTheBlockThatReachesTheWriterAndPadsWithSilence) {
  Rig rig;
  rig.settings.Speed = 2.2F;  // one voice block stores 400 samples
  rig.settings.SilenceTime = 0;
  rig.settings.NThre = 50;
  rig.Block(Square(3000));
  ASSERT_TRUE(rig.engine.Recording());
  rig.Block(int16_t{0});  // silence: starts playback, sends the whole take
  EXPECT_FALSE(rig.engine.Playing());
  ASSERT_EQ(rig.sink.samples.size(), 880U);
  for (size_t i = 0; i < 400; ++i) {
    ASSERT_NE(rig.sink.samples[i], 0) << i;
  }
  for (size_t i = 400; i < 880; ++i) {
    ASSERT_EQ(rig.sink.samples[i], 0) << i;
  }
  // Nothing left: later quiet blocks do not start it again.
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.sink.writes, 1);
}

TEST(Playback, RecordingDuringPlaybackIsAppendedAndPlayedOn) {
  Rig rig;
  rig.settings.SilenceTime = 100;
  for (int i = 0; i < 10; ++i) {
    rig.Block(Square(3000));
  }
  while (!rig.engine.Playing()) {
    rig.Block(int16_t{0});
  }
  rig.Block(Square(5000));
  EXPECT_TRUE(rig.engine.Recording());
  EXPECT_TRUE(rig.engine.Playing());
  rig.Drain();
  size_t loud = 0;
  for (int16_t s : rig.sink.samples) {
    loud += std::abs(s) == 5000 ? 1 : 0;
  }
  EXPECT_EQ(loud, 880U);
}

TEST(TakeRing, ResamplingLengthsPerBlock) {
  struct Case {
    float speed;
    int32_t written;
  } cases[] = {{1.0F, 880}, {0.5F, 1760}, {1.5F, 587}, {2.2F, 400}, {2.0F, 440}};
  for (const auto& c : cases) {
    TakeRing ring;
    ASSERT_TRUE(ring.Allocate());
    EchoEffect echo;
    std::vector<int16_t> in(880);
    std::iota(in.begin(), in.end(), int16_t{0});
    const auto step = uint32_t(double(c.speed) * 4194304.0);
    EXPECT_EQ(ring.WriteBlock(in.data(), 880, step, {}, echo), c.written) << c.speed;
    std::vector<int16_t> out(size_t(c.written));
    ring.CopyOut(0, c.written, out.data());
    for (int32_t k = 0; k < c.written; ++k) {
      ASSERT_EQ(out[size_t(k)], int16_t((uint64_t(k) * step) >> 22)) << c.speed << " k " << k;
    }
  }
}

TEST(TakeRing, WriteCrossesTheEndAndTheTakeIsCopiedInSpokenOrder) {
  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  EchoEffect echo;
  std::vector<int16_t> in(880, 1);
  // 4096 blocks at speed 1 fill the ring exactly; then one more, at a
  // position that is not block-aligned, crosses its end.
  std::vector<int16_t> half(440, 2);
  ring.WriteBlock(half.data(), 440, 4194304, {}, echo);
  for (int i = 0; i < 4095; ++i) {
    ring.WriteBlock(in.data(), 880, 4194304, {}, echo);
  }
  EXPECT_EQ(ring.WritePos(), kRingSamples - 440);
  ring.MarkTakeStart();
  std::vector<int16_t> seq(880);
  std::iota(seq.begin(), seq.end(), int16_t{100});
  ring.WriteBlock(seq.data(), 880, 4194304, {}, echo);
  EXPECT_EQ(ring.WritePos(), 440);
  const TakeSnapshot take = ring.LastTake();
  ASSERT_EQ(take.count, 880U);
  std::vector<int16_t> out(880);
  ASSERT_TRUE(ring.CopyTake(take, out.data()));
  EXPECT_EQ(out, seq);
}

TEST(TakeRing, EchoOverTheRingEndEqualsOneStretch) {
  std::vector<int16_t> seq(880);
  for (size_t i = 0; i < seq.size(); ++i) {
    seq[i] = int16_t(1000 + int(i % 97) * 50);
  }
  EchoEffect reference;
  std::vector<int16_t> expected = seq;
  reference.Process(expected.data(), 880, 44100, 1, 0.9F, 32768);

  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  EchoEffect echo;
  std::vector<int16_t> pad(880, 0);
  for (int i = 0; i < 4095; ++i) {
    ring.WriteBlock(pad.data(), 880, 4194304, {}, echo);
  }
  std::vector<int16_t> half(440, 0);
  ring.WriteBlock(half.data(), 440, 4194304, {}, echo);
  ring.MarkTakeStart();
  ring.WriteBlock(seq.data(), 880, 4194304, {true, 1, 0.9F}, echo);
  std::vector<int16_t> out(880);
  ASSERT_TRUE(ring.CopyTake(ring.LastTake(), out.data()));
  EXPECT_EQ(out, expected);
}

TEST(TakeRing, LappedReaderResumesAtTheOldestSurvivingSample) {
  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  EchoEffect echo;
  std::vector<int16_t> in(880, 3);
  for (int i = 0; i < 4096 + 10; ++i) {
    ring.WriteBlock(in.data(), 880, 4194304, {}, echo);
  }
  EXPECT_EQ(ring.PendingBytes(), uint32_t(kRingSamples) * 2U);
  EXPECT_EQ(ring.ReadPos(), ring.WritePos());
}

}  // namespace
}  // namespace mimicore
