// What the two windows are made of, in the order of their making; shared
// by their construction and their message handling.
#pragma once

#include <windows.h>

#include <memory>

#include "ui/controls/bitmap_button_win.h"
#include "ui/controls/control_win.h"
#include "ui/controls/gdi_guards_win.h"
#include "ui/controls/rotary_knob_win.h"
#include "ui/controls/trackbar_skin_win.h"
#include "ui/windows/display_renderer_win.h"
#include "ui/windows/skinned_windows_win.h"
#include "ui/windows/winlet_window_win.h"

namespace mimicore {

// Declared in the order of their making; destroyed in reverse: the skin
// gives the panel its procedure back first, the controls go before the
// surfaces and fonts, the device contexts before the windows, and the
// panel (which takes its owned main window with it) last.
struct SkinnedWindows::Parts {
  WinletWindow panel;
  WinletWindow main;
  WindowDc mainDc;
  WindowDc panelDc;
  GdiObject smallFont;
  GdiObject largeFont;
  GdiObject redPen;
  GdiObject greenPen;
  GdiObject bluePen;
  Surface backBuffer;
  Surface panelCompose;
  Surface mainSkin;
  Surface panelSkin;
  Surface meterLit;
  GdiObject tabRegion;  // the tab's hit shape; the windows own their shapes
  HWND speedSlider = nullptr;
  HWND thresholdSlider = nullptr;
  HWND echoSwitch = nullptr;
  BitmapButton close;
  BitmapButton tab;
  BitmapButton reset;
  BitmapButton automode;
  RotaryKnob silence;
  RotaryKnob bandPass;
  RotaryKnob delay;
  RotaryKnob decay;
  ControlList mainList;
  ControlList panelList;
  std::unique_ptr<TrackbarSkin> skin;
  DisplaySurfaces surfaces;
};

}  // namespace mimicore
