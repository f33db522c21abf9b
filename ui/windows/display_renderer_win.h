// Draws one frame of the live display: the level meter onto the panel, the
// oscilloscope, the spectrum bars and the status texts onto the main
// window. Runs on the window thread only; every frame is composed off
// screen and reaches each window in a single copy.
#pragma once

#include <windows.h>

#include "engine/display_frame.h"

namespace mimicore {

// The surfaces and drawing objects a frame is drawn with; none is owned.
struct DisplaySurfaces {
  HDC backBuffer = nullptr;    // 342 x 350, transparent text background
  HDC mainSkin = nullptr;      // the main window's skin
  HDC mainWindow = nullptr;    // where the display area is shown
  HDC panelCompose = nullptr;  // copy of the panel skin the meter is composed on
  HDC panelSkin = nullptr;     // the pristine panel skin
  HDC meterLit = nullptr;      // the 20 lit meter cells
  HDC panelWindow = nullptr;   // where the meter strip is shown
  HPEN zeroLinePen = nullptr;
  HPEN tracePen = nullptr;
  HPEN barPen = nullptr;
  HFONT titleFont = nullptr;
  HFONT valueFont = nullptr;
};

inline constexpr COLORREF kTitleColour = RGB(110, 160, 240);
inline constexpr COLORREF kValueColour = RGB(110, 160, 220);

void DrawFrame(const DisplayFrame& frame, const DisplaySurfaces& s);

}  // namespace mimicore
