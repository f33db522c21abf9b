#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "engine/calibration.h"
#include "engine/voice_engine.h"
#include "engine_harness.h"

namespace mimicore {
namespace {

using testing::Rig;
using testing::Square;

TEST(CalibrationFormulas, FromSpreadAndFloorOrTheBuiltInLevels) {
  const EngineSettingsValues& d = DefaultEngineSettings;
  struct Case {
    int32_t max, min;
    bool measured;
    int32_t peakThreshold, NThre, oscilloDivisor;
  } cases[] = {
      {25000, 5000, true, 20000, 40, 30001},
      {61, 0, true, 61, 15, 92},  // the divisor's rounding falls below 93
      {12000, 0, true, 12000, 15, 18001},
      {20000, 19000, true, 1000, 100, 1501},  // NThre capped
      {0, 50000, false, d.peakThreshold, d.NThre, d.oscilloDivisor},
      {777, 777, false, d.peakThreshold, d.NThre, d.oscilloDivisor},
  };
  for (const Case& c : cases) {
    const CalibrationResult r = FinishCalibration(c.max, c.min);
    EXPECT_EQ(r.measured, c.measured) << c.max << " " << c.min;
    EXPECT_EQ(r.peakThreshold, c.peakThreshold) << c.max << " " << c.min;
    EXPECT_EQ(r.NThre, c.NThre) << c.max << " " << c.min;
    EXPECT_EQ(r.oscilloDivisor, c.oscilloDivisor) << c.max << " " << c.min;
  }
}

TEST(CalibrationStates, PressMeasurePressFinishes) {
  Rig rig;
  rig.settings.Speed = 1.5F;
  rig.settings.Echo = 1;
  rig.settings.Bpf = 2000;
  rig.settings.Delay = 33;
  rig.engine.PressAutoMode();
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.engine.AutoModeState(), 2);
  EXPECT_EQ(rig.settings.peakThreshold.load(), 40000);
  EXPECT_EQ(rig.settings.NThre.load(), 100);
  EXPECT_EQ(rig.settings.SilenceTime.load(), 2000);
  EXPECT_EQ(rig.settings.Delay.load(), 33);  // never touched
  EXPECT_EQ(rig.controls.last.speedSlider, 100);
  EXPECT_FALSE(rig.controls.last.echoChecked);

  // Measuring: the loudest block cannot start a take; the prompt stays up.
  rig.Block(Square(25000));
  rig.Block(Square(5000));
  EXPECT_FALSE(rig.engine.Recording());
  EXPECT_EQ(std::string(rig.status.Read().title), kCalibrationPrompt);
  EXPECT_EQ(rig.engine.CalMax(), 25000);
  EXPECT_EQ(rig.engine.CalMin(), 5000);

  rig.engine.PressAutoMode();
  rig.Block(Square(30000));  // only finishes, is not measured
  EXPECT_EQ(rig.engine.AutoModeState(), 0);
  EXPECT_EQ(rig.settings.peakThreshold.load(), 20000);  // the formulas, as tested above
  EXPECT_EQ(rig.settings.SilenceTime.load(), 600);
  EXPECT_STREQ(rig.status.Read().value, "OK!");
}

TEST(CalibrationStates, SilentMeasurementAndExtraPresses) {
  Rig rig;
  rig.engine.PressAutoMode();
  rig.Block(int16_t{0});
  rig.Block(int16_t{0});
  rig.engine.PressAutoMode();
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.settings.peakThreshold.load(), DefaultEngineSettings.peakThreshold);
  EXPECT_STREQ(rig.status.Read().title, kCalibrationNothingHeard);

  // Four presses before a block: the state stays above 3 and inert.
  Rig inert;
  for (int i = 0; i < 4; ++i) {
    inert.engine.PressAutoMode();
  }
  inert.settings.Speed = 1.7F;
  inert.Block(int16_t{0});
  EXPECT_EQ(inert.engine.AutoModeState(), 4);
  EXPECT_EQ(inert.settings.Speed.load(), 1.7F);
  inert.engine.ResetAutoMode();
  EXPECT_EQ(inert.engine.AutoModeState(), 0);
}

TEST(CalibrationStates, TakeInProgressEndsAfterTheLongSilenceAndPlays) {
  Rig rig;
  rig.Block(Square(3000));
  ASSERT_TRUE(rig.engine.Recording());
  rig.engine.PressAutoMode();
  int blocks = 0;
  while (rig.engine.Recording() && blocks < 500) {
    rig.Block(int16_t{0});
    ++blocks;
  }
  EXPECT_EQ(blocks, 100);  // 2000 ms at 20 ms a block
  EXPECT_TRUE(rig.engine.Playing());
}

