// Where the main window opens: at the position stored from the last run,
// unless that position would leave the window on no screen at all (a
// monitor that has since been detached), which would lose it where the user
// cannot reach it.
#pragma once

#include <cstdint>
#include <span>

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

// |stored| kept exactly when any pixel of a |width| x |height| window there
// lies on one of |monitors|; otherwise, and when nothing is stored (x is
// kNoWindowPosition), |centred|. Safe for any stored value.
WindowOrigin ChooseWindowOrigin(WindowOrigin stored, int32_t width, int32_t height,
                                std::span<const ScreenRect> monitors, WindowOrigin centred);

}  // namespace mimicore
