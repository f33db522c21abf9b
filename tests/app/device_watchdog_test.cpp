#include "app/device_watchdog.h"

#include <gtest/gtest.h>

#include <vector>

namespace mimicore {
namespace {

using Action = DeviceWatchdog::Action;

struct Look {
  uint32_t at;
  DeviceCounts counts;
  Action expected;
};

struct Case {
  const char* name;
  uint32_t start;
  std::vector<Look> looks;
  LostDevice lostAtEnd;
};

// Capture returns one buffer per look unless noted; |c| builds the counts.
constexpr DeviceCounts c(uint32_t capture, uint32_t played = 0, int32_t queued = 0) {
  return {capture, played, queued};
}

const Case kCases[] = {
    {"a working capture is never given up",
     0,
     {{500, c(25), Action::kNone}, {2500, c(125), Action::kNone}, {60000, c(3000), Action::kNone}},
     LostDevice::kNone},
    {"capture silent for two seconds is lost, not a moment before",
     0,
     {{1000, c(50), Action::kNone},
      {2999, c(50), Action::kNone},
      {3000, c(50), Action::kGiveUp},
      {3100, c(50), Action::kNone}},
     LostDevice::kCapture},
    {"silence from the very start counts too",
     100,
     {{2099, c(0), Action::kNone}, {2100, c(0), Action::kGiveUp}},
     LostDevice::kCapture},
    {"an idle output owes nothing however long",
     0,
     {{3000, c(150), Action::kNone}, {9000, c(450), Action::kNone}},
     LostDevice::kNone},
    {"queued output that never plays is lost from when it was queued",
     0,
     {{5000, c(250, 7, 0), Action::kNone},
      {5200, c(260, 7, 3), Action::kNone},
      {7100, c(355, 7, 3), Action::kNone},
      {7200, c(360, 7, 3), Action::kGiveUp}},
     LostDevice::kPlayback},
    {"output that keeps playing is not lost",
     0,
     {{1000, c(50, 1, 5), Action::kNone},
      {2500, c(125, 40, 5), Action::kNone},
      {4000, c(200, 90, 5), Action::kNone}},
     LostDevice::kNone},
    {"counts and clock that wrap are progress as any other",
     0xFFFFFC00U,
     {{0x00000100U, c(0xFFFFFFFFU), Action::kNone},
      {0x00000500U, c(0x00000010U), Action::kNone},
      {0x00000500U + kDeviceLostAfterMs, c(0x00000010U), Action::kGiveUp}},
     LostDevice::kCapture},
};

TEST(DeviceWatchdog, TakesADeviceForLostOnlyAfterTwoSilentSeconds) {
  for (const Case& k : kCases) {
    DeviceWatchdog dog;
    dog.Restart(k.start, c(0));
    for (const Look& look : k.looks) {
      EXPECT_EQ(dog.Look(look.at, look.counts), look.expected) << k.name << " at " << look.at;
    }
    EXPECT_EQ(dog.Lost(), k.lostAtEnd) << k.name;
  }
}

TEST(DeviceWatchdog, TriesAgainEveryTwoSecondsUntilTheDevicesRun) {
  DeviceWatchdog dog;
  dog.Restart(0, c(0));
  ASSERT_EQ(dog.Look(2000, c(0)), Action::kGiveUp);
  std::vector<uint32_t> attempts;
  for (uint32_t t = 2250; t <= 8000; t += 250) {
    if (dog.Look(t, c(0)) == Action::kReopen) {
      attempts.push_back(t);
      dog.Reopened(t, c(0), /*running=*/t >= 8000);
    }
  }
  EXPECT_EQ(attempts, (std::vector<uint32_t>{4000, 6000, 8000}));
  EXPECT_EQ(dog.Lost(), LostDevice::kNone);
  // Running again: the new device gets its own two seconds.
  EXPECT_EQ(dog.Look(9999, c(0)), Action::kNone);
  EXPECT_EQ(dog.Look(10000, c(0)), Action::kGiveUp);
}

}  // namespace
}  // namespace mimicore
