#include "ui/windows/window_placement.h"

#include <algorithm>

#include "core/little_endian.h"
#include "settings/engine_settings.h"

namespace mimicore {

std::vector<ScreenRect> ParseRegionRects(std::span<const uint8_t> data) {
  constexpr size_t kHeader = 32;
  constexpr size_t kRect = 16;
  if (data.size() < kHeader || GetLe32(data.data()) != kHeader || GetLe32(data.data() + 4) != 1) {
    return {};
  }
  const uint64_t count = GetLe32(data.data() + 8);
  if (count * kRect != GetLe32(data.data() + 12) || kHeader + count * kRect > data.size()) {
    return {};
  }
  std::vector<ScreenRect> rects;
  rects.reserve(size_t(count));
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* r = data.data() + kHeader + i * kRect;
    rects.push_back({int32_t(GetLe32(r)), int32_t(GetLe32(r + 4)), int32_t(GetLe32(r + 8)),
                     int32_t(GetLe32(r + 12))});
  }
  return rects;
}

std::vector<WindowOrigin> GripSquares(std::span<const ScreenRect> shape, int32_t width,
                                      int32_t height, ScreenRect avoid) {
  if (width <= 0 || height <= 0) {
    return {};
  }
  const auto w = size_t(width);
  const auto h = size_t(height);
  // Pixels of the shape counted from the corner: any square's count is
  // then four lookups, and a square inside holds kGripSize^2 of them.
  std::vector<uint32_t> sums((w + 1) * (h + 1), 0);
  std::vector<uint8_t> inside(w * h, 0);
  for (const ScreenRect& r : shape) {
    for (int32_t y = std::max(r.top, 0); y < std::min(r.bottom, height); ++y) {
      for (int32_t x = std::max(r.left, 0); x < std::min(r.right, width); ++x) {
        inside[size_t(y) * w + size_t(x)] = 1;
      }
    }
  }
  for (size_t y = 0; y < h; ++y) {
    for (size_t x = 0; x < w; ++x) {
      sums[(y + 1) * (w + 1) + x + 1] = inside[y * w + x] + sums[y * (w + 1) + x + 1] +
                                        sums[(y + 1) * (w + 1) + x] - sums[y * (w + 1) + x];
    }
  }
  const auto full = uint32_t(kGripSize * kGripSize);
  std::vector<WindowOrigin> grips;
  for (int32_t y = 0; y + kGripSize <= height; ++y) {
    for (int32_t x = 0; x + kGripSize <= width; ++x) {
      const bool clear = x + kGripSize <= avoid.left || avoid.right <= x ||
                         y + kGripSize <= avoid.top || avoid.bottom <= y;
      const size_t x0 = size_t(x);
      const size_t y0 = size_t(y);
      const size_t x1 = x0 + kGripSize;
      const size_t y1 = y0 + kGripSize;
      const uint32_t count = sums[y1 * (w + 1) + x1] - sums[y0 * (w + 1) + x1] -
                             sums[y1 * (w + 1) + x0] + sums[y0 * (w + 1) + x0];
      if (clear && count == full) {
        grips.push_back({x, y});
      }
    }
  }
  return grips;
}

WindowOrigin ChooseWindowOrigin(WindowOrigin stored, std::span<const WindowOrigin> grips,
                                std::span<const ScreenRect> monitors, WindowOrigin centred) {
  if (stored.x == kNoWindowPosition) {
    return centred;
  }
  // In 64 bits: a stored position may be anywhere up to INT32_MAX, and a
  // square's far edge must not wrap round onto a screen.
  for (const WindowOrigin& g : grips) {
    const int64_t left = int64_t{stored.x} + g.x;
    const int64_t top = int64_t{stored.y} + g.y;
    for (const ScreenRect& m : monitors) {
      if (m.left <= left && left + kGripSize <= m.right && m.top <= top &&
          top + kGripSize <= m.bottom) {
        return stored;
      }
    }
  }
  return centred;
}

}  // namespace mimicore
