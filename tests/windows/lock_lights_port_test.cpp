// The lock keys as read for the lights: a toggle that another thread's
// window received (as when another program has the focus) must be seen.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/lock_lights_win.h"

namespace mimicore {
namespace {

std::atomic<int> g_capsReleases{0};

LRESULT CALLBACK CountCaps(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYUP && wParam == VK_CAPITAL) {
    g_capsReleases.fetch_add(1);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void PressCaps() {
  keybd_event(VK_CAPITAL, kLockKeyScanCode, KEYEVENTF_EXTENDEDKEY, 0);
  keybd_event(VK_CAPITAL, kLockKeyScanCode, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
}

bool WaitForReleases(int count) {
  for (int i = 0; i < 500 && g_capsReleases.load() < count; ++i) {
    Sleep(10);
  }
  return g_capsReleases.load() >= count;
}

TEST(LockLightsPort, SeesAToggleThatAnotherThreadsWindowReceived) {
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread's own queue
  std::atomic<HWND> focus{nullptr};
  std::atomic<bool> stop{false};
  std::thread other([&] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = CountCaps;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "LockLightsFocus";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "focus", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    SetForegroundWindow(window);
    SetFocus(window);
    focus.store(window);
    while (!stop.load()) {
      MSG m;
      while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&m);
      }
      Sleep(5);
    }
    DestroyWindow(window);
  });
  while (focus.load() == nullptr) {
    Sleep(5);
  }
  Sleep(200);

  WinKeyboardPort port;
  KeyTable before{};
  port.ReadKeys(before);
  const int releases = g_capsReleases.load();
  PressCaps();
  const bool received = WaitForReleases(releases + 1);
  KeyTable after{};
  port.ReadKeys(after);
  // Put the key back as it was, through the same window.
  PressCaps();
  WaitForReleases(releases + 2);
  stop.store(true);
  other.join();

  ASSERT_TRUE(received) << "the focus window never got the key";
  EXPECT_NE(LockLights::IsLit(after, kVkCapsLock), LockLights::IsLit(before, kVkCapsLock));
}

}  // namespace
}  // namespace mimicore
