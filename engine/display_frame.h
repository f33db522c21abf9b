// One frame of the live display as plain data: what a renderer draws on
// the main window (oscilloscope, spectrum bars, status texts) and on the
// settings panel (level meter). Pixel coordinates, x right, y down.
#pragma once

#include <array>
#include <cstdint>

#include "core/audio_block.h"
#include "core/status_display.h"

namespace mimicore {

struct Point {
  int32_t x;
  int32_t y;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
  int32_t left, top, right, bottom;
};

inline constexpr Rect kDisplayArea{60, 68, 60 + 229, 68 + 213};
inline constexpr Rect kMeterStrip{85, 179, 85 + 139, 179 + 4};
inline constexpr Rect kStatusTextBox{65, 84, 287, 270};
inline constexpr int32_t kMeterSegmentPitch = 7;
inline constexpr int32_t kMeterSegmentWidth = 5;
inline constexpr int32_t kMeterMaxSegments = 20;  // the strip's width
inline constexpr int32_t kTraceZeroY = 173;
inline constexpr Point kZeroLineFrom{60, kTraceZeroY};
inline constexpr Point kZeroLineTo{290, kTraceZeroY};
inline constexpr int32_t kSpectrumBars = 41;
inline constexpr int32_t kBarBaseY = 281;
inline constexpr int32_t kBarRightX = 273;  // bin 0; bin i stands at 273 - i
inline constexpr int32_t kTraceEvery = 11;
inline constexpr uint32_t kMaxTracePoints = kMaxBlockSamples / kTraceEvery;

struct DisplayFrame {
  int32_t meterSegments = 0;  // lit 5 x 4 pieces from the strip's left, 0..20

  uint32_t traceCount = 0;  // polyline points in |trace|
  std::array<Point, kMaxTracePoints> trace{};

  // Bar i runs from (273 - i, 281) up to (273 - i, 281 - barHeights[i]).
  std::array<int32_t, kSpectrumBars> barHeights{};

  // Title (small font) at the text box's top, then the value (large font),
  // 2 pixels lower when there is a title. Nothing when the value is empty.
  bool statusVisible = false;
  StatusSnapshot status;
  int32_t valueTop = kStatusTextBox.top;
};

// Whether two frames put the same pixels on the screen: everything drawn
// is compared, the status's remaining time is not. A quiet
// room gives the same frame over and over, which need not be drawn again.
bool DrawsTheSame(const DisplayFrame& a, const DisplayFrame& b);

// Geometry, pure functions of the block and the settings.
int32_t MeterSegments(int32_t level);
// Every eleventh sample from the eleventh on, 230 pixels wide, scaled by
// |oscilloDivisor| (at least 1). Returns the number of points; y is kept
// inside the display area.
uint32_t ComputeTrace(const int16_t* samples, uint32_t n, int32_t oscilloDivisor,
                      std::array<Point, kMaxTracePoints>& points);
// Bar heights from the imaginary parts of bins 0..40 after a transform
// whose result was |fftResult|; kept between the 2-pixel stub and the
// display area's height.
void ComputeBars(const int16_t* spectrumIm, int32_t fftResult, int32_t oscilloDivisor,
                 std::array<int32_t, kSpectrumBars>& heights);

}  // namespace mimicore
