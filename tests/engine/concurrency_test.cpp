// The engine on its capture thread while the window thread does everything
// it may do at the same time. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

}  // namespace
}  // namespace mimicore

#include "core/latest_value.h"

namespace mimicore {
namespace {

struct Pair {
  int64_t a = 0;
  int64_t b = 0;
};

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
