#include "ui/windows/live_counts_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "core/kernel_handle_win.h"
#include "ui/controls/gdi_guards_win.h"
#include "ui/windows/winlet_window_win.h"

namespace mimicore {
namespace {

LRESULT Ask(HWND window, WPARAM which) {
  return SendMessageA(window, LiveCountsMessage(), which, 0);
}

struct Counts {
  LRESULT objects, kernel, windows;
  friend bool operator==(const Counts&, const Counts&) = default;
};

Counts AskAll(HWND window) {
  return {Ask(window, kGdiObjects), Ask(window, kKernelHandles), Ask(window, kWindows)};
}

class LiveCountsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(LiveCountsMessage(), 0U);
    ASSERT_TRUE(probe_->Create(GetModuleHandleA(nullptr), nullptr, "LiveCountsProbe", nullptr,
                               nullptr, nullptr, nullptr, WS_POPUP));
  }
  void TearDown() override {
    // The wrapper's default procedure quits on WM_DESTROY; leave no WM_QUIT.
    probe_.reset();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  std::unique_ptr<WinletWindow> probe_ = std::make_unique<WinletWindow>();
};

TEST_F(LiveCountsTest, EveryGuardGivesBackWhatItTook) {
  const HWND window = probe_->Window();
  EXPECT_EQ(Ask(window, kSignature), kLiveCountsSignature);
  EXPECT_EQ(Ask(window, kMemoryDcs), LiveGdiCounts().memoryDcs);
  EXPECT_EQ(Ask(window, kWindowDcs), LiveGdiCounts().windowDcs);
  EXPECT_EQ(Ask(window, kLiveCountEnd), 0);
  EXPECT_EQ(Ask(window, std::numeric_limits<WPARAM>::max()), 0);
  const Counts before = AskAll(window);
  EXPECT_EQ(before, (Counts{LiveGdiCounts().objects, LiveKernelHandles(), LiveWinletWindows()}));
  {
    GdiObject pen(CreatePen(PS_SOLID, 1, RGB(1, 2, 3)));
    KernelHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    WinletWindow other;
    ASSERT_TRUE(other.Create(GetModuleHandleA(nullptr), nullptr, "LiveCountsOther", nullptr,
                             nullptr, nullptr, nullptr, WS_POPUP));
    EXPECT_EQ(AskAll(window), (Counts{before.objects + 1, before.kernel + 1, before.windows + 1}));
    // Destroyed behind its object's back: still counted off once.
    DestroyWindow(other.Window());
    EXPECT_EQ(Ask(window, kWindows), before.windows);
    // Handed away: no longer the guard's, left open for its new owner.
    HANDLE kept = event.Release();
    EXPECT_EQ(Ask(window, kKernelHandles), before.kernel);
    EXPECT_NE(WaitForSingleObject(kept, 0), WAIT_FAILED);
    CloseHandle(kept);
  }
  EXPECT_EQ(AskAll(window), before);
}

}  // namespace
}  // namespace mimicore
