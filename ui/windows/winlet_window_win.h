// One object per top-level window: registers its class, creates, shows and,
// when the object goes, destroys the window.
#pragma once

#include <windows.h>

#include <cstdint>

namespace mimicore {

// Posts WM_QUIT on WM_DESTROY and on Esc; everything also goes to
// DefWindowProcA.
LRESULT CALLBACK DefaultWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Windows that exist and belong to a WinletWindow, across the process.
int32_t LiveWinletWindows();

class WinletWindow {
 public:
  WinletWindow() = default;
  virtual ~WinletWindow();
  WinletWindow(const WinletWindow&) = delete;
  WinletWindow& operator=(const WinletWindow&) = delete;

  // Any of procedure, className, title, rect, parent and cursor may be null:
  // the title defaults to "WinletCore", the class name to the title plus
  // "c", the procedure to DefaultWindowProc, the rectangle to the desktop
  // work area. True when a window was created; false when the class could
  // not be registered or the window not created. The class is registered
  // with |instance|, which also holds the icon.
  bool Create(HINSTANCE instance, WNDPROC procedure, const char* className, const char* title,
              const RECT* rect, HWND parent, HCURSOR cursor, DWORD style);
  void Show(int showCommand);

  // Null once the window is gone, whoever destroyed it.
  [[nodiscard]] HWND Window() const { return window_; }
  [[nodiscard]] HINSTANCE Instance() const { return instance_; }
  [[nodiscard]] bool OwnsWindow() const { return ownsWindow_ != 0; }

 private:
  // Every class gets this procedure: it remembers which object a window
  // belongs to, forwards to that object's procedure and forgets the window
  // on WM_NCDESTROY, so no destructor later destroys a handle that may by
  // then name another window.
  static LRESULT CALLBACK Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE instance_ = nullptr;
  WNDPROC procedure_ = nullptr;
  HWND window_ = nullptr;
  int32_t ownsWindow_ = 1;
};

}  // namespace mimicore
