// The window thread's RESET and status writes landing at the worst instant
// of a calibration step, made deterministic by acting from inside the
// engine's own call to the controls.
#include <gtest/gtest.h>

#include "engine/calibration.h"
#include "engine_harness.h"

namespace mimicore {

class StatusDisplayTestAccess {
 public:
  static void Hold(StatusDisplay& s) { s.Lock(); }
  static void Release(StatusDisplay& s) { s.Unlock(); }
};

namespace {

using testing::Rig;

TEST(CalibrationRace, ResetOrPressDuringTheStartStep) {
  struct Case {
    const char* name;
    void (*act)(VoiceEngine&);
    int32_t stateAfter;
  } cases[] = {
      {"reset cancels", [](VoiceEngine& e) { e.ResetAutoMode(); }, kAutoIdle},
      {"press still counts", [](VoiceEngine& e) { e.PressAutoMode(); }, kAutoFinish},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    bool acted = false;
    rig.controls.onShow = [&] {
      if (!acted) {
        acted = true;
        c.act(rig.engine);
      }
    };
    rig.engine.PressAutoMode();
    rig.Block(int16_t{0});
    EXPECT_TRUE(acted);
    EXPECT_EQ(rig.engine.AutoModeState(), c.stateAfter);
  }
}

TEST(CalibrationRace, ResultWaitsWhileTheWindowThreadWritesTheStatus) {
  for (const bool heard : {true, false}) {
    SCOPED_TRACE(heard ? "OK!" : "NOTHING HEARD");
    Rig rig;
    rig.engine.PressAutoMode();
    rig.Block(int16_t{0});
    rig.Block(int16_t{0});
    if (heard) {
      rig.Block(int16_t{9000});
    }
    rig.engine.PressAutoMode();
    bool held = false;
    rig.controls.onShow = [&] {
      if (!held) {
        held = true;
        StatusDisplayTestAccess::Hold(rig.status);
      }
    };
    rig.Block(int16_t{0});  // finishes while the status is being written
    ASSERT_TRUE(held);
    StatusDisplayTestAccess::Release(rig.status);
    EXPECT_EQ(rig.engine.AutoModeState(), kAutoIdle);
    rig.Block(int16_t{0});
    const StatusSnapshot shown = rig.status.Read();
    EXPECT_STREQ(shown.value, heard ? "OK!" : " ");
    EXPECT_STREQ(shown.title, heard ? "" : kCalibrationNothingHeard);
  }
}

}  // namespace
}  // namespace mimicore
