#include "ui/windows/display_renderer_win.h"

#include <algorithm>
#include <cstring>

namespace mimicore {

namespace {

int32_t Width(const Rect& r) { return r.right - r.left; }
int32_t Height(const Rect& r) { return r.bottom - r.top; }

void DrawMeter(const DisplayFrame& frame, const DisplaySurfaces& s) {
  const Rect& m = kMeterStrip;
  BitBlt(s.panelCompose, m.left, m.top, Width(m), Height(m), s.panelSkin, m.left, m.top, SRCCOPY);
  const int32_t segments = std::clamp(frame.meterSegments, 0, kMeterMaxSegments);
  for (int32_t i = 0; i < segments; ++i) {
    BitBlt(s.panelCompose, m.left + kMeterSegmentPitch * i, m.top, kMeterSegmentWidth, Height(m),
           s.meterLit, kMeterSegmentPitch * i, 0, SRCCOPY);
  }
  BitBlt(s.panelWindow, m.left, m.top, Width(m), Height(m), s.panelCompose, m.left, m.top, SRCCOPY);
}

void DrawOscilloscope(const DisplayFrame& frame, HDC dc, const DisplaySurfaces& s) {
  SelectObject(dc, s.zeroLinePen);
  MoveToEx(dc, kZeroLineFrom.x, kZeroLineFrom.y, nullptr);
  LineTo(dc, kZeroLineTo.x, kZeroLineTo.y);

  // One polyline for the whole trace, from a fixed local array.
  std::array<POINT, kMaxTracePoints> points{};
  const uint32_t count = std::min<uint32_t>(frame.traceCount, kMaxTracePoints);
  for (uint32_t i = 0; i < count; ++i) {
    points[i] = POINT{frame.trace[i].x, frame.trace[i].y};
  }
  SelectObject(dc, s.tracePen);
  if (count >= 2) {
    Polyline(dc, points.data(), int(count));
  }
}

void DrawSpectrum(const DisplayFrame& frame, HDC dc, const DisplaySurfaces& s) {
  SelectObject(dc, s.barPen);
  for (int32_t i = 0; i < kSpectrumBars; ++i) {
    const int32_t x = kBarRightX - i;
    MoveToEx(dc, x, kBarBaseY, nullptr);
    LineTo(dc, x, kBarBaseY - frame.barHeights[size_t(i)]);
  }
}

void DrawStatus(const DisplayFrame& frame, HDC dc, const DisplaySurfaces& s) {
  SelectObject(dc, s.titleFont);
  SetTextColor(dc, kTitleColour);
  if (!frame.statusVisible) {
    return;
  }
  RECT box{kStatusTextBox.left, kStatusTextBox.top, kStatusTextBox.right, kStatusTextBox.bottom};
  // Lengths bounded by the arrays: the texts are read without trusting a
  // terminator.
  const auto title = int(strnlen(frame.status.title, sizeof frame.status.title));
  if (title > 0) {
    DrawTextA(dc, frame.status.title, title, &box, DT_NOCLIP);
  }
  box.top = frame.valueTop;
  SelectObject(dc, s.valueFont);
  SetTextColor(dc, kValueColour);
  DrawTextA(dc, frame.status.value, int(strnlen(frame.status.value, sizeof frame.status.value)),
            &box, DT_NOCLIP);
}

}  // namespace

void DrawFrame(const DisplayFrame& frame, const DisplaySurfaces& s) {
  const Rect& d = kDisplayArea;
  HDC back = s.backBuffer;
  BitBlt(back, d.left, d.top, Width(d), Height(d), s.mainSkin, d.left, d.top, SRCCOPY);
  DrawMeter(frame, s);
  DrawOscilloscope(frame, back, s);
  DrawSpectrum(frame, back, s);
  DrawStatus(frame, back, s);
  BitBlt(s.mainWindow, d.left, d.top, Width(d), Height(d), back, d.left, d.top, SRCCOPY);
}

}  // namespace mimicore
