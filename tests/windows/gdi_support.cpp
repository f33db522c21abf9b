#include "gdi_support.h"

#include <algorithm>

#include "ui/controls/control_win.h"

namespace mimicore::testing {

std::vector<std::pair<HWND, UINT>>& SeenMessages() {
  static std::vector<std::pair<HWND, UINT>> seen;
  return seen;
}

bool Saw(HWND window, UINT message) {
  const auto& seen = SeenMessages();
  return std::find(seen.begin(), seen.end(), std::pair{window, message}) != seen.end();
}

LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SeenMessages().emplace_back(window, message);
  return message == kEchoMessage ? Echo(wParam, lParam)
                                 : DefWindowProcA(window, message, wParam, lParam);
}

HiddenWindow::HiddenWindow(int32_t x, int32_t y, int32_t width, int32_t height) {
  static const ATOM registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &RecordingProcedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MimicoreTestWindow";
    return RegisterClassA(&wc);
  }();
  window_ = CreateWindowExA(0, MAKEINTATOM(registered), "", WS_POPUP, x, y, width, height, nullptr,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
}

HiddenWindow::~HiddenWindow() {
  if (window_ != nullptr) {
    DestroyWindow(window_);
  }
  // Whatever the window left in the queue belongs to no later test.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

HBITMAP MakeBitmap(int32_t width, int32_t height, COLORREF fill,
                   const std::vector<PixelOverride>& pixels) {
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HGDIOBJ saved = SelectObject(dc, bitmap);
  HBRUSH brush = CreateSolidBrush(fill);
  const RECT all{0, 0, width, height};
  FillRect(dc, &all, brush);
  DeleteObject(brush);
  for (const PixelOverride& p : pixels) {
    SetPixel(dc, p.x, p.y, p.colour);
  }
  SelectObject(dc, saved);
  DeleteDC(dc);
  return bitmap;
}

Canvas::Canvas(int32_t width, int32_t height, COLORREF fill,
               const std::vector<PixelOverride>& pixels)
    : bitmap_(MakeBitmap(width, height, fill, pixels)),
      dc_(CreateCompatibleDC(nullptr)),
      saved_(SelectObject(dc_, bitmap_)) {}

Canvas::~Canvas() {
  SelectObject(dc_, saved_);
  DeleteDC(dc_);
  DeleteObject(bitmap_);
}

std::vector<Notification> TakeNotifications(HWND owner) {
  std::vector<Notification> taken;
  MSG msg;
  while (PeekMessageA(&msg, owner, WM_CONTROL_PRESSED, WM_KNOB_SET, PM_REMOVE)) {
    taken.push_back({msg.message, msg.wParam, msg.lParam});
  }
  return taken;
}

bool PutPointer(HWND window, int32_t x, int32_t y) {
  POINT p{x, y};
  ClientToScreen(window, &p);
  SetCursorPos(p.x, p.y);
  POINT now{};
  return GetCursorPos(&now) != FALSE && now.x == p.x && now.y == p.y;
}

}  // namespace mimicore::testing
