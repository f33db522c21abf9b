#include "ui/windows/skinned_windows_win.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "resources/resource_ids.h"
#include "ui/controls/bitmap_button_win.h"
#include "ui/controls/control_win.h"
#include "ui/controls/gdi_guards_win.h"
#include "ui/controls/rotary_knob_win.h"
#include "ui/controls/trackbar_skin_win.h"
#include "ui/windows/display_renderer_win.h"
#include "ui/windows/skinned_windows_parts_win.h"
#include "ui/windows/window_placement.h"
#include "ui/windows/winlet_window_win.h"

namespace mimicore {

namespace {

constexpr POINT kTabAt{237, 0};
// The close button's 16 x 16 picture on the main window.
constexpr ScreenRect kCloseButtonBox{245, 40, 261, 56};
constexpr POINT kNeedleCentre{16, 17};
constexpr int32_t kNeedleRadius = 10;
constexpr COLORREF kNeedleColour = 0;

// A region resource holds the platform's region data as it is: a 32-byte
// header (size 32, kind 1, count, rectangle bytes, bounds) and the
// rectangles. Anything else is refused rather than handed on.
std::span<const uint8_t> RegionBytes(HINSTANCE instance, int id) {
  HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(id), RT_REGION_DATA);
  const DWORD size = found != nullptr ? SizeofResource(instance, found) : 0;
  HGLOBAL loaded = found != nullptr ? LoadResource(instance, found) : nullptr;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) {
    return {};
  }
  return {static_cast<const uint8_t*>(data), size};
}

HRGN LoadRegion(HINSTANCE instance, int id) {
  const std::span<const uint8_t> bytes = RegionBytes(instance, id);
  const void* data = bytes.data();
  const size_t size = bytes.size();
  if (data == nullptr || size < sizeof(RGNDATAHEADER)) {
    return nullptr;
  }
  RGNDATAHEADER header{};
  std::memcpy(&header, data, sizeof header);
  const uint64_t rectBytes = uint64_t{header.nCount} * sizeof(RECT);
  if (header.dwSize != sizeof(RGNDATAHEADER) || header.iType != RDH_RECTANGLES ||
      header.nCount == 0 || rectBytes != header.nRgnSize || sizeof header + rectBytes > size) {
    return nullptr;
  }
  return ExtCreateRegion(nullptr, DWORD(sizeof header + rectBytes),
                         static_cast<const RGNDATA*>(data));
}

HBITMAP LoadSkin(HINSTANCE instance, int id) { return LoadBitmapA(instance, MAKEINTRESOURCEA(id)); }

HFONT MakeFont(int height, int width, int weight) {
  LOGFONTA f{};
  f.lfHeight = height;
  f.lfWidth = width;
  f.lfWeight = weight;
  f.lfCharSet = DEFAULT_CHARSET;
  f.lfOutPrecision = OUT_TT_PRECIS;
  f.lfClipPrecision = CLIP_CHARACTER_PRECIS;
  f.lfQuality = PROOF_QUALITY;
  f.lfPitchAndFamily = FIXED_PITCH;
  std::strcpy(f.lfFaceName, "Verdana");
  return CreateFontIndirectA(&f);
}

HWND MakeChild(HWND panel, HINSTANCE instance, const char* name, const char* cls, int id, int x,
               int y, int w, int h, DWORD style) {
  // A child's id travels in the menu argument.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  const auto childId = reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));
  return CreateWindowExA(0, cls, name, style, x, y, w, h, panel, childId, instance, nullptr);
}

}  // namespace

SkinnedWindows* SkinnedWindows::current_ = nullptr;

SkinnedWindows::SkinnedWindows(WindowLinks links)
    : links_(links), windowThread_(GetCurrentThreadId()) {}

SkinnedWindows::~SkinnedWindows() { Release(); }

HWND SkinnedWindows::MainWindow() const {
  return parts_ != nullptr ? parts_->main.Window() : nullptr;
}

HWND SkinnedWindows::Panel() const { return parts_ != nullptr ? parts_->panel.Window() : nullptr; }

bool SkinnedWindows::Fail(const char* what) {
  failedStep_ = what;
  return false;
}

