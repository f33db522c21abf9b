// What the control toolkit tests share: hidden owner windows whose own
// procedure records what reaches it, pixel canvases, test bitmaps, and the
// owner's queue of control notifications.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace mimicore::testing {

// Answered by the recording procedure itself, so a test can tell that a
// message reached it and what came back.
inline constexpr UINT kProbeMessage = WM_USER + 300;
inline constexpr LRESULT kProbeAnswer = 0x5EED;

struct SeenMessage {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
// Every message the recording procedure has seen, of every test window.
std::vector<SeenMessage>& SeenMessages();
bool Saw(HWND window, UINT message);
LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A popup window that is never shown, at (x, y) on the screen.
class HiddenWindow {
 public:
  HiddenWindow(int32_t x, int32_t y, int32_t width, int32_t height);
  ~HiddenWindow();
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;
  [[nodiscard]] HWND Get() const { return window_; }
  // For a test that destroys the window itself.
  void Forget() { window_ = nullptr; }

 private:
  HWND window_ = nullptr;
};

// A 32-bit top-down DIB section in a memory context; pixels read back with
// GetPixel and written as a function of the position.
class Canvas {
 public:
  Canvas(int32_t width, int32_t height, COLORREF fill);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  [[nodiscard]] HDC Dc() const { return dc_; }
  [[nodiscard]] COLORREF At(int32_t x, int32_t y) const { return GetPixel(dc_, x, y); }
  void Paint(const std::function<COLORREF(int32_t x, int32_t y)>& colour);

 private:
  int32_t width_;
  int32_t height_;
  uint32_t* bits_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ saved_ = nullptr;
  HDC dc_ = nullptr;
};

// A screen-compatible bitmap of one colour, with single pixels set to
// others. The caller owns it (or hands it to a control, which then does).
struct PixelOverride {
  int32_t x;
  int32_t y;
  COLORREF colour;
};
HBITMAP MakeBitmap(int32_t width, int32_t height, COLORREF fill,
                   const std::vector<PixelOverride>& pixels = {});

struct Notification {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  friend bool operator==(const Notification&, const Notification&) = default;
};
// Takes the control notifications waiting for |owner|, oldest first.
std::vector<Notification> TakeNotifications(HWND owner);

// Puts the pointer on |window|'s client point (x, y); false when the
// pointer could not be put there.
bool PutPointer(HWND window, int32_t x, int32_t y);

}  // namespace mimicore::testing
