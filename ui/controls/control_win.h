// Controls that skinned windows draw themselves instead of using child
// windows: the base class, the notifications they post to their owner, and
// the list through which a window offers its messages to its controls.
// Everything here runs on the thread that owns the windows.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>

#include "ui/controls/gdi_guards_win.h"

namespace mimicore {

// Posted (never sent) to a control's owner; wParam is the control's id.
inline constexpr UINT WM_CONTROL_PRESSED = WM_USER + 10;  // lParam: the button-down's lParam
inline constexpr UINT WM_CONTROL_CLICKED = WM_USER + 11;  // lParam: the button-up's lParam
inline constexpr UINT WM_KNOB_CHANGED = WM_USER + 20;     // lParam: the mouse move's lParam
inline constexpr UINT WM_KNOB_SET = WM_USER + 21;         // lParam: 0

enum ControlState : int32_t { kNormal = 1, kHover = 2, kPressed = 3 };

// Whether the left button is up, for a pointer move with the key flags
// |keys|. A move the program causes itself (SetCursorPos) may come without
// the flags under some platforms, so the button counts as up only when the
// thread's key state agrees.
inline bool LeftButtonUp(WPARAM keys) {
  return (keys & MK_LBUTTON) == 0 && (GetKeyState(VK_LBUTTON) & 0x8000) == 0;
}

class Control {
 public:
  Control();
  virtual ~Control();
  // The id is the object's address, so a copy would share it.
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // Paints into |hdc|, or into the control's own target when null.
  virtual void Draw(HDC hdc = nullptr);
  virtual void OnHover(int32_t x, int32_t y);
  virtual void OnPress(int32_t x, int32_t y, int32_t flags);
  virtual void OnRelease(int32_t x, int32_t y, int32_t flags);
  // Offers one message of the owner window; true when the pointer is over
  // the control afterwards.
  virtual bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // The region when there is one, else left <= x < right, top <= y < bottom.
  [[nodiscard]] bool HitTest(int32_t x, int32_t y) const;

  RECT bounds{};
  HRGN region = nullptr;  // hit shape in client coordinates; not owned
  WPARAM id;
  int32_t enabled = 1;

 protected:
  // Mouse coordinates are the lParam's two unsigned words: a point left of
  // or above the client area (under capture) becomes large and hits nothing.
  static int32_t MouseX(LPARAM lParam) { return static_cast<int32_t>(LOWORD(lParam)); }
  static int32_t MouseY(LPARAM lParam) { return static_cast<int32_t>(HIWORD(lParam)); }
  // Whether the pointer's current position, in |window|'s client
  // coordinates, hits the control.
  [[nodiscard]] bool PointerOver(HWND window) const;
};

// The pointer side of the three-state controls: the state, the cursor that
// goes with each state, the owner's mouse capture and the notifications.
class PointerStates {
 public:
  void Setup(HWND owner, HCURSOR normal, HCURSOR hover, HCURSOR pressed);
  [[nodiscard]] ControlState State() const { return state_; }
  [[nodiscard]] HWND Owner() const { return owner_; }

  // Enters |state| and shows its cursor, if it has one.
  void Enter(ControlState state);
  void TakeCapture() const;
  // Only when the owner holds it: the capture may belong to another window
  // of the thread by now.
  void DropCapture() const;
  // Nothing without an owner: a null window would make it a thread message.
  void Post(UINT message, WPARAM id, LPARAM lParam) const;

 private:
  HWND owner_ = nullptr;
  HCURSOR cursors_[3] = {};
  ControlState state_ = kNormal;
};

// A control that follows the pointer through Normal, Hover and Pressed:
// the button and the knob move between their states the same way and
// differ only in how they draw and what a message means to them.
class PointerControl : public Control {
 public:
  [[nodiscard]] int32_t State() const { return pointer_.State(); }

  // Hover: cursor, redraw, capture taken (once).
  void OnHover(int32_t x, int32_t y) override;
  // Pressed: cursor, redraw; the capture is left as it is.
  void OnPress(int32_t x, int32_t y, int32_t flags) override;
  // Back to Hover when the pointer is still over the control, else Normal
  // with the capture given back.
  void OnRelease(int32_t x, int32_t y, int32_t flags) override;

 protected:
  // A mouse move to (x, y): Hover while over the control (when it may, and
  // not while pressed); a hovering pointer that leaves goes back to Normal.
  void FollowPointer(int32_t x, int32_t y, bool mayHover);

  PointerStates pointer_;
};

// The pictures of the three states, owned. A missing hover or pressed
// picture shows the normal one; a handle given twice is owned once, since
// deleting it twice could delete an unrelated object that reused it.
class StateBitmaps {
 public:
  void Take(HBITMAP normal, HBITMAP hover, HBITMAP pressed);
  // Declared before the contexts they are selected into, so the contexts
  // go first; Reset is for a second setup.
  void Reset();
  [[nodiscard]] HBITMAP For(ControlState state) const;
  [[nodiscard]] HBITMAP Normal() const { return shown_[0]; }

 private:
  std::array<GdiObject, 3> owned_;
  std::array<HBITMAP, 3> shown_{};
};

// Offers a window's messages to its controls, in the order they were added.
// It does not own the controls.
class ControlList {
 public:
  ControlList() = default;
  virtual ~ControlList();
  ControlList(const ControlList&) = delete;
  ControlList& operator=(const ControlList&) = delete;

  // Appends |control|; false for a null control or when the array could not
  // grow (the list is then unchanged).
  bool Add(Control* control);
  // Stops at the first control that claims the pointer and returns true;
  // WM_PAINT goes to every control. The count is read once, before the
  // first control sees the message.
  bool Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Whether any control's shape holds the client point (x, y).
  [[nodiscard]] bool Covers(int32_t x, int32_t y) const;

 private:
  std::unique_ptr<Control*[]> items_;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

// Width and height of |bitmap|; false when it is not a bitmap.
bool BitmapSize(HBITMAP bitmap, SIZE* size);

}  // namespace mimicore
