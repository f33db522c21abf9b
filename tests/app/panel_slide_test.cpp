#include "app/panel_slide.h"

#include <gtest/gtest.h>

#include <vector>

namespace mimicore {
namespace {

std::vector<int32_t> Travel(PanelSlide& slide, uint32_t& now) {
  std::vector<int32_t> seen;
  for (int i = 0; i < 40; ++i) {
    if (auto p = slide.Step(now)) {
      seen.push_back(*p);
      if (!slide.WaitBeforeNextStep(now)) {
        break;
      }
    }
    now += 50;
  }
  return seen;
}

TEST(PanelSlide, OpensAndShutsInTenthsEvery50Ms) {
  PanelSlide slide;
  uint32_t now = 5000;
  ASSERT_EQ(slide.Step(now), 0);  // at rest: placed at once
  EXPECT_FALSE(slide.WaitBeforeNextStep(now));
  slide.Toggle();
  EXPECT_EQ(slide.WaitBeforeNextStep(now), 0U);
  EXPECT_EQ(Travel(slide, now),
            (std::vector<int32_t>{24, 48, 72, 96, 120, 144, 168, 192, 216, 240, 243}));
  slide.Toggle();
  EXPECT_EQ(Travel(slide, now), (std::vector<int32_t>{218, 193, 168, 143, 118, 93, 68, 43, 18, 0}));
}

TEST(PanelSlide, AClickMidSlideTurnsItBackFromWhereItIs) {
  PanelSlide slide;
  uint32_t now = 0;
  slide.Toggle();
  ASSERT_EQ(slide.Step(now), 24);
  ASSERT_EQ(slide.Step(now += 50), 48);
  slide.Toggle();
  now += 50;
  EXPECT_EQ(Travel(slide, now), (std::vector<int32_t>{23, 0}));
}

TEST(PanelSlide, StepsWaitWhileMovingAndCatchUpAfterAGap) {
  PanelSlide slide;
  uint32_t now = 100;
  slide.SetOpen(true);
  ASSERT_EQ(slide.Step(now), 24);
  EXPECT_EQ(slide.Step(now + 49), std::nullopt);
  EXPECT_EQ(slide.WaitBeforeNextStep(now + 20), 30U);
  // 200 ms: four tenths in one step.
  EXPECT_EQ(slide.Step(now + 200), int32_t((24.0 / 243 + 0.4) * 243));
  // A huge gap (or a wrapped clock) never leaves the travel.
  EXPECT_EQ(slide.Step(now + 100000), 243);
  slide.SetOpen(false);
  EXPECT_EQ(slide.Step(now + 100000), 218);
  EXPECT_EQ(slide.Step(now + 100000 + 0xFFFFFF00U), 0);
}

}  // namespace
}  // namespace mimicore
