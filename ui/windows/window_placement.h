// Where the main window opens: at the position stored from the last run,
// unless the user could then neither see nor grab it (a monitor that has
// since been detached, or only a corner of the round window's box left on
// a screen, where the window has no pixel at all).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace mimicore {

// Screen pixels, right and bottom exclusive.
struct ScreenRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct WindowOrigin {
  int32_t x;
  int32_t y;
  friend bool operator==(const WindowOrigin&, const WindowOrigin&) = default;
};

// The side of the square of the window that must lie whole on one monitor:
// enough to see the window and to drag it back.
inline constexpr int32_t kGripSize = 40;

// The rectangles of a stored region (the platform's region data: a 32-byte
// header of size 32, kind 1, count, rectangle bytes and bounds, then the
// rectangles, all little-endian). Empty when the data is not that.
std::vector<ScreenRect> ParseRegionRects(std::span<const uint8_t> data);

// Every top-left corner, in window coordinates, of a kGripSize square that
// lies whole inside |shape| (a union of rectangles within the window's
// |width| x |height|) and clear of |avoid| (the close button: grabbing it
// would close the program).
std::vector<WindowOrigin> GripSquares(std::span<const ScreenRect> shape, int32_t width,
                                      int32_t height, ScreenRect avoid);

// |stored| kept exactly when one of the |grips| squares of a window there
// lies whole on one of |monitors|; otherwise, and when nothing is stored (x
// is kNoWindowPosition), |centred|. Safe for any stored value.
WindowOrigin ChooseWindowOrigin(WindowOrigin stored, std::span<const WindowOrigin> grips,
                                std::span<const ScreenRect> monitors, WindowOrigin centred);

}  // namespace mimicore
