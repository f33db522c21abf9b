#include "ui/controls/rotary_knob_win.h"

#include <algorithm>
#include <cmath>

namespace mimicore {

namespace {

constexpr int32_t kMaxValue = 100;

}  // namespace

RotaryKnob::~RotaryKnob() { Release(); }

void RotaryKnob::Release() {
  faceDc_.Reset();
  faces_.Reset();
  mask_.Reset();
  composition_.Reset();
  pen_.Reset();
  background_.Reset();
  target_ = nullptr;
}

bool RotaryKnob::Setup(const RECT& where, HRGN region, COLORREF needleColour, HBITMAP normal,
                       HCURSOR normalCursor, HBITMAP hover, HCURSOR hoverCursor, HBITMAP pressed,
                       HCURSOR pressedCursor, HWND owner, HDC target) {
  Release();
  faces_.Take(normal, hover, pressed);
  bounds = where;
  this->region = region;
  needleColour_ = needleColour;
  target_ = target;
  pointer_.Setup(owner, normalCursor, hoverCursor, pressedCursor);
  needleCentre = {(bounds.right - bounds.left) / 2, (bounds.bottom - bounds.top) / 2};
  radius = std::min(bounds.right - bounds.left, bounds.bottom - bounds.top) / 2;

  const int32_t w = Width();
  const int32_t h = Height();
  SIZE size{};
  // The surfaces are made at the screen's depth; a zero size would give a
  // 1 x 1 monochrome bitmap instead of a failure.
  ScreenDc screen;
  bool made = BitmapSize(normal, &size) && w > 0 && h > 0 && screen && faceDc_.Create(target);
  if (made) {
    faceDc_.Select(faces_.Normal());
    pen_.Reset(CreatePen(PS_SOLID, 3, needleColour));
    made = pen_ && background_.Create(target, CreateCompatibleBitmap(screen.Get(), w, h)) &&
           mask_.Create(nullptr, CreateBitmap(w, h, 1, 1, nullptr)) &&
           composition_.Create(target, CreateCompatibleBitmap(screen.Get(), w, h));
  }
  if (!made) {
    Release();
    return false;
  }
  composition_.Context().Select(pen_.Get());
  CaptureBackground(target);
  return true;
}

bool RotaryKnob::SetupAt(int32_t x, int32_t y, HRGN region, COLORREF needleColour, HBITMAP normal,
                         HCURSOR normalCursor, HBITMAP hover, HCURSOR hoverCursor, HBITMAP pressed,
                         HCURSOR pressedCursor, HWND owner, HDC target) {
  SIZE size{};
  BitmapSize(normal, &size);  // a failure is Setup's to report
  const RECT at{x, y, x + size.cx - 1, y + size.cy - 1};
  return Setup(at, region, needleColour, normal, normalCursor, hover, hoverCursor, pressed,
               pressedCursor, owner, target);
}

void RotaryKnob::CaptureBackground(HDC source) {
  if (source != nullptr && background_) {
    BitBlt(background_.Dc(), 0, 0, Width(), Height(), source, bounds.left, bounds.top, SRCCOPY);
  }
}

void RotaryKnob::SetPosition(int32_t v) {
  // Compared before the clamp: a value outside the range always redraws and
  // notifies, which the owner takes as no change.
  if (v == value_) {
    return;
  }
  value_ = std::clamp(v, 0, kMaxValue);
  Draw();
  pointer_.Post(WM_KNOB_SET, id, 0);
}

void RotaryKnob::Draw(HDC hdc) {
  HDC target = hdc != nullptr ? hdc : target_;
  if (target == nullptr || !composition_) {
    return;
  }
  const int32_t w = Width();
  const int32_t h = Height();
  HDC face = faceDc_.Get();
  HDC composed = composition_.Dc();
  faceDc_.Select(faces_.For(pointer_.State()));
  BitBlt(composed, 0, 0, w, h, background_.Dc(), 0, 0, SRCCOPY);
  // Colour to monochrome: pixels of the source's background colour become
  // 1, so the mask is set exactly where the face is pure black.
  SetBkColor(face, RGB(0, 0, 0));
  SetTextColor(face, RGB(255, 255, 255));
  BitBlt(mask_.Dc(), 0, 0, w, h, face, 0, 0, SRCCOPY);
  if (enabled != 0) {
    // Monochrome to colour with the composition's default colours (text
    // black, background white): the background survives only under black
    // face pixels.
    BitBlt(composed, 0, 0, w, h, mask_.Dc(), 0, 0, SRCAND);
  }
  // Disabled, the whole face is ORed over the background: a lightened knob.
  BitBlt(composed, 0, 0, w, h, face, 0, 0, SRCPAINT);

  // 0 points down-left, 50 straight up, 100 down-right (y grows downwards).
  // The constants are single precision, the arithmetic double.
  const double degrees = double(value_) * double(2.7F) + double(135.0F);
  const double theta = degrees * double(0.017453292F);
  const auto dx = static_cast<int32_t>(std::cos(theta) * radius);
  const auto dy = static_cast<int32_t>(std::sin(theta) * radius);
  MoveToEx(composed, needleCentre.x, needleCentre.y, nullptr);
  LineTo(composed, needleCentre.x + dx, needleCentre.y + dy);

  BitBlt(target, bounds.left, bounds.top, w, h, composed, 0, 0, SRCCOPY);
}

void RotaryKnob::EndDrag(LPARAM lParam) {
  dragging_ = false;
  if (pointer_.State() == kPressed) {
    OnRelease(MouseX(lParam), MouseY(lParam), 0);
    pointer_.Post(WM_CONTROL_CLICKED, id, lParam);
  }
}

void RotaryKnob::Turn(HWND window, WPARAM wParam, LPARAM lParam) {
  if (!dragging_) {
    return;
  }
  // The button-up can be lost (the capture taken away by another window);
  // without this the knob would go on turning, and pinning the pointer,
  // with the button up.
  if (LeftButtonUp(wParam)) {
    EndDrag(lParam);
    return;
  }
  // Signed here, unlike for hit testing: a fast move past the window's left
  // edge must turn the knob down, not read as a jump of some 65000 pixels.
  const int32_t x = static_cast<int16_t>(LOWORD(lParam));
  if (x == anchor_.x) {
    return;
  }
  value_ = std::clamp(value_ + (x - static_cast<int32_t>(anchor_.x)), 0, kMaxValue);
  Draw();
  POINT pointer = anchor_;
  if (ClientToScreen(window, &pointer) != FALSE) {
    SetCursorPos(pointer.x, pointer.y);
  }
  pointer_.Post(WM_KNOB_CHANGED, id, lParam);
}

bool RotaryKnob::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const int32_t x = MouseX(lParam);
  const int32_t y = MouseY(lParam);
  switch (message) {
    case WM_MOUSEMOVE:
      Turn(window, wParam, lParam);
      // A disabled knob never enters Hover; one already there stays until
      // the pointer leaves.
      FollowPointer(x, y, enabled != 0);
      break;
    case WM_LBUTTONDOWN:
      if (enabled != 0 && HitTest(x, y)) {
        anchor_ = {x, y};
        dragging_ = true;
        OnPress(x, y, 0);
        pointer_.Post(WM_CONTROL_PRESSED, id, lParam);
      }
      break;
    case WM_LBUTTONUP:
      EndDrag(lParam);
      break;
    case WM_PAINT:
      Draw();
      break;
    default:
      break;
  }
  return PointerOver(window);
}

}  // namespace mimicore
