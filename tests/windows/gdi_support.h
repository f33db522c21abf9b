// What the Windows-side drawing tests share: hidden windows whose procedure
// records what reaches it, pixel canvases, test bitmaps, and the queue of
// control notifications.
#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace mimicore::testing {

// The recording procedure answers this with its wParam and lParam, so a
// test can tell that it reached the window unchanged.
inline constexpr UINT kEchoMessage = WM_USER + 300;
inline LRESULT Echo(WPARAM wParam, LPARAM lParam) { return LRESULT(wParam) * 1000 + lParam; }

// The window and message of each call of the recording procedure.
std::vector<std::pair<HWND, UINT>>& SeenMessages();
bool Saw(HWND window, UINT message);
LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A popup window with the recording procedure, never shown, at (x, y).
class HiddenWindow {
 public:
  HiddenWindow(int32_t x, int32_t y, int32_t width, int32_t height);
  ~HiddenWindow();
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;
  [[nodiscard]] HWND Get() const { return window_; }
  void Forget() { window_ = nullptr; }  // the test destroyed it

 private:
  HWND window_ = nullptr;
};

// A screen-compatible bitmap of one colour with single pixels set to
// others. The caller owns it (or hands it to a control, which then does).
struct PixelOverride {
  int32_t x;
  int32_t y;
  COLORREF colour;
};
HBITMAP MakeBitmap(int32_t width, int32_t height, COLORREF fill,
                   const std::vector<PixelOverride>& pixels = {});

// Such a bitmap in a memory context, read back pixel by pixel. It uses no
// guard of the program's, so the live GDI counts do not see it.
class Canvas {
 public:
  Canvas(int32_t width, int32_t height, COLORREF fill,
         const std::vector<PixelOverride>& pixels = {});
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  [[nodiscard]] HDC Dc() const { return dc_; }
  [[nodiscard]] COLORREF At(int32_t x, int32_t y) const { return GetPixel(dc_, x, y); }

 private:
  HBITMAP bitmap_;
  HDC dc_;
  HGDIOBJ saved_;
};

// A mouse message's lParam for the client point (x, y).
inline LPARAM MouseAt(int32_t x, int32_t y) {
  return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

struct Notification {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  friend bool operator==(const Notification&, const Notification&) = default;
};
// Takes the control notifications waiting for |owner|, oldest first.
std::vector<Notification> TakeNotifications(HWND owner);
// The one notification |message| of control |id|; none for message 0.
inline std::vector<Notification> Posted(UINT message, WPARAM id, LPARAM lParam) {
  return message != 0 ? std::vector<Notification>{{message, id, lParam}}
                      : std::vector<Notification>{};
}

// Puts the pointer on |window|'s client point (x, y); false when the
// display would not let it move.
bool PutPointer(HWND window, int32_t x, int32_t y);

}  // namespace mimicore::testing
