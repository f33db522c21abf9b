#include "app/winlet_window_win.h"

#include <string>

namespace mimicore {

namespace {
constexpr const char* kDefaultTitle = "WinletCore";
constexpr WORD kProgramIcon = 32512;
}  // namespace

LRESULT CALLBACK DefaultWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY || (message == WM_KEYDOWN && wParam == VK_ESCAPE)) {
    PostQuitMessage(0);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

WinletWindow::~WinletWindow() {
  if (window_ != nullptr && ownsWindow_ != 0) {
    DestroyWindow(window_);
  }
  window_ = nullptr;
}

bool WinletWindow::Create(HINSTANCE instance, WNDPROC procedure, const char* className,
                          const char* title, const RECT* rect, HWND parent, HCURSOR cursor,
                          DWORD style) {
  instance_ = instance;
  const std::string windowTitle = title != nullptr ? title : kDefaultTitle;
  const std::string windowClass = className != nullptr ? className : windowTitle + "c";

  WNDCLASSA wc{};
  wc.style = CS_OWNDC;
  wc.lpfnWndProc = procedure != nullptr ? procedure : DefaultWindowProc;
  wc.hInstance = nullptr;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kProgramIcon));
  wc.hCursor = cursor;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = windowClass.c_str();
  RegisterClassA(&wc);  // a second registration of the same class is harmless

  RECT area{};
  if (rect != nullptr) {
    area = *rect;
  } else {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  window_ = CreateWindowExA(0, windowClass.c_str(), windowTitle.c_str(), style, area.left, area.top,
                            area.right - area.left, area.bottom - area.top, parent, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  ownsWindow_ = 1;
  return window_ != nullptr;
}

void WinletWindow::Show(int showCommand) {
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
}

}  // namespace mimicore
