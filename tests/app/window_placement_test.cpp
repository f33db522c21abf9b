// The stored main-window position against the monitors attached now, and
// the single-instance verdict.
#include "ui/windows/window_placement.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "app/startup.h"
#include "settings/engine_settings.h"

namespace mimicore {
namespace {

constexpr int32_t kW = 342;
constexpr int32_t kH = 350;
constexpr WindowOrigin kCentred{341, 209};

TEST(WindowPlacement, StoredPositionKeptOnlyWhereSomePixelIsOnAScreen) {
  const std::vector<ScreenRect> single{{0, 0, 1024, 768}};
  // A second monitor left of the primary one, with its top lower.
  const std::vector<ScreenRect> pair{{0, 0, 1024, 768}, {-1280, 100, 0, 1124}};
  struct Case {
    WindowOrigin stored;
    const std::vector<ScreenRect>* monitors;
    bool kept;
  } cases[] = {
      {{100, 100}, &single, true},
      {{0, 0}, &single, true},
      {{-kW + 1, -kH + 1}, &single, true},  // one pixel on screen
      {{1023, 767}, &single, true},
      {{-kW, 100}, &single, false},  // touching the edge, not on it
      {{1024, 100}, &single, false},
      {{100, 768}, &single, false},
      {{100, -kH}, &single, false},
      {{-30000, -30000}, &single, false},
      {{-1000, 500}, &single, false},
      {{-1000, 500}, &pair, true},
      {{-1000, -300}, &pair, false},  // above the lower monitor, left of the primary
      {{INT_MAX, INT_MAX}, &pair, false},
      {{INT_MIN, INT_MIN}, &pair, false},
      {{INT_MAX - kW + 1, 0}, &pair, false},  // far edge must not wrap onto a screen
      {{100, 100}, nullptr, false},           // no monitor known
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stored.x << "," << c.stored.y);
    const std::vector<ScreenRect> none;
    const auto& monitors = c.monitors != nullptr ? *c.monitors : none;
    EXPECT_EQ(ChooseWindowOrigin(c.stored, kW, kH, monitors, kCentred),
              c.kept ? c.stored : kCentred);
  }
}

TEST(WindowPlacement, NothingStoredCentresWhateverTheOtherCoordinate) {
  const std::vector<ScreenRect> single{{0, 0, 1024, 768}};
  for (const int32_t y : {kNoWindowPosition, 0, 100, INT_MIN}) {
    EXPECT_EQ(ChooseWindowOrigin({kNoWindowPosition, y}, kW, kH, single, kCentred), kCentred);
  }
}

TEST(SingleInstance, OnlyAFreshlyCreatedMarkMeansFirst) {
  EXPECT_TRUE(IsFirstInstance(true, false));
  EXPECT_FALSE(IsFirstInstance(true, true));
  EXPECT_FALSE(IsFirstInstance(false, false));  // access denied: one runs elsewhere
  EXPECT_FALSE(IsFirstInstance(false, true));
}

}  // namespace
}  // namespace mimicore
