#include "ui/windows/winlet_window_win.h"

#include <atomic>
#include <string>

#include "ui/windows/live_counts_win.h"

namespace mimicore {

namespace {
constexpr const char* kDefaultTitle = "WinletCore";
constexpr WORD kProgramIcon = 32512;
std::atomic<int32_t> g_liveWindows{0};
}  // namespace

int32_t LiveWinletWindows() { return g_liveWindows.load(); }

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

LRESULT CALLBACK WinletWindow::Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (const UINT query = LiveCountsMessage(); query != 0 && message == query) {
    return AnswerLiveCount(wParam);
  }
  // The platform carries these pointers as integers.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  auto* self = reinterpret_cast<WinletWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_NCCREATE && lParam != 0) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    self = static_cast<WinletWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    if (self != nullptr) {
      self->window_ = window;
      g_liveWindows.fetch_add(1);
    }
  }
  const WNDPROC procedure =
      self != nullptr && self->procedure_ != nullptr ? self->procedure_ : DefaultWindowProc;
  const LRESULT result = procedure(window, message, wParam, lParam);
  if (message == WM_NCDESTROY && self != nullptr) {
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    if (self->window_ == window) {
      self->window_ = nullptr;
      g_liveWindows.fetch_sub(1);
    }
  }
  return result;
}

bool WinletWindow::Create(HINSTANCE instance, WNDPROC procedure, const char* className,
                          const char* title, const RECT* rect, HWND parent, HCURSOR cursor,
                          DWORD style) {
  if (window_ != nullptr && ownsWindow_ != 0) {
    DestroyWindow(window_);  // one window per object
  }
  instance_ = instance;
  procedure_ = procedure != nullptr ? procedure : DefaultWindowProc;
  const std::string windowTitle = title != nullptr ? title : kDefaultTitle;
  const std::string windowClass = className != nullptr ? className : windowTitle + "c";

  WNDCLASSA wc{};
  wc.style = CS_OWNDC;
  wc.lpfnWndProc = Route;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kProgramIcon));
  wc.hCursor = cursor;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = windowClass.c_str();
  // A class this module registered before (a second window, or a window
  // made again) is fine: it routes through the same procedure.
  if (RegisterClassA(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }

  RECT area{};
  if (rect != nullptr) {
    area = *rect;
  } else {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  }
  // Route stores the handle as soon as the window exists (WM_NCCREATE), so
  // messages sent during creation already find their object.
  const HWND created = CreateWindowExA(0, windowClass.c_str(), windowTitle.c_str(), style,
                                       area.left, area.top, area.right - area.left,
                                       area.bottom - area.top, parent, nullptr, instance, this);
  ownsWindow_ = 1;
  window_ = created;
  return created != nullptr;
}

void WinletWindow::Show(int showCommand) {
  if (window_ == nullptr) {
    return;
  }
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
}

}  // namespace mimicore