TEST(DisplayFrame, PacedAt34Milliseconds) {
  Rig rig;
  rig.stepMs = 33;
  rig.Block(int16_t{0});
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.frames.frames, 0);
  rig.stepMs = 1;
  rig.clock.now += 1;  // 34 ms since the first block
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.frames.frames, 1);
}

TEST(DisplayFrame, MeterSegments) {
  for (auto [level, lit] : {std::pair{4, 0}, {5, 1}, {100, 20}, {5000, 20}, {-3, 0}}) {
    EXPECT_EQ(MeterSegments(level), lit) << level;
  }
}

TEST(DisplayFrame, TraceGeometryAndScale) {
  std::vector<int16_t> s(880, 32767);
  std::array<Point, kMaxTracePoints> pts{};
  ASSERT_EQ(ComputeTrace(s.data(), 880, 32768, pts), 80U);
  EXPECT_EQ(pts[0].x, 60 + int32_t((10U * uint32_t(230.0 / 880 * 4194304.0)) >> 22));
  EXPECT_EQ(pts[0].y, 173 + 72);

  std::vector<int16_t> small(880, 4000);
  ComputeTrace(small.data(), 880, 32768, pts);
  const int32_t full = pts[5].y - 173;
  ComputeTrace(small.data(), 880, 16384, pts);
  EXPECT_NEAR(pts[5].y - 173, 2 * full, 1);

  // A tiny divisor must not wrap the product to the other side.
  ComputeTrace(s.data(), 880, 1, pts);
  EXPECT_EQ(pts[0].y, kDisplayArea.bottom);
  std::vector<int16_t> neg(880, -32768);
  ComputeTrace(neg.data(), 880, 92, pts);
  EXPECT_EQ(pts[0].y, kDisplayArea.top);
}

TEST(DisplayFrame, BarsScaleWithTheDivisorAndKeepTheirStub) {
  std::array<int16_t, 41> im{};
  im[3] = 100;
  im[7] = -100;
  std::array<int32_t, kSpectrumBars> h{};
  ComputeBars(im.data(), 0, 32768, h);
  EXPECT_EQ(h[0], 2);
  const int32_t at = h[3] - 2;
  EXPECT_EQ(h[7], h[3]);
  ComputeBars(im.data(), 0, 16384, h);
  EXPECT_NEAR(h[3] - 2, 2 * at, 1);
  im[3] = -32768;
  ComputeBars(im.data(), 0, 1, h);
  EXPECT_EQ(h[3], kBarBaseY - kDisplayArea.top);
}

TEST(DisplayFrame, StatusIsDrawnUntilItsTimeRunsOut) {
  Rig rig;
  rig.stepMs = 40;
  rig.Block(int16_t{0});
  rig.status.ShowStatus("", "%s", "HELLO");
  rig.Block(int16_t{0});
  EXPECT_TRUE(rig.frames.last.statusVisible);
  EXPECT_EQ(rig.frames.last.valueTop, 84);
  rig.status.ShowStatus("TITLE", " ");
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.frames.last.valueTop, 86);
  EXPECT_STREQ(rig.frames.last.status.title, "TITLE");

  int shown = 0;
  for (int i = 0; i < 100 && rig.frames.last.statusVisible; ++i) {
    rig.Block(int16_t{0});
    ++shown;
  }
  EXPECT_FALSE(rig.frames.last.statusVisible);
  EXPECT_NEAR(shown * 40, 2000, 80);
  EXPECT_STREQ(rig.status.Read().title, "TITLE");  // kept, just not shown
}

TEST(DisplayFrame, DrawsTheSameComparesWhatIsDrawnOnly) {
  DisplayFrame base;
  base.traceCount = 2;
  base.trace[0] = {60, 173};
  base.trace[1] = {62, 173};
  base.statusVisible = true;
  std::strcpy(base.status.value, "REC");
  struct Case {
    const char* change;
    void (*apply)(DisplayFrame&);
    bool same;
  } cases[] = {
      {"nothing", [](DisplayFrame&) {}, true},
      {"status time", [](DisplayFrame& f) { f.status.timeMs = 1234; }, true},
      {"a point beyond the count",
       [](DisplayFrame& f) {
         f.trace[5] = {1, 1};
       },
       true},
      {"meter", [](DisplayFrame& f) { f.meterSegments = 1; }, false},
      {"a trace point", [](DisplayFrame& f) { f.trace[1].y = 174; }, false},
      {"point count", [](DisplayFrame& f) { f.traceCount = 1; }, false},
      {"a bar", [](DisplayFrame& f) { f.barHeights[40] = 3; }, false},
      {"value text", [](DisplayFrame& f) { f.status.value[0] = 'P'; }, false},
      {"title text", [](DisplayFrame& f) { f.status.title[0] = 'T'; }, false},
      {"value position", [](DisplayFrame& f) { f.valueTop = 86; }, false},
      {"status hidden", [](DisplayFrame& f) { f.statusVisible = false; }, false},
  };
  for (const Case& c : cases) {
    DisplayFrame changed = base;
    c.apply(changed);
    EXPECT_EQ(DrawsTheSame(base, changed), c.same) << c.change;
  }
  DisplayFrame hiddenA = base;
  DisplayFrame hiddenB = base;
  hiddenA.statusVisible = hiddenB.statusVisible = false;
  hiddenB.status.value[0] = 'X';
  EXPECT_TRUE(DrawsTheSame(hiddenA, hiddenB)) << "hidden texts are not drawn";
}

