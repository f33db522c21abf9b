#include "ui/windows/skinned_windows_win.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

#include "engine/voice_engine.h"
#include "ui/windows/level_keys.h"
#include "ui/windows/skinned_windows_parts_win.h"

namespace mimicore {

namespace {
// The noise threshold marker: a 4-pixel line under the level meter.
constexpr Rect kMarkerStrip{85, 185, 85 + 139, 185 + 5};
}  // namespace

void SkinnedWindows::ShowHandedOver() {
  ControlPositions positions;
  if (positions_.Take(positions)) {
    ShowNow(positions);
  }
}

void SkinnedWindows::ShowNow(const ControlPositions& c) {
  if (parts_ == nullptr) {
    return;  // before the windows exist only the filter follows the settings
  }
  Parts& p = *parts_;
  // Children that do not exist yet make these calls do nothing; knobs not
  // set up yet keep the value and show it when they are first drawn.
  SendMessageA(p.speedSlider, TBM_SETPOS, TRUE, c.speedSlider);
  SendMessageA(p.thresholdSlider, TBM_SETPOS, TRUE, c.thresholdSlider);
  SendMessageA(p.echoSwitch, BM_SETCHECK, c.echoChecked ? BST_CHECKED : BST_UNCHECKED, 0);
  p.bandPass.SetPosition(c.bandPassKnob);
  for (RotaryKnob* knob : {&p.delay, &p.decay}) {
    knob->SetPosition(knob == &p.delay ? c.delayKnob : c.decayKnob);
    knob->enabled = c.echoKnobsEnabled ? 1 : 0;
    knob->Draw();
  }
  p.silence.SetPosition(c.silenceKnob);
}

void SkinnedWindows::PaintMain() {
  Parts& p = *parts_;
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(p.main.Window(), &ps);
  if (dc != nullptr && p.mainSkin) {
    BitBlt(dc, 0, 0, kMainWidth, kMainHeight, p.mainSkin.Dc(), 0, 0, SRCCOPY);
  }
  EndPaint(p.main.Window(), &ps);
  // A quiet room sends no new frames: the display is drawn again from the
  // last one rather than left bare.
  if (shownFrameValid_) {
    DrawFrame(shownFrame_, p.surfaces);
  }
}

void SkinnedWindows::PaintPanel() {
  Parts& p = *parts_;
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(p.panel.Window(), &ps);
  if (dc != nullptr && p.panelSkin) {
    BitBlt(dc, 0, 0, kPanelSkinWidth, kPanelHeight, p.panelSkin.Dc(), 0, 0, SRCCOPY);
  }
  EndPaint(p.panel.Window(), &ps);
  DrawThresholdMarker();
  if (shownFrameValid_) {
    DrawFrame(shownFrame_, p.surfaces);  // the meter as the last frame left it
  }
}

void SkinnedWindows::DrawThresholdMarker() {
  Parts& p = *parts_;
  if (!p.panelCompose || !p.panelSkin || p.panelDc.Get() == nullptr) {
    return;
  }
  const Rect& m = kMarkerStrip;
  const int32_t w = m.right - m.left;
  const int32_t h = m.bottom - m.top;
  HDC compose = p.panelCompose.Dc();
  BitBlt(compose, m.left, m.top, w, h, p.panelSkin.Dc(), m.left, m.top, SRCCOPY);
  // A stored threshold outside 0..100 still marks the nearest end.
  const int32_t nthre = std::clamp(links_.settings.NThre.load(), 0, 100);
  const int32_t x = 87 + nthre * 133 / 100;
  MoveToEx(compose, x, m.top, nullptr);
  LineTo(compose, x, m.top + 4);
  BitBlt(p.panelDc.Get(), m.left, m.top, w, h, compose, m.left, m.top, SRCCOPY);
}

void SkinnedWindows::DrawLatestFrame() {
  if (links_.frames.Take(shownFrame_) && parts_->surfaces.backBuffer != nullptr) {
    DrawFrame(shownFrame_, parts_->surfaces);
    shownFrameValid_ = true;
  }
}

LRESULT CALLBACK SkinnedWindows::MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Route(true, window, message, wParam, lParam);
}

