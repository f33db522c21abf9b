// The window wrapper's defaults and its default procedure, on a real (Wine)
// window manager.
#include "ui/windows/winlet_window_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

namespace mimicore {
namespace {

std::string ClassOf(HWND window) {
  std::array<char, 256> name{};
  GetClassNameA(window, name.data(), int(name.size()));
  return name.data();
}

std::string TitleOf(HWND window) {
  std::array<char, 256> title{};
  GetWindowTextA(window, title.data(), int(title.size()));
  return title.data();
}

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

TEST(WinletWindow, DefaultsNameTheWindowAndItsClass) {
  WinletWindow plain;
  EXPECT_TRUE(plain.OwnsWindow());
  RECT small{10, 20, 110, 70};
  ASSERT_TRUE(plain.Create(GetModuleHandleA(nullptr), nullptr, nullptr, nullptr, &small, nullptr,
                           nullptr, WS_POPUP));
  EXPECT_EQ(TitleOf(plain.Window()), "WinletCore");
  EXPECT_EQ(ClassOf(plain.Window()), "WinletCorec");
  RECT r{};
  GetWindowRect(plain.Window(), &r);
  EXPECT_EQ(r.right - r.left, 100);
  EXPECT_EQ(r.bottom - r.top, 50);

  WinletWindow titled;
  ASSERT_TRUE(titled.Create(GetModuleHandleA(nullptr), nullptr, nullptr, "Probe", nullptr, nullptr,
                            nullptr, WS_POPUP));
  EXPECT_EQ(ClassOf(titled.Window()), "Probec");
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(titled.Window(), &r);
  EXPECT_EQ(r.left, work.left);
  EXPECT_EQ(r.top, work.top);
  EXPECT_EQ(r.right - r.left, work.right - work.left);
  EXPECT_EQ(r.bottom - r.top, work.bottom - work.top);
  while (QuitPosted()) {
  }
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
