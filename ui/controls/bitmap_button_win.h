// The push button of the skinned windows: one bitmap per state, a cursor
// per state, and WM_CONTROL_PRESSED / WM_CONTROL_CLICKED to its owner.
#pragma once

#include <windows.h>

#include <cstdint>

#include "ui/controls/control_win.h"
#include "ui/controls/gdi_guards_win.h"

namespace mimicore {

class BitmapButton : public PointerControl {
 public:
  BitmapButton() = default;
  ~BitmapButton() override;

  // Takes ownership of the three bitmaps in every case, also when it fails.
  // False, holding nothing, when the normal bitmap is missing or the memory
  // context could not be made. A hover or pressed bitmap may be null: the
  // normal one stands in. Cursors, region and target are not owned. A
  // second call gives back what the first made.
  bool Setup(const RECT& bounds, HRGN region, HBITMAP normal, HCURSOR normalCursor, HBITMAP hover,
             HCURSOR hoverCursor, HBITMAP pressed, HCURSOR pressedCursor, HWND owner, HDC target);
  // Bounds (x, y, x + w - 1, y + h - 1) from the normal bitmap's size.
  bool SetupAt(int32_t x, int32_t y, HRGN region, HBITMAP normal, HCURSOR normalCursor,
               HBITMAP hover, HCURSOR hoverCursor, HBITMAP pressed, HCURSOR pressedCursor,
               HWND owner, HDC target);

  void Draw(HDC hdc = nullptr) override;
  bool HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Release();
  void CancelPress();

  StateBitmaps bitmaps_;  // declared before the context they are selected into
  MemoryDc memory_;
  HDC target_ = nullptr;
};

}  // namespace mimicore
