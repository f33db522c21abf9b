// Makes the trackbars of a skinned window blend into its skin: the window's
// procedure is replaced by one that answers the trackbars' custom draw with
// the window's background behind each trackbar and a bitmap thumb on it,
// and gives static-coloured children a hollow brush. Everything else goes
// on to the window's own procedure.
#pragma once

#include <windows.h>

#include <memory>

#include "ui/controls/gdi_guards_win.h"

namespace mimicore {

class TrackbarSkin {
 public:
  // Null when it could not be made: no window of this thread, a thumb that
  // is not a bitmap, no context, the procedure not replaced, or a skin that
  // is still alive (there is one per process). Takes ownership of both
  // thumb bitmaps in every case. |background| holds the window's picture
  // in its client coordinates and must outlive the skin; not owned.
  static std::unique_ptr<TrackbarSkin> Create(HWND window, HBITMAP horizontalThumb,
                                              HBITMAP verticalThumb, HDC background);
  // Puts the previous procedure back first, if the skin's own is still the
  // window's; then the thumbs go.
  virtual ~TrackbarSkin();
  TrackbarSkin(const TrackbarSkin&) = delete;
  TrackbarSkin& operator=(const TrackbarSkin&) = delete;

 private:
  TrackbarSkin() = default;
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // True, with |result| set, when the notification in |lParam| was a
  // trackbar's custom draw that the skin answers.
  bool CustomDraw(LPARAM lParam, LRESULT* result) const;
  [[nodiscard]] bool IsOwnTrackbar(HWND child) const;
  void Uninstall();

  GdiObject horizontalThumb_;  // the thumbs before their contexts
  GdiObject verticalThumb_;
  SIZE horizontalSize_{};
  SIZE verticalSize_{};
  MemoryDc horizontalDc_;
  MemoryDc verticalDc_;
  WNDPROC previous_ = nullptr;
  HWND window_ = nullptr;  // null once the window is gone
  HDC background_ = nullptr;
};

}  // namespace mimicore
