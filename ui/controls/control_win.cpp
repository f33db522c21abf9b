#include "ui/controls/control_win.h"

#include <new>
#include <utility>

namespace mimicore {

Control::Control() : id(reinterpret_cast<WPARAM>(this)) {}

Control::~Control() = default;

void Control::Draw(HDC /*hdc*/) {}
void Control::OnHover(int32_t /*x*/, int32_t /*y*/) {}
void Control::OnPress(int32_t /*x*/, int32_t /*y*/, int32_t /*flags*/) {}
void Control::OnRelease(int32_t /*x*/, int32_t /*y*/, int32_t /*flags*/) {}

bool Control::HandleMessage(HWND /*window*/, UINT /*message*/, WPARAM /*wParam*/,
                            LPARAM /*lParam*/) {
  return false;
}

bool Control::HitTest(int32_t x, int32_t y) const {
  if (region != nullptr) {
    return PtInRegion(region, x, y) != FALSE;
  }
  const POINT point{x, y};
  return PtInRect(&bounds, point) != FALSE;
}

bool Control::PointerOver(HWND window) const {
  POINT pointer{};
  if (GetCursorPos(&pointer) == FALSE || ScreenToClient(window, &pointer) == FALSE) {
    return false;
  }
  return HitTest(pointer.x, pointer.y);
}

void PointerStates::Setup(HWND owner, HCURSOR normal, HCURSOR hover, HCURSOR pressed) {
  owner_ = owner;
  cursors_[0] = normal;
  cursors_[1] = hover;
  cursors_[2] = pressed;
  state_ = kNormal;
}

void PointerStates::Enter(ControlState state) {
  state_ = state;
  HCURSOR cursor = cursors_[state - kNormal];
  if (cursor != nullptr) {
    SetCursor(cursor);
  }
}

void PointerStates::TakeCapture() const {
  if (owner_ != nullptr) {
    SetCapture(owner_);
  }
}

void PointerStates::DropCapture() const {
  if (owner_ != nullptr && GetCapture() == owner_) {
    ReleaseCapture();
  }
}

void PointerStates::Post(UINT message, WPARAM id, LPARAM lParam) const {
  if (owner_ != nullptr) {
    PostMessageA(owner_, message, id, lParam);
  }
}

void StateBitmaps::Take(HBITMAP normal, HBITMAP hover, HBITMAP pressed) {
  Reset();
  shown_ = {normal, hover != nullptr ? hover : normal, pressed != nullptr ? pressed : normal};
  for (size_t i = 0; i < shown_.size(); ++i) {
    bool seen = false;
    for (size_t j = 0; j < i; ++j) {
      seen = seen || shown_[j] == shown_[i];
    }
    if (!seen) {
      owned_[i].Reset(shown_[i]);
    }
  }
}

void StateBitmaps::Reset() {
  for (GdiObject& bitmap : owned_) {
    bitmap.Reset();
  }
  shown_ = {};
}

HBITMAP StateBitmaps::For(ControlState state) const {
  return state == kHover ? shown_[1] : state == kPressed ? shown_[2] : shown_[0];
}

ControlList::~ControlList() = default;

bool ControlList::Add(Control* control) {
  if (control == nullptr) {
    return false;
  }
  if (count_ == capacity_) {
    const int32_t capacity = capacity_ == 0 ? 16 : capacity_ * 2;
    std::unique_ptr<Control*[]> items(new (std::nothrow) Control*[capacity]);
    if (!items) {
      return false;
    }
    for (int32_t i = 0; i < count_; ++i) {
      items[i] = items_[i];
    }
    items_ = std::move(items);
    capacity_ = capacity;
  }
  items_[count_++] = control;
  return true;
}

bool ControlList::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const int32_t count = count_;
  bool claimed = false;
  for (int32_t i = 0; i < count; ++i) {
    // Indexed afresh each time: a control may add to the list while it
    // handles the message, which can move the array.
    if (items_[i]->HandleMessage(window, message, wParam, lParam)) {
      claimed = true;
      if (message != WM_PAINT) {
        return true;
      }
    }
  }
  return claimed;
}

bool ControlList::Covers(int32_t x, int32_t y) const {
  for (int32_t i = 0; i < count_; ++i) {
    if (items_[i]->HitTest(x, y)) {
      return true;
    }
  }
  return false;
}

bool BitmapSize(HBITMAP bitmap, SIZE* size) {
  BITMAP info{};
  if (bitmap == nullptr || GetObjectType(bitmap) != OBJ_BITMAP ||
      GetObjectA(bitmap, sizeof info, &info) == 0) {
    return false;
  }
  *size = SIZE{info.bmWidth, info.bmHeight};
  return true;
}

void PointerControl::OnHover(int32_t /*x*/, int32_t /*y*/) {
  if (pointer_.State() == kHover) {
    return;
  }
  pointer_.Enter(kHover);
  Draw();
  pointer_.TakeCapture();
}

void PointerControl::OnPress(int32_t /*x*/, int32_t /*y*/, int32_t /*flags*/) {
  if (pointer_.State() == kPressed) {
    return;
  }
  pointer_.Enter(kPressed);
  Draw();
}

void PointerControl::OnRelease(int32_t x, int32_t y, int32_t /*flags*/) {
  if (HitTest(x, y)) {
    OnHover(x, y);
    return;
  }
  pointer_.Enter(kNormal);
  Draw();
  pointer_.DropCapture();
}

void PointerControl::FollowPointer(int32_t x, int32_t y, bool mayHover) {
  if (mayHover && HitTest(x, y)) {
    if (pointer_.State() != kPressed) {
      OnHover(x, y);
    }
  } else if (pointer_.State() == kHover) {
    OnRelease(x, y, 0);
  }
}

}  // namespace mimicore