bool SkinnedWindows::Build(HINSTANCE instance, const ProgramCursors& cursors,
                           const std::function<void()>& pump) {
  Release();
  failedStep_ = nullptr;
  current_ = this;
  cursors_ = cursors;
  parts_ = std::make_unique<Parts>();
  if (!BuildSteps(instance, cursors, pump)) {
    Release();
    return false;
  }
  // Positions the capture thread published before the panel could be told.
  ShowHandedOver();
  return true;
}

namespace {

BOOL CALLBACK AddMonitor(HMONITOR /*monitor*/, HDC /*dc*/, LPRECT area, LPARAM list) {
  if (area != nullptr) {
    // The list this file passed in, handed back as the call's LPARAM.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    reinterpret_cast<std::vector<ScreenRect>*>(list)->push_back(
        {area->left, area->top, area->right, area->bottom});
  }
  return TRUE;
}

// The desktop as it is now. Should the system list no monitor, the primary
// screen stands in, so that no stored position is trusted blindly.
std::vector<ScreenRect> AttachedMonitors() {
  std::vector<ScreenRect> monitors;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
  if (monitors.empty()) {
    monitors.push_back({0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
  }
  return monitors;
}

}  // namespace

HWND SkinnedWindows::FindRunningPanel() { return FindWindowA(kPanelClass, kPanelTitle); }

bool SkinnedWindows::BuildSteps(HINSTANCE instance, const ProgramCursors& cursors,
                                const std::function<void()>& pump) {
  Parts& p = *parts_;
  // Centred on the primary screen; an odd negative difference rounds
  // toward minus infinity, as the arithmetic shift does.
  const int32_t screenW = GetSystemMetrics(SM_CXSCREEN) & 0xFFFF;
  const int32_t screenH = GetSystemMetrics(SM_CYSCREEN) & 0xFFFF;
  const int32_t left = (screenW - kMainWidth) >> 1;
  const int32_t top = (screenH - kMainHeight) >> 1;

  const RECT panelRect{left + kPanelOffsetX, top + kPanelOffsetY,
                       left + kPanelOffsetX + kPanelWidth, top + kPanelOffsetY + kPanelHeight};
  if (!p.panel.Create(instance, PanelProc, kPanelClass, kPanelTitle, &panelRect, nullptr, nullptr,
                      WS_POPUP)) {
    return Fail("the panel window");
  }
  const RECT mainRect{left, top, left + kMainWidth, top + kMainHeight};
  if (!p.main.Create(instance, MainProc, kMainClass, kMainTitle, &mainRect, p.panel.Window(),
                     nullptr, WS_POPUP)) {
    return Fail("the main window");
  }
  panelForPosts_.store(p.panel.Window());
  const AppSettings& app = links_.app;
  const WindowOrigin centred{left, top};
  // Where the user could see and grab it: inside the round shape, away
  // from the close button.
  const std::vector<ScreenRect> shape = ParseRegionRects(RegionBytes(instance, IDR_MAIN_SHAPE));
  const std::vector<WindowOrigin> grips =
      GripSquares(shape, kMainWidth, kMainHeight, kCloseButtonBox);
  const WindowOrigin origin =
      ChooseWindowOrigin({app.winx, app.winy}, grips, AttachedMonitors(), centred);
  if (origin != centred) {
    SetWindowPos(p.main.Window(), nullptr, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetWindowPos(p.panel.Window(), nullptr, origin.x + kPanelOffsetX, origin.y + kPanelOffsetY, 0,
                 0, SWP_NOSIZE | SWP_NOZORDER);
    if (pump) {
      pump();
      pump();
    }
  }

  if (!p.mainDc.Take(p.main.Window()) || !p.panelDc.Take(p.panel.Window())) {
    return Fail("the device contexts");
  }
  HDC mainDc = p.mainDc.Get();
  HDC panelDc = p.panelDc.Get();
  if (!p.backBuffer.Create(mainDc, CreateCompatibleBitmap(mainDc, kMainWidth, kMainHeight))) {
    return Fail("the back buffer");
  }
  p.smallFont.Reset(MakeFont(12, 8, 700));
  p.largeFont.Reset(MakeFont(64, 15, 500));
  p.redPen.Reset(CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
  p.greenPen.Reset(CreatePen(PS_SOLID, 1, RGB(0, 230, 90)));
  p.bluePen.Reset(CreatePen(PS_SOLID, 1, RGB(90, 150, 255)));
  if (!p.smallFont || !p.largeFont || !p.redPen || !p.greenPen || !p.bluePen) {
    return Fail("fonts and pens");
  }
  HDC back = p.backBuffer.Dc();
  SetBkMode(back, TRANSPARENT);
  p.backBuffer.Context().Select(p.smallFont.Get());
  p.backBuffer.Context().Select(p.redPen.Get());
  // Whatever a frame draws stays inside the display area.
  IntersectClipRect(back, kDisplayArea.left, kDisplayArea.top, kDisplayArea.right,
                    kDisplayArea.bottom);

  if (!p.panelCompose.Create(panelDc, LoadSkin(instance, IDB_PANEL_SKIN)) ||
      !p.mainSkin.Create(mainDc, LoadSkin(instance, IDB_MAIN_SKIN)) ||
      !p.panelSkin.Create(panelDc, LoadSkin(instance, IDB_PANEL_SKIN)) ||
      !p.meterLit.Create(panelDc, LoadSkin(instance, IDB_METER_LIT))) {
    return Fail("the skins");
  }

  GdiObject mainShape(LoadRegion(instance, IDR_MAIN_SHAPE));
  GdiObject panelShape(LoadRegion(instance, IDR_PANEL_SHAPE));
  p.tabRegion.Reset(LoadRegion(instance, IDR_TAB_SHAPE));
  if (!mainShape || !panelShape || !p.tabRegion) {
    return Fail("the window shapes");
  }
  // From here on the windows own their shapes.
  if (SetWindowRgn(p.main.Window(), mainShape.Region(), TRUE) == 0) {
    return Fail("giving the main window its shape");
  }
  mainShape.Release();
  if (SetWindowRgn(p.panel.Window(), panelShape.Region(), TRUE) == 0) {
    return Fail("giving the panel its shape");
  }
  panelShape.Release();

  const INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  InitCommonControlsEx(&common);
  // Without the skin the sliders keep the system's look; the program
  // still works.
  p.skin = TrackbarSkin::Create(p.panel.Window(), LoadSkin(instance, IDB_THUMB_HORIZONTAL),
                                LoadSkin(instance, IDB_THUMB_VERTICAL), p.panelSkin.Dc());

  constexpr DWORD kSliderStyle = WS_CHILD | WS_VISIBLE | TBS_HORZ | TBS_BOTH | TBS_NOTICKS;
  HWND panel = p.panel.Window();
  p.speedSlider = MakeChild(panel, instance, "track0", TRACKBAR_CLASSA, kSpeedSliderId, 60, 45, 174,
                            21, kSliderStyle);
  p.thresholdSlider = MakeChild(panel, instance, "track1", TRACKBAR_CLASSA, kThresholdSliderId, 75,
                                156, 160, 21, kSliderStyle);
  p.echoSwitch = MakeChild(panel, instance, "track2", "BUTTON", kEchoSwitchId, 208, 70, 14, 14,
                           WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX);
  if (p.speedSlider == nullptr || p.thresholdSlider == nullptr || p.echoSwitch == nullptr) {
    return Fail("the panel's sliders and switch");
  }
  const EngineSettingsValues v = links_.settings.Load();
  SendMessageA(p.speedSlider, TBM_SETRANGE, TRUE, MAKELPARAM(50, 220));
  SendMessageA(p.speedSlider, TBM_SETPAGESIZE, 0, 10);
  SendMessageA(p.thresholdSlider, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
  SendMessageA(p.thresholdSlider, TBM_SETPAGESIZE, 0, 50);
  SendMessageA(p.echoSwitch, BM_SETCHECK, v.Echo != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
  // The slider positions (and every other control's) come from the one
  // place that turns settings into positions.
  links_.applier.ApplySettings();

  const HCURSOR own = cursors.own;
  const HCURSOR hand = cursors.hand;
  HWND mainWindow = p.main.Window();
  if (!p.close.SetupAt(kCloseButtonBox.left, kCloseButtonBox.top, nullptr,
                       LoadSkin(instance, IDB_CLOSE_NORMAL), own,
                       LoadSkin(instance, IDB_CLOSE_HOVER), hand,
                       LoadSkin(instance, IDB_CLOSE_PRESSED), hand, mainWindow, mainDc)) {
    return Fail("the close button");
  }
  p.mainList.Add(&p.close);

  OffsetRgn(p.tabRegion.Region(), kTabAt.x, kTabAt.y);
  struct ButtonSetup {
    BitmapButton& button;
    POINT at;
    HRGN shape;
    int normal, hover, pressed;
  } buttons[] = {
      {p.tab, kTabAt, p.tabRegion.Region(), IDB_TAB_NORMAL, IDB_TAB_HOVER, IDB_TAB_PRESSED},
      {p.reset, {30, 30}, nullptr, IDB_RESET_NORMAL, IDB_RESET_HOVER, IDB_RESET_PRESSED},
      {p.automode, {80, 7}, nullptr, IDB_AUTO_NORMAL, IDB_AUTO_HOVER, IDB_AUTO_PRESSED},
  };
  for (const ButtonSetup& b : buttons) {
    if (!b.button.SetupAt(b.at.x, b.at.y, b.shape, LoadSkin(instance, b.normal), own,
                          LoadSkin(instance, b.hover), hand, LoadSkin(instance, b.pressed), hand,
                          panel, panelDc)) {
      return Fail("the panel's buttons");
    }
    p.panelList.Add(&b.button);
  }

  struct KnobSetup {
    RotaryKnob& knob;
    POINT at;
  } knobs[] = {{p.silence, {34, 158}},
               {p.bandPass, {100, 105}},
               {p.delay, {150, 105}},
               {p.decay, {194, 105}}};
  for (const KnobSetup& k : knobs) {
    if (!k.knob.SetupAt(k.at.x, k.at.y, nullptr, kNeedleColour, LoadSkin(instance, IDB_KNOB_FACE),
                        own, nullptr, hand, nullptr, cursors.sizeWe, panel, panelDc)) {
      return Fail("the knobs");
    }
    k.knob.needleCentre = kNeedleCentre;
    k.knob.radius = kNeedleRadius;
    k.knob.CaptureBackground(p.panelSkin.Dc());
    p.panelList.Add(&k.knob);
  }

  p.surfaces = DisplaySurfaces{back,
                               p.mainSkin.Dc(),
                               mainDc,
                               p.panelCompose.Dc(),
                               p.panelSkin.Dc(),
                               p.meterLit.Dc(),
                               panelDc,
                               p.redPen.Pen(),
                               p.greenPen.Pen(),
                               p.bluePen.Pen(),
                               p.smallFont.Font(),
                               p.largeFont.Font()};
  // The back buffer starts as the skin, so its first frame composes on it.
  BitBlt(back, 0, 0, kMainWidth, kMainHeight, p.mainSkin.Dc(), 0, 0, SRCCOPY);

  SetCursor(own);
  SetWindowPos(mainWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  SetWindowPos(panel, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  // Windows makes a topmost window's owned windows topmost with it, above
  // their owner; said explicitly, the main window stays in front of the
  // panel also where that is not done for us.
  SetWindowPos(mainWindow, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  p.panel.Show(SW_SHOW);
  p.main.Show(SW_SHOW);
  UpdateWindow(panel);
  UpdateWindow(mainWindow);
  links_.frames.Attach(mainWindow);
  return true;
}

void SkinnedWindows::Release() {
  dragging_ = false;
  shownFrameValid_ = false;
  links_.frames.Attach(nullptr);
  panelForPosts_.store(nullptr);
  parts_.reset();
  if (current_ == this) {
    current_ = nullptr;
  }
}

void SkinnedWindows::ShowSettings(const ControlPositions& positions) {
  if (GetCurrentThreadId() == windowThread_) {
    ShowNow(positions);
    return;
  }
  // Never wait for the window thread: leave the newest positions and tell
  // the panel (when it exists; Build picks them up otherwise).
  positions_.Publish(positions);
  if (HWND panel = panelForPosts_.load()) {
    PostMessageA(panel, kControlsChangedMessage, 0, 0);
  }
}

}  // namespace mimicore
