#include "ui/controls/bitmap_button_win.h"

namespace mimicore {

BitmapButton::~BitmapButton() { Release(); }

void BitmapButton::Release() {
  memory_.Reset();
  bitmaps_.Reset();
  target_ = nullptr;
}

bool BitmapButton::Setup(const RECT& where, HRGN region, HBITMAP normal, HCURSOR normalCursor,
                         HBITMAP hover, HCURSOR hoverCursor, HBITMAP pressed, HCURSOR pressedCursor,
                         HWND owner, HDC target) {
  Release();
  bitmaps_.Take(normal, hover, pressed);
  bounds = where;
  this->region = region;
  target_ = target;
  pointer_.Setup(owner, normalCursor, hoverCursor, pressedCursor);
  SIZE size{};
  if (!BitmapSize(normal, &size) || !memory_.Create(target)) {
    Release();
    return false;
  }
  return true;
}

bool BitmapButton::SetupAt(int32_t x, int32_t y, HRGN region, HBITMAP normal, HCURSOR normalCursor,
                           HBITMAP hover, HCURSOR hoverCursor, HBITMAP pressed,
                           HCURSOR pressedCursor, HWND owner, HDC target) {
  SIZE size{};
  BitmapSize(normal, &size);  // a failure is Setup's to report
  const RECT at{x, y, x + size.cx - 1, y + size.cy - 1};
  return Setup(at, region, normal, normalCursor, hover, hoverCursor, pressed, pressedCursor, owner,
               target);
}

void BitmapButton::Draw(HDC hdc) {
  HDC target = hdc != nullptr ? hdc : target_;
  if (target == nullptr || !memory_) {
    return;
  }
  memory_.Select(bitmaps_.For(pointer_.State()));
  BitBlt(target, bounds.left, bounds.top, bounds.right - bounds.left + 1,
         bounds.bottom - bounds.top + 1, memory_.Get(), 0, 0, SRCCOPY);
  memory_.Restore();
}

bool BitmapButton::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const int32_t x = MouseX(lParam);
  const int32_t y = MouseY(lParam);
  switch (message) {
    case WM_PAINT:
      Draw();
      break;
    case WM_MOUSEMOVE:
      // A press whose release went elsewhere is cancelled, never clicked:
      // a lost release must not close the program.
      if (pointer_.State() == kPressed && LeftButtonUp(wParam)) {
        CancelPress();
      }
      FollowPointer(x, y, true);
      break;
    case WM_CAPTURECHANGED:
      if (pointer_.State() == kPressed && lParam != 0 &&
          lParam != reinterpret_cast<LPARAM>(pointer_.Owner())) {
        CancelPress();
      }
      break;
    case WM_LBUTTONDOWN:
      if (HitTest(x, y)) {
        OnPress(x, y, 0);
        pointer_.Post(WM_CONTROL_PRESSED, id, lParam);
      }
      break;
    case WM_LBUTTONUP:
      if (pointer_.State() == kPressed) {
        OnRelease(x, y, 0);
        pointer_.Post(WM_CONTROL_CLICKED, id, lParam);
      }
      break;
    default:
      break;
  }
  return PointerOver(window);
}

void BitmapButton::CancelPress() {
  pointer_.Enter(kNormal);
  Draw();
}

}  // namespace mimicore
