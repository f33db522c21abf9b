// A second instance looks for the running one's panel: a window or message
// box that merely carries the same title must not be taken for it.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/windows/skinned_windows_win.h"
#include "ui/windows/winlet_window_win.h"

namespace mimicore {
namespace {

TEST(SingleInstance, RunningPanelFoundByClassAndTitleNotTitleAlone) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  const RECT area{0, 0, 40, 40};
  WinletWindow panel;
  ASSERT_TRUE(
      panel.Create(instance, nullptr, "MimClss", "Mimicore", &area, nullptr, nullptr, WS_POPUP));
  // Created last, so a search by title alone meets it first.
  WinletWindow decoy;
  ASSERT_TRUE(
      decoy.Create(instance, nullptr, "MimDecoy", "Mimicore", &area, nullptr, nullptr, WS_POPUP));
  EXPECT_EQ(SkinnedWindows::FindRunningPanel(), panel.Window());
  DestroyWindow(panel.Window());
  EXPECT_EQ(SkinnedWindows::FindRunningPanel(), nullptr);
}

}  // namespace
}  // namespace mimicore
