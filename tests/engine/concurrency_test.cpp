// The capture thread against the window thread; run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "core/latest_value.h"
#include "engine_harness.h"

namespace mimicore {
namespace {

TEST(Concurrency, CaptureThreadAgainstWindowThread) {
  testing::Rig rig;
  std::atomic<bool> done{false};
  std::thread capture([&] {
    for (int i = 0; i < 6000; ++i) {
      rig.Blocks((i / 40) % 2 == 0 ? 9000 : 0);  // only this thread reads the fake clock
    }
    done = true;
  });
  for (int round = 0; !done; ++round) {
    switch (round % 6) {
      case 0:
        rig.settings.Speed = (round % 2) ? 0.5F : 2.2F;
        rig.settings.Echo = round % 2;
        rig.status.ShowStatus("SPEED", "%1.2f x", 1.25);
        break;
      case 1:
        ResetSettings(rig.settings, rig.engine);
        break;
      case 2:
        rig.engine.PressAutoMode();
        break;
      case 3:
        rig.settings.Bpf = 120 + (round % 100) * 50;
        rig.engine.ApplySettings();
        break;
      case 4:
        rig.engine.ResetAutoMode();
        (void)rig.engine.Ring().LastTake();
        break;
      default:
        (void)rig.status.Read();
        std::this_thread::yield();
    }
  }
  capture.join();
  rig.engine.StopTakes();
  EXPECT_FALSE(rig.engine.Recording());
}

// Takes of one value each, one longer than the ring, while another thread
// copies the last take: a copy that succeeds is one take, never part of a
// neighbour.
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

// The consumer only ever sees whole values, each newer than the last.
TEST(Concurrency, LatestValueHandsOverWholeValuesInOrder) {
  LatestValue<std::pair<int64_t, int64_t>> latest;
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (int64_t i = 1; i <= 200000; ++i) {
      latest.Publish({i, -i});
    }
    done = true;
  });
  int64_t last = 0;
  for (std::pair<int64_t, int64_t> p;;) {
    const bool finished = done.load();
    if (latest.Take(p)) {
      ASSERT_EQ(p.first, -p.second);
      ASSERT_GT(p.first, last);
      last = p.first;
    } else if (finished) {
      break;
    }
  }
  producer.join();
  EXPECT_EQ(last, 200000);
}

}  // namespace
}  // namespace mimicore
