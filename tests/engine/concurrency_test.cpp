// The engine on its capture thread while the window thread does everything
// it may do at the same time. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "engine_harness.h"

namespace mimicore {
namespace {

TEST(Concurrency, CaptureThreadAgainstWindowThread) {
  testing::Rig rig;
  rig.stepMs = 20;
  std::atomic<bool> done{false};

  std::thread capture([&] {
    std::vector<int16_t> block(880);
    for (int i = 0; i < 6000; ++i) {
      const auto amp = int16_t((i / 40) % 2 == 0 ? 9000 : 0);
      for (size_t k = 0; k < block.size(); ++k) {
        block[k] = (k % 2 == 0) ? amp : int16_t(-amp);
      }
      rig.engine.OnCaptureBlock(block.data(), 1760);
      rig.clock.now += 20;  // only this thread reads the fake clock
    }
    done = true;
  });

  int round = 0;
  while (!done) {
    switch (round++ % 7) {
      case 0:
        rig.settings.Speed = (round % 2) ? 0.5F : 2.2F;
        rig.settings.Echo = round % 2;
        break;
      case 1:
        rig.status.ShowStatus("SPEED", "%1.2f x", 1.25);
        break;
      case 2:
        ResetSettings(rig.settings, rig.engine);
        break;
      case 3:
        rig.engine.PressAutoMode();
        break;
      case 4:
        rig.settings.Bpf = 120 + (round % 100) * 50;
        rig.engine.ApplySettings();
        break;
      case 5:
        rig.engine.ResetAutoMode();
        (void)rig.engine.Ring().LastTake();
        (void)rig.engine.Ring().WritePos();
        break;
      default:
        (void)rig.status.Read();
        std::this_thread::yield();
        break;
    }
  }
  capture.join();
  rig.engine.StopTakes();
  EXPECT_FALSE(rig.engine.Recording());
}

// Takes of one constant value each, recorded back to back while another
// thread saves the last take: a copy that succeeds is one take, never part
// of a neighbour; a refused copy is one the writer really reached into.
// Some takes outgrow the ring, so laps do happen.
TEST(Concurrency, TakeCopiesAreWholeTakesOrRefusedWhenLapped) {
  constexpr int kTakes = 12;
  constexpr int kLong = 4100;  // blocks: more than the ring holds
  auto blocksOf = [](int take) { return take == 6 ? kLong : 1 + take % 5; };
  auto valueOf = [](int take) { return int16_t(1 + take); };

  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  std::atomic<bool> done{false};
  // The writer asks for a copy now and then and runs on once the snapshot is
  // taken: copies meet short takes, a long one on its way and a full ring.
  std::atomic<int> requests{0};
  std::atomic<int> snapshots{0};
  std::thread capture([&] {
    auto askForACopy = [&] {
      const int asked = requests.fetch_add(1) + 1;
      while (snapshots.load() < asked) {
        std::this_thread::yield();
      }
    };
    EchoEffect echo;
    std::vector<int16_t> block(880);
    for (int t = 0; t < kTakes; ++t) {
      std::fill(block.begin(), block.end(), valueOf(t));
      askForACopy();
      ring.MarkTakeStart();
      for (int b = 0; b < blocksOf(t); ++b) {
        ring.WriteBlock(block.data(), 880, 4194304, {}, echo);
        if (b == kLong / 2 || b >= kLong - 3) {
          askForACopy();
        }
      }
    }
    done = true;
  });

  std::vector<int16_t> copy(static_cast<size_t>(kRingSamples));
  int saved = 0;
  int refused = 0;
  for (bool last = false; !last;) {
    while (!(last = done.load()) && requests.load() == snapshots.load()) {
      std::this_thread::yield();
    }
    const TakeSnapshot take = ring.LastTake();
    snapshots.store(requests.load());
    if (take.count == 0) {
      continue;
    }
    if (!ring.CopyTake(take, copy.data())) {
      ASSERT_FALSE(last) << "the idle writer cannot lap anything";
      // The block reserved past the take's first sample gets published.
      for (;;) {
        const bool finished = done.load();
        const TakeSnapshot now = ring.LastTake();
        if (now.start + now.count > take.start + uint64_t(kRingSamples)) {
          break;
        }
        ASSERT_FALSE(finished) << "copy refused though the writer never reached it";
      }
      ++refused;
      continue;
    }
    const int t = copy[0] - 1;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kTakes);
    ASSERT_EQ(take.count % 880U, 0U);
    ASSERT_LE(take.count, uint32_t(blocksOf(t)) * 880U);
    const auto end = copy.begin() + std::ptrdiff_t(take.count);
    const auto other = std::find_if(copy.begin(), end, [&](int16_t v) { return v != valueOf(t); });
    ASSERT_EQ(other, end) << "a copy of take " << t << " holds " << *other << " at "
                          << (other - copy.begin());
    if (last) {
      EXPECT_EQ(t, kTakes - 1);
      EXPECT_EQ(take.count, std::min(uint32_t(blocksOf(t)) * 880U, uint32_t(kRingSamples)));
    }
    ++saved;
  }
  capture.join();
  EXPECT_GT(saved, kTakes / 2);
  std::printf("whole copies %d, refused after a lap %d\n", saved, refused);
}

}  // namespace
}  // namespace mimicore

#include "core/latest_value.h"

namespace mimicore {
namespace {

struct Pair {
  int64_t a = 0;
  int64_t b = 0;
};

TEST(LatestValue, TakesTheNewestValueOnce) {
  LatestValue<Pair> latest;
  Pair p;
  EXPECT_FALSE(latest.Take(p));
  for (int64_t round = 1; round <= 4; ++round) {
    for (int64_t i = 0; i < round; ++i) {
      latest.Publish({round * 10 + i, -(round * 10 + i)});
    }
    ASSERT_TRUE(latest.Take(p));
    EXPECT_EQ(p.a, round * 11 - 1);
    EXPECT_EQ(p.b, -p.a);
    EXPECT_FALSE(latest.Take(p));
  }
}

// The consumer only ever sees whole values, each newer than the last.
TEST(Concurrency, LatestValueHandsOverWholeValuesInOrder) {
  LatestValue<Pair> latest;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (int64_t i = 1; i <= 200000; ++i) {
      latest.Publish({i, -i});
    }
    done = true;
  });
  int64_t last = 0;
  Pair p;
  for (;;) {
    const bool finished = done.load();
    if (latest.Take(p)) {
      ASSERT_EQ(p.a, -p.b);
      ASSERT_GT(p.a, last);
      last = p.a;
    } else if (finished) {
      break;
    }
  }
  producer.join();
  EXPECT_EQ(last, 200000);
}

}  // namespace
}  // namespace mimicore
