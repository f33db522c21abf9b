#include "controls_support.h"

#include "ui/controls/control_win.h"

namespace mimicore::testing {

namespace {

constexpr char kClassName[] = "MimicoreControlsTestOwner";

void RegisterOnce() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = &RecordingProcedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    return RegisterClassA(&wc) != 0;
  }();
  (void)registered;
}

}  // namespace

std::vector<SeenMessage>& SeenMessages() {
  static std::vector<SeenMessage> seen;
  return seen;
}

bool Saw(HWND window, UINT message) {
  for (const SeenMessage& m : SeenMessages()) {
    if (m.window == window && m.message == message) {
      return true;
    }
  }
  return false;
}

LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SeenMessages().push_back({window, message, wParam, lParam});
  if (message == kProbeMessage) {
    return kProbeAnswer;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HiddenWindow::HiddenWindow(int32_t x, int32_t y, int32_t width, int32_t height) {
  RegisterOnce();
  window_ = CreateWindowExA(0, kClassName, "", WS_POPUP, x, y, width, height, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
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

Canvas::Canvas(int32_t width, int32_t height, COLORREF fill) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bits_ = static_cast<uint32_t*>(bits);
  dc_ = CreateCompatibleDC(nullptr);
  saved_ = SelectObject(dc_, bitmap_);
  Paint([fill](int32_t, int32_t) { return fill; });
}

Canvas::~Canvas() {
  SelectObject(dc_, saved_);
  DeleteDC(dc_);
  DeleteObject(bitmap_);
}

void Canvas::Paint(const std::function<COLORREF(int32_t x, int32_t y)>& colour) {
  if (bits_ == nullptr) {
    return;
  }
  GdiFlush();
  for (int32_t y = 0; y < height_; ++y) {
    for (int32_t x = 0; x < width_; ++x) {
      const COLORREF c = colour(x, y);
      // The DIB keeps blue in the low byte; COLORREF keeps red there.
      bits_[y * width_ + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
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
