#include "ui/windows/window_placement.h"

#include "settings/engine_settings.h"

namespace mimicore {

namespace {

// In 64 bits: a stored position may be anywhere up to INT32_MAX, and the
// window's far edge must not wrap round onto a screen.
bool Overlaps(int64_t left, int64_t top, int64_t right, int64_t bottom, const ScreenRect& m) {
  return left < m.right && m.left < right && top < m.bottom && m.top < bottom;
}

}  // namespace

WindowOrigin ChooseWindowOrigin(WindowOrigin stored, int32_t width, int32_t height,
                                std::span<const ScreenRect> monitors, WindowOrigin centred) {
  if (stored.x == kNoWindowPosition) {
    return centred;
  }
  const int64_t right = int64_t{stored.x} + width;
  const int64_t bottom = int64_t{stored.y} + height;
  for (const ScreenRect& m : monitors) {
    if (Overlaps(stored.x, stored.y, right, bottom, m)) {
      return stored;
    }
  }
  return centred;
}

}  // namespace mimicore
