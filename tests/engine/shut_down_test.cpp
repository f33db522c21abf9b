#include <gtest/gtest.h>

#include "engine_harness.h"

namespace mimicore {
namespace {

// The capture device drains its whole queue through the engine while it
// closes: none of those blocks may start a take, play one or draw.
TEST(ShutDown, BlocksAfterStopTakesChangeNothing) {
  struct Case {
    const char* name;
    int loudBefore;  // blocks of speech before shut-down begins
    int quietBefore;
  };
  const Case cases[] = {
      {"in silence", 0, 5},
      {"while recording", 10, 0},
      {"while playing", 10, 40},
  };
  for (const Case& k : cases) {
    testing::Rig rig;
    for (int i = 0; i < k.loudBefore; ++i) {
      rig.Block(int16_t{8000});
    }
    for (int i = 0; i < k.quietBefore; ++i) {
      rig.Block(int16_t{0});
    }
    rig.engine.StopTakes();
    const int writes = rig.sink.writes;
    const int frames = rig.frames.frames;
    const auto written = rig.engine.Ring().WritePos();
    // A full queue: speech, then the silence that would play it back.
    for (int i = 0; i < 64; ++i) {
      rig.Block(int16_t(i < 32 ? 8000 : 0));
      EXPECT_FALSE(rig.engine.Recording()) << k.name;
      EXPECT_FALSE(rig.engine.Playing()) << k.name;
    }
    EXPECT_EQ(rig.sink.writes, writes) << k.name;
    EXPECT_EQ(rig.frames.frames, frames) << k.name;
    EXPECT_EQ(rig.engine.Ring().WritePos(), written) << k.name;
  }
}

}  // namespace
}  // namespace mimicore
