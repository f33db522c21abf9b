// Building and releasing the two skinned windows with the program's own
// resources: where they stand, their shapes, and that a start/close cycle
// gives back every drawing object it made.
#include "ui/windows/skinned_windows_win.h"

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <thread>

#include "ui/controls/gdi_guards_win.h"

namespace mimicore {
namespace {

class CountingApplier final : public SettingsApplier {
 public:
  void ApplySettings() override { ++applied; }
  int applied = 0;
};

struct Program {
  EngineSettings settings;
  AppSettings app;
  CountingApplier applier;
  FrameHandOver frames;
  SkinnedWindows windows{WindowLinks{settings, app, applier, frames}};
};

void DrainMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageA(&msg);
  }
}

RECT WindowRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

TEST(SkinnedWindows, PlacedCentredOrWhereStoredAndGoneAfterRelease) {
  const int screenW = GetSystemMetrics(SM_CXSCREEN);
  const int screenH = GetSystemMetrics(SM_CYSCREEN);
  struct Case {
    int32_t winx, winy;
    POINT main;
  } cases[] = {
      {kNoWindowPosition, 77, {(screenW - 342) >> 1, (screenH - 350) >> 1}},
      {100, 50, {100, 50}},
      {-400, 9000, {-400, 9000}},  // kept as stored, even off the screen
  };
  const GdiLiveCounts before = LiveGdiCounts();
  for (const Case& c : cases) {
    Program p;
    p.app.winx = c.winx;
    p.app.winy = c.winy;
    int pumped = 0;
    ASSERT_TRUE(p.windows.Build(GetModuleHandleA(nullptr), {}, [&] { ++pumped; }))
        << p.windows.FailedStep();
    EXPECT_EQ(pumped, c.winx == kNoWindowPosition ? 0 : 2);
    EXPECT_EQ(p.applier.applied, 1);
    const RECT main = WindowRect(p.windows.MainWindow());
    const RECT panel = WindowRect(p.windows.Panel());
    EXPECT_EQ(main.left, c.main.x);
    EXPECT_EQ(main.top, c.main.y);
    EXPECT_EQ(main.right - main.left, 342);
    EXPECT_EQ(panel.left, c.main.x + 66);
    EXPECT_EQ(panel.top, c.main.y + 72);
    EXPECT_EQ(panel.right - panel.left, 297);
    EXPECT_EQ(GetWindow(p.windows.MainWindow(), GW_OWNER), p.windows.Panel());
    EXPECT_NE(GetDlgItem(p.windows.Panel(), kSpeedSliderId), nullptr);
    EXPECT_GT(LiveGdiCounts().objects, before.objects);
    DrainMessages();
    p.windows.Release();
    EXPECT_EQ(p.windows.MainWindow(), nullptr);
    EXPECT_EQ(FindWindowA("MimClss", "Mimicore"), nullptr);
    EXPECT_EQ(FindWindowA("MimClss2", "MimicoreIfc"), nullptr);
    EXPECT_EQ(LiveGdiCounts(), before) << "after the cycle with winx " << c.winx;
    DrainMessages();
  }
}

TEST(SkinnedWindows, ShapesComeFromTheRegionResources) {
  Program p;
  ASSERT_TRUE(p.windows.Build(GetModuleHandleA(nullptr), {}, nullptr)) << p.windows.FailedStep();
  struct Case {
    HWND window;
    POINT point;
    bool inside;
  } cases[] = {
      {p.windows.MainWindow(), {0, 0}, false},     {p.windows.MainWindow(), {158, 0}, true},
      {p.windows.MainWindow(), {192, 0}, false},   {p.windows.MainWindow(), {170, 349}, true},
      {p.windows.MainWindow(), {341, 175}, false}, {p.windows.MainWindow(), {170, 175}, true},
      {p.windows.Panel(), {0, 0}, true},           {p.windows.Panel(), {264, 0}, false},
      {p.windows.Panel(), {10, 103}, false},       {p.windows.Panel(), {295, 103}, true},
      {p.windows.Panel(), {296, 103}, false},
  };
  for (const Case& c : cases) {
    GdiObject shape(CreateRectRgn(0, 0, 0, 0));
    ASSERT_NE(GetWindowRgn(c.window, shape.Region()), ERROR);
    EXPECT_EQ(PtInRegion(shape.Region(), c.point.x, c.point.y) != 0, c.inside)
        << c.point.x << "," << c.point.y;
  }
  p.windows.Release();
  DrainMessages();
}

TEST(SkinnedWindows, AModuleWithoutTheArtworkFailsAndLeavesNothing) {
  const GdiLiveCounts before = LiveGdiCounts();
  Program p;
  EXPECT_FALSE(p.windows.Build(GetModuleHandleA("kernel32.dll"), {}, nullptr));
  EXPECT_EQ(p.windows.MainWindow(), nullptr);
  EXPECT_EQ(FindWindowA("MimClss", "Mimicore"), nullptr);
  EXPECT_EQ(LiveGdiCounts(), before);
  DrainMessages();
}

TEST(SkinnedWindows, PositionsFromAnotherThreadReachTheControlsThroughTheQueue) {
  Program p;
  ASSERT_TRUE(p.windows.Build(GetModuleHandleA(nullptr), {}, nullptr)) << p.windows.FailedStep();
  HWND speed = GetDlgItem(p.windows.Panel(), kSpeedSliderId);
  HWND echo = GetDlgItem(p.windows.Panel(), kEchoSwitchId);
  ControlPositions positions;
  positions.speedSlider = 137;
  positions.thresholdSlider = 12;
  positions.echoChecked = true;
  std::thread([&] { p.windows.ShowSettings(positions); }).join();
  EXPECT_NE(SendMessageA(speed, TBM_GETPOS, 0, 0), 137) << "not before the window thread runs";
  DrainMessages();
  EXPECT_EQ(SendMessageA(speed, TBM_GETPOS, 0, 0), 137);
  EXPECT_EQ(SendMessageA(echo, BM_GETCHECK, 0, 0), BST_CHECKED);
  p.windows.Release();
  DrainMessages();
}

}  // namespace
}  // namespace mimicore
