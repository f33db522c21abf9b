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

// Takes of one value each, some longer than the ring, while another thread
// copies the last take: a copy is one whole take, or refused only when the
// writer really reached into it.
TEST(Concurrency, TakeCopiesAreWholeTakesOrRefusedWhenLapped) {
  constexpr int kTakes = 12;
  constexpr int kLong = 4100;  // blocks: more than the ring holds
  auto blocksOf = [](int take) { return take == 6 ? kLong : 1 + take % 5; };
  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  std::atomic<bool> done{false};
  std::atomic<int> requests{0};
  std::atomic<int> snapshots{0};
  std::thread capture([&] {
    // Waits until the copier has taken its snapshot, then writes on.
    auto askForACopy = [&] {
      const int asked = requests.fetch_add(1) + 1;
      while (snapshots.load() < asked) {
        std::this_thread::yield();
      }
    };
    EchoEffect echo;
    for (int t = 0; t < kTakes; ++t) {
      const std::vector<int16_t> block(880, int16_t(1 + t));
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
      // The block that reached past the take's first sample gets published.
      for (bool finished = false; !finished;) {
        finished = done.load();
        const TakeSnapshot now = ring.LastTake();
        if (now.start + now.count > take.start + uint64_t(kRingSamples)) {
          break;
        }
        ASSERT_FALSE(finished) << "copy refused though the writer never reached it";
      }
      continue;
    }
    const int t = copy[0] - 1;
    ASSERT_TRUE(t >= 0 && t < kTakes);
    ASSERT_LE(take.count, uint32_t(blocksOf(t)) * 880U);
    const auto end = copy.begin() + std::ptrdiff_t(take.count);
    ASSERT_TRUE(std::all_of(copy.begin(), end, [&](int16_t v) { return v == t + 1; })) << t;
    if (last) {
      EXPECT_EQ(t, kTakes - 1);
    }
    ++saved;
  }
  capture.join();
  EXPECT_GT(saved, kTakes / 2);
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