TEST(StatusDisplay, LongTextsAreCutNeverOverflow) {
  StatusDisplay status;
  const std::string longTitle(1000, 'T');
  const std::string longValue(1000, 'V');
  status.ShowStatus(longTitle.c_str(), "%s", longValue.c_str());
  const StatusSnapshot s = status.Read();
  EXPECT_EQ(std::strlen(s.title), kStatusTitleCapacity - 1);
  EXPECT_EQ(std::strlen(s.value), kStatusValueCapacity - 1);
  status.ShowStatus(nullptr, nullptr);
  EXPECT_STREQ(status.Read().value, "");
}

// Out of range acts as the nearest harmless value; in range, exactly as set.
TEST(HostileSettings, ActAsTheNearestHarmlessValue) {
  auto takeLength = [](float speed) {
    Rig rig;
    rig.settings.Speed = speed;
    rig.settings.SilenceTime = 0;
    rig.Block(Square(5000));
    return rig.engine.Ring().WritePos();
  };
  EXPECT_EQ(takeLength(9.0F), takeLength(2.2F));
  EXPECT_EQ(takeLength(0.01F), takeLength(0.5F));
  EXPECT_EQ(takeLength(-3.0F), takeLength(0.5F));
  EXPECT_EQ(takeLength(std::nanf("")), 880);

  const EffectiveSettings e = MakeEffective({0, 40, 600, 1.0F, 0, 1000, 7.0F, 1 << 30, 0, -9});
  EXPECT_EQ(e.peakThreshold, 1);
  EXPECT_EQ(e.delay, 300);
  EXPECT_EQ(e.decay, 1.0F);
  EXPECT_EQ(e.bpf, 5120);
  EXPECT_EQ(e.oscilloDivisor, 1);
  const EffectiveSettings c = MakeEffective({40000, 100, 2000, 2.2F, 1, 0, 0.0F, 121, 0, 92});
  EXPECT_EQ(c.peakThreshold, 40000);
  EXPECT_EQ(c.speedStep, 9227469U);
  EXPECT_EQ(c.bpf, 121);
  EXPECT_EQ(c.oscilloDivisor, 92);
}

TEST(ApplySettings, ControlPositionsFollowTheRecord) {
  Rig rig;
  rig.settings.Speed = 1.1F;
  rig.settings.Decay = 0.4F;
  rig.settings.Bpf = 5120;
  rig.settings.Echo = 1;
  rig.settings.Delay = 150;
  rig.settings.SilenceTime = 600;
  rig.engine.ApplySettings();
  EXPECT_EQ(rig.controls.last.speedSlider, 110);
  EXPECT_EQ(rig.controls.last.decayKnob, 40);
  EXPECT_EQ(rig.controls.last.bandPassKnob, 100);
  EXPECT_EQ(rig.controls.last.delayKnob, 50);
  EXPECT_TRUE(rig.controls.last.echoKnobsEnabled);
  rig.settings.Bpf = 121;
  rig.settings.Echo = 0;
  rig.engine.ApplySettings();
  EXPECT_EQ(rig.controls.last.bandPassKnob, 0);
  EXPECT_FALSE(rig.controls.last.echoKnobsEnabled);

  // The capture thread picks up the design on its next block.
  rig.Block(int16_t{0});
  EXPECT_EQ(rig.engine.Filter().Frequency(), 121.0F);
}

TEST(ResetSettings, KeepsTheTwoTunedLevels) {
  Rig rig;
  rig.settings.Store({4128, 7, 20, 2.0F, 1, 3, 0.1F, 500, 1, 16384});
  ResetSettings(rig.settings, rig.engine);
  EngineSettingsValues want = DefaultEngineSettings;
  want.peakThreshold = 4128;
  want.oscilloDivisor = 16384;
  EXPECT_EQ(rig.settings.Load(), want);
  EXPECT_EQ(rig.controls.calls, 1);
}

}  // namespace
}  // namespace mimicore
