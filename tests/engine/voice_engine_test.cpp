#include "engine/voice_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <random>
#include <utility>

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
  EXPECT_EQ(rig.frames.frames, 0) << "the first block draws nothing";

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
  EXPECT_STREQ(rig.status.Read().value, "REC") << "PLAY waits while REC is shown";
}

TEST(VoiceDecision, StatusTextsNeverReplaceAVisibleOne) {
  Rig rig;
  rig.settings.SilenceTime = 2500;  // REC has gone when the playback starts
  rig.status.ShowStatus("SPEED", "%1.2f x", 1.5);
  rig.Block(Square(kVoice));
  EXPECT_TRUE(rig.engine.Recording());
  EXPECT_STREQ(rig.status.Read().value, "1.50 x");
  while (!rig.engine.Playing()) {
    rig.Block(int16_t{0});
  }
  EXPECT_STREQ(rig.status.Read().value, "PLAY");
}

TEST(VoiceDecision, ExtremeThresholdsAndTheFilterBeforeTheLevel) {
  Rig always;
  always.settings.NThre = 0;
  for (int i = 0; i < 200; ++i) {
    always.Block(int16_t{0});
  }
  EXPECT_TRUE(always.engine.Recording());
  EXPECT_FALSE(always.engine.Playing());

  Rig deaf;
  deaf.settings.NThre = 100;
  deaf.settings.peakThreshold = 40000;
  deaf.Block(Square(32767));
  EXPECT_FALSE(deaf.engine.Recording());

  Rig off;
  off.settings.Bpf = 120;
  auto block = Square(5000);
  off.engine.OnCaptureBlock(block.data(), 1760);
  EXPECT_EQ(block, Square(5000));

  // At 1000 Hz the band-pass all but removes a 22050 Hz square: no voice.
  Rig filtered;
  filtered.settings.Bpf = 1020;
  auto loud = Square(20000);
  filtered.engine.OnCaptureBlock(loud.data(), 1760);
  EXPECT_NE(loud, Square(20000));
  EXPECT_FALSE(filtered.engine.Recording());
}

TEST(VoiceDecision, StopTakesEndsARunningTakeAndPlayback) {
  Rig rig;
  rig.settings.SilenceTime = 100;
  for (int i = 0; i < 10; ++i) {
    rig.Block(Square(3000));
  }
  while (!rig.engine.Playing()) {
    rig.Block(int16_t{0});
  }
  rig.Block(Square(3000));
  ASSERT_TRUE(rig.engine.Recording() && rig.engine.Playing());
  rig.engine.StopTakes();
  EXPECT_FALSE(rig.engine.Recording());
  EXPECT_FALSE(rig.engine.Playing());
}

// Every sample written to the ring is played exactly once, in order, and
// nothing else, whatever the speeds, overlaps and recordings during a
// playback.
TEST(Playback, PlaysEveryRecordedSampleExactlyOnceInOrder) {
  Rig rig;
  std::mt19937 rng(7);
  std::vector<int16_t> want;
  const float speeds[] = {1.0F, 0.5F, 2.2F, 1.5F, 0.73F};
  for (int take = 0; take < 12; ++take) {
    rig.settings.Speed = speeds[take % 5];
    const int32_t before = rig.engine.Ring().WritePos();
    for (int b = 1 + int(rng() % 6); b > 0; --b) {
      std::vector<int16_t> v(880);
      for (auto& s : v) {
        s = int16_t(3000 + int(rng() % 20000));
      }
      rig.Block(v);
    }
    while (rig.engine.Recording()) {  // these quiet blocks are recorded
      rig.Block(int16_t{0});
    }
    const int32_t len = rig.engine.Ring().WritePos() - before;
    std::vector<int16_t> take_(size_t(len), 0);
    rig.engine.Ring().CopyOut(before, len, take_.data());
    std::copy_if(take_.begin(), take_.end(), std::back_inserter(want),
                 [](int16_t s) { return s != 0; });
    if (take % 3 != 2) {
      rig.Drain();
    }  // else: the next take starts while this one is still playing
  }
  rig.Drain();
  // The speaker got the takes back to back, padded with silence only where
  // a playback reached the writer.
  std::vector<int16_t> played;
  std::copy_if(rig.sink.samples.begin(), rig.sink.samples.end(), std::back_inserter(played),
               [](int16_t s) { return s != 0; });
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
  rig.Block(int16_t{0});  // silence: starts playback, sends the whole take
  EXPECT_FALSE(rig.engine.Playing());
  ASSERT_EQ(rig.sink.samples.size(), 880U);
  EXPECT_EQ(std::count(rig.sink.samples.begin(), rig.sink.samples.begin() + 400, 0), 0);
  EXPECT_EQ(std::count(rig.sink.samples.begin() + 400, rig.sink.samples.end(), 0), 480);
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.sink.writes, 1) << "nothing left: quiet blocks do not start it again";
}

TEST(TakeRing, ResamplingLengthsPerBlock) {
  const std::pair<float, int32_t> cases[] = {
      {1.0F, 880}, {0.5F, 1760}, {1.5F, 587}, {2.2F, 400}, {2.0F, 440}};
  for (auto [speed, written] : cases) {
    TakeRing ring;
    ASSERT_TRUE(ring.Allocate());
    EchoEffect echo;
    std::vector<int16_t> in(880);
    std::iota(in.begin(), in.end(), int16_t{0});
    const auto step = uint32_t(double(speed) * 4194304.0);
    EXPECT_EQ(ring.WriteBlock(in.data(), 880, step, {}, echo), written) << speed;
    std::vector<int16_t> out(static_cast<size_t>(written));
    ring.CopyOut(0, written, out.data());
    for (int32_t k = 0; k < written; ++k) {
      ASSERT_EQ(out[size_t(k)], int16_t((uint64_t(k) * step) >> 22)) << speed << " k " << k;
    }
  }
}

// Written and played in lock step, half a block off the ring's bounds: the
// write, the playback and the take copy all cross the ring's end.
TEST(TakeRing, WriterReaderAndCopyCrossTheRingsEnd) {
  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  EchoEffect echo;
  std::vector<int16_t> block(880);
  std::vector<int16_t> played(880);
  ring.WriteBlock(block.data(), 440, 4194304, {}, echo);
  ring.ReadBlock(played.data(), 440);
  for (int b = 0; b < 4100; ++b) {
    std::iota(block.begin(), block.end(), int16_t(b * 7));
    if (b == 4095) {
      ASSERT_EQ(ring.WritePos(), kRingSamples - 440);
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
  ring.WriteBlock(pad.data(), 440, 4194304, {}, echo);
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