LRESULT CALLBACK SkinnedWindows::PanelProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  return Route(false, window, message, wParam, lParam);
}

// Both windows' messages: what the window itself does with one, then its
// controls (they follow the mouse and redraw on WM_PAINT), then, on the
// main window, the drag where no control claimed the pointer.
LRESULT SkinnedWindows::Route(bool isMain, HWND window, UINT message, WPARAM wParam,
                              LPARAM lParam) {
  SkinnedWindows* self = current_;
  if (self == nullptr || self->parts_ == nullptr) {
    return DefaultWindowProc(window, message, wParam, lParam);
  }
  switch (message) {
    case kFrameReadyMessage:
      if (isMain) {
        self->DrawLatestFrame();
        return 0;
      }
      break;
    case kControlsChangedMessage:
      if (!isMain) {
        self->ShowHandedOver();
        return 0;
      }
      break;
    case WM_PAINT:
      isMain ? self->PaintMain() : self->PaintPanel();
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
    case WM_COMMAND:
      if (isMain) {
        self->OnCommand(wParam);
      } else if (LOWORD(wParam) == kEchoSwitchId) {
        self->OnEchoSwitch();
      }
      break;
    case WM_HSCROLL:
      if (!isMain) {
        self->OnSlider(lParam);
      }
      break;
    case WM_CONTROL_CLICKED:
      isMain ? self->OnMainClicked(wParam) : self->OnPanelClicked(wParam);
      break;
    case WM_KNOB_CHANGED:
      if (!isMain) {
        self->OnKnobChanged(wParam);
      }
      break;
    case WM_CONTEXTMENU: {
      // The program's own menu in place of any default one; a click on a
      // control (a slider, the switch, a drawn button) is the control's.
      const POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (lParam == -1) {
        self->OpenMenu(nullptr);
      } else if (wParam == reinterpret_cast<WPARAM>(window) &&
                 !self->OnControl(isMain, window, at)) {
        self->OpenMenu(&at);
      }
      return 0;
    }
    case WM_MENUCHAR:
      // The menu the letter was typed in, as the platform hands it over.
      // NOLINTNEXTLINE(performance-no-int-to-ptr)
      if (const auto result = MenuCharChoice(LOWORD(wParam), reinterpret_cast<HMENU>(lParam))) {
        return *result;
      }
      break;
    case WM_SYSCOMMAND:
      // Alt or F10 would start a menu mode the windows have no bar for.
      if ((wParam & 0xFFF0U) == SC_KEYMENU) {
        return 0;
      }
      break;
    default:
      break;
  }
  // The handling above may have ended the windows (a failed paint cannot,
  // but a message loop inside a command might).
  if (self->parts_ == nullptr) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  // A press while a drag still runs means its release was lost.
  if (isMain && self->dragging_ && message == WM_LBUTTONDOWN) {
    self->EndDrag(true);
  }
  // A running drag keeps the pointer whatever it crosses: the controls
  // under it must neither take the release nor stop the window following.
  if (isMain && self->dragging_ &&
      (message == WM_MOUSEMOVE || message == WM_LBUTTONUP || message == WM_CAPTURECHANGED)) {
    if (const auto result = self->OnDrag(message, wParam, lParam)) {
      return *result;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
  Parts& p = *self->parts_;
  const bool overControl =
      (isMain ? p.mainList : p.panelList).Dispatch(window, message, wParam, lParam);
  if (isMain && !overControl) {
    if (const auto result = self->OnDrag(message, wParam, lParam)) {
      return *result;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void SkinnedWindows::OnCommand(WPARAM wParam) {
  if (HIWORD(wParam) != 1) {
    return;  // only the accelerator table's commands
  }
  const int32_t preset = int32_t(LOWORD(wParam)) - kPresetCommand;
  if (preset >= 1 && preset <= kMenuPresets) {
    SwitchPreset(preset);  // Ctrl+1 ... Ctrl+9
    return;
  }
  EngineSettings& s = links_.settings;
  StatusDisplay& status = links_.status;
  switch (LOWORD(wParam)) {
    case kSaveTakeCommand:
      links_.actions.SaveLastTake(parts_->main.Window());
      break;
    case kPeakUpCommand:
    case kPeakDownCommand: {
      const int32_t v = StepPeakLevel(s.peakThreshold.load(), LOWORD(wParam) == kPeakUpCommand);
      s.peakThreshold.store(v);
      status.ShowStatus("PEAK LEVEL", "%u", unsigned(v));
      break;
    }
    case kScaleUpCommand:
    case kScaleDownCommand: {
      const int32_t v =
          StepOscilloscopeScale(s.oscilloDivisor.load(), LOWORD(wParam) == kScaleUpCommand);
      s.oscilloDivisor.store(v);
      status.ShowStatus("OSCILLOSCOPE AMP", "%u", unsigned(v));
      break;
    }
    case kCloseCommand:
      Close();
      break;
    case kManualCommand:
      links_.actions.OpenManual(parts_->main.Window());
      break;
    default:
      break;
  }
}

void SkinnedWindows::OnMainClicked(WPARAM id) {
  if (id == parts_->close.id) {
    Close();
  }
}

void SkinnedWindows::Close() {
  links_.status.ShowStatus("SHUTTING DOWN", " ");
  links_.actions.ResetAutoMode();
  PostQuitMessage(0);
}

void SkinnedWindows::EndDrag(bool release) {
  SetCursor(cursors_.own);
  dragging_ = false;  // first: giving the capture back reports its loss
  if (release && GetCapture() == parts_->main.Window()) {
    ReleaseCapture();
  }
}

std::optional<LRESULT> SkinnedWindows::OnDrag(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND main = parts_->main.Window();
  switch (message) {
    case WM_LBUTTONDOWN: {
      POINT at{LOWORD(lParam), HIWORD(lParam)};
      SetCursor(cursors_.sizeAll);
      ClientToScreen(main, &at);
      RECT r{};
      GetWindowRect(main, &r);
      grab_ = POINT{at.x - r.left, at.y - r.top};
      // A first move that is not accepted keeps the window where it is.
      lastAccepted_ = at;
      SetCapture(main);
      dragging_ = true;
      links_.status.ShowStatus("MOVING", " ");
      return std::nullopt;
    }
    case WM_MOUSEMOVE: {
      if (!dragging_) {
        return -1;
      }
      // The release went elsewhere (a dialog, another window): the drag is
      // over, and the window must not follow a pointer no button holds.
      if (LeftButtonUp(wParam)) {
        EndDrag(true);
        return -1;
      }
      // Signed: under the capture a pointer left of or above the window
      // gives negative positions, which are not accepted.
      const auto x = static_cast<int16_t>(LOWORD(lParam));
      const auto y = static_cast<int16_t>(HIWORD(lParam));
      if (x >= 0 && y >= 0) {
        POINT at{x, y};
        ClientToScreen(main, &at);
        lastAccepted_ = at;
      }
      SetCursorPos(lastAccepted_.x, lastAccepted_.y);
      SetWindowPos(main, nullptr, lastAccepted_.x - grab_.x, lastAccepted_.y - grab_.y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER);
      RECT r{};
      GetWindowRect(main, &r);
      links_.app.winx = r.left;
      links_.app.winy = r.top;
      for (HWND w : {parts_->panel.Window(), main}) {
        InvalidateRect(w, nullptr, FALSE);
        UpdateWindow(w);
      }
      links_.status.ShowStatus("MOVING", "%d,%d", int(r.left), int(r.top));
      return -1;
    }
    case WM_LBUTTONUP:
      if (dragging_) {
        EndDrag(true);
      }
      return std::nullopt;
    case WM_CAPTURECHANGED:
      // Only a window that takes the capture ends the drag; moving the
      // window may let go of it without one, and the pointer is still ours.
      if (dragging_ && lParam != 0 && lParam != reinterpret_cast<LPARAM>(main)) {
        EndDrag(false);
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

void SkinnedWindows::OnPanelClicked(WPARAM id) {
  Parts& p = *parts_;
  if (id == p.tab.id) {
    links_.actions.TogglePanel();
  } else if (id == p.automode.id) {
    links_.actions.PressAutoMode();
  } else if (id == p.reset.id) {
    links_.status.ShowStatus("RESET", " ");
    links_.actions.ResetToDefaults();
  }
}

void SkinnedWindows::OnKnobChanged(WPARAM id) {
  Parts& p = *parts_;
  EngineSettings& s = links_.settings;
  StatusDisplay& status = links_.status;
  if (id == p.bandPass.id) {
    // The engine designs the filter for a changed frequency before its
    // next block, on its own thread.
    const int32_t bpf = p.bandPass.Value() * 50 + 120;
    s.Bpf.store(bpf);
    if (bpf > 120) {
      status.ShowStatus("BAND-PASS FILTER", "%u hz", unsigned(bpf));
    } else {
      status.ShowStatus("BAND-PASS FILTER OFF", " ");
    }
  } else if (id == p.delay.id) {
    s.Delay.store(p.delay.Value() * 3);
    status.ShowStatus("ECHO DELAY", "%u ms", unsigned(p.delay.Value() * 3));
  } else if (id == p.decay.id) {
    // Hundredths formed in double: 40 gives the float nearest 0.4.
    s.Decay.store(static_cast<float>(p.decay.Value() * 0.01));
    status.ShowStatus("ECHO DECAY", "%u %%", unsigned(p.decay.Value()));
  } else if (id == p.silence.id) {
    s.SilenceTime.store(p.silence.Value() * 20);
    status.ShowStatus("SILENCE RESPONSE", "%u ms", unsigned(p.silence.Value() * 20));
  }
}

// Only the slider that moved writes its setting: the other one may stand
// clamped to its range, or behind a value the calibration has just set.
void SkinnedWindows::OnSlider(LPARAM slider) {
  Parts& p = *parts_;
  EngineSettings& s = links_.settings;
  if (slider == reinterpret_cast<LPARAM>(p.speedSlider)) {
    const auto speed = static_cast<int32_t>(SendMessageA(p.speedSlider, TBM_GETPOS, 0, 0));
    // Compared with where the slider shows the present setting, so a stored
    // value that is no number or out of range is not taken for a move.
    const EffectiveSettings now = MakeEffective(s.Load());
    if (speed != PositionsFor(now, now.NThre, now.SilenceTime).speedSlider) {
      const auto value = static_cast<float>(speed * 0.01);
      s.Speed.store(value);
      links_.status.ShowStatus("SPEED", "%1.2f x", double(value));
    }
    return;
  }
  if (slider != reinterpret_cast<LPARAM>(p.thresholdSlider)) {
    return;
  }
  const auto threshold = static_cast<int32_t>(SendMessageA(p.thresholdSlider, TBM_GETPOS, 0, 0));
  if (threshold != s.NThre.load()) {
    s.NThre.store(threshold);
    DrawThresholdMarker();
    links_.status.ShowStatus("NOISE THRESHOLD", "%u %%", unsigned(threshold));
  }
}

void SkinnedWindows::OnEchoSwitch() {
  Parts& p = *parts_;
  const bool on = SendMessageA(p.echoSwitch, BM_GETCHECK, 0, 0) == BST_CHECKED;
  links_.settings.Echo.store(on ? 1 : 0);
  for (RotaryKnob* knob : {&p.delay, &p.decay}) {
    knob->enabled = on ? 1 : 0;
    knob->Draw();
  }
  links_.status.ShowStatus(on ? "ECHO ON" : "ECHO OFF", " ");
}

}  // namespace mimicore
