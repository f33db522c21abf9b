#include "ui/windows/winlet_window_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

namespace mimicore {
namespace {

// True when a WM_QUIT is waiting; takes the queue's other messages on the
// way.
bool QuitPosted() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      return true;
    }
    DispatchMessageA(&msg);
  }
  return false;
}

TEST(WinletWindow, EscapeAndDestructionPostQuit) {
  RECT small{0, 0, 50, 50};
  {
    WinletWindow w;
    ASSERT_TRUE(w.Create(GetModuleHandleA(nullptr), nullptr, "EscProbeClass", "EscProbe", &small,
                         nullptr, nullptr, WS_POPUP));
    while (QuitPosted()) {
    }
    SendMessageA(w.Window(), WM_KEYDOWN, 'A', 0);
    EXPECT_FALSE(QuitPosted());
    SendMessageA(w.Window(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(QuitPosted());
  }
  // The object's end destroyed the window, which posts WM_QUIT too.
  EXPECT_TRUE(QuitPosted());
  EXPECT_EQ(FindWindowA("EscProbeClass", "EscProbe"), nullptr);

  // A window destroyed by someone else (its owner, at shut-down) is
  // forgotten: the object neither keeps nor destroys the stale handle.
  {
    WinletWindow w;
    ASSERT_TRUE(w.Create(GetModuleHandleA(nullptr), nullptr, "GoneProbeClass", "GoneProbe", &small,
                         nullptr, nullptr, WS_POPUP));
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(GetClassLongPtrA(w.Window(), GCLP_HMODULE)),
              GetModuleHandleA(nullptr));
    DestroyWindow(w.Window());
    EXPECT_EQ(w.Window(), nullptr);
  }
  EXPECT_TRUE(QuitPosted());

  // An object that never got a window destroys nothing.
  auto empty = std::make_unique<WinletWindow>();
  EXPECT_EQ(empty->Window(), nullptr);
  empty.reset();
  EXPECT_FALSE(QuitPosted());
}

}  // namespace
}  // namespace mimicore
