// The knob of the settings panel: a value from 0 to 100 shown by a needle
// over a face bitmap whose pure black pixels let the background through.
// Pressing on it and moving sideways turns it; the pointer is held on the
// spot where the drag began, so one drag can sweep the whole range.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/controls/control_win.h"
#include "ui/controls/gdi_guards_win.h"

namespace mimicore {

class RotaryKnob : public PointerControl {
 public:
  RotaryKnob() = default;
  ~RotaryKnob() override;

  // Takes ownership of the face bitmaps in every case, also when it fails.
  // False, holding no surfaces, when the normal face is missing, the bounds
  // are empty or a context, bitmap or pen could not be made. A missing hover
  // or pressed face shows the normal one. Takes the background from
  // |target| at the bounds. A second call gives back what the first made.
  bool Setup(const RECT& bounds, HRGN region, COLORREF needleColour, HBITMAP normal,
             HCURSOR normalCursor, HBITMAP hover, HCURSOR hoverCursor, HBITMAP pressed,
             HCURSOR pressedCursor, HWND owner, HDC target);
  // Bounds (x, y, x + w - 1, y + h - 1) from the normal face's size.
  bool SetupAt(int32_t x, int32_t y, HRGN region, COLORREF needleColour, HBITMAP normal,
               HCURSOR normalCursor, HBITMAP hover, HCURSOR hoverCursor, HBITMAP pressed,
               HCURSOR pressedCursor, HWND owner, HDC target);
  // Replaces the background with |source|'s pixels at the bounds.
  void CaptureBackground(HDC source);
  // Sets the value from the program: redraws and posts WM_KNOB_SET unless
  // |v| is the current value. Before setup it only stores the value.
  void SetPosition(int32_t v);
  [[nodiscard]] int32_t Value() const { return value_; }

  void Draw(HDC hdc = nullptr) override;
  bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  // In the knob's own coordinates; the owner may change both after setup.
  POINT needleCentre{};
  int32_t radius = 0;

 private:
  void Release();
  [[nodiscard]] int32_t Width() const { return bounds.right - bounds.left + 1; }
  [[nodiscard]] int32_t Height() const { return bounds.bottom - bounds.top + 1; }
  void Turn(HWND window, WPARAM wParam, LPARAM lParam);
  void EndDrag(LPARAM lParam);

  // Declaration order is release order reversed: the face context goes
  // first, then the faces, the mask, the composition and its pen, and the
  // background last.
  Surface background_;
  GdiObject pen_;
  Surface composition_;
  Surface mask_;
  StateBitmaps faces_;
  MemoryDc faceDc_;

  HDC target_ = nullptr;
  COLORREF needleColour_ = 0;
  int32_t value_ = 0;
  POINT anchor_{};
  bool dragging_ = false;
};

}  // namespace mimicore
