// The windows, controls and display drawn with real GDI and read back pixel
// by pixel, and the shell's window lookups, key reading, guards and store.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "app/lock_lights_win.h"
#include "app/platform_win.h"
#include "core/kernel_handle_win.h"
#include "engine/voice_engine.h"
#include "settings/registry_store_win.h"
#include "ui/controls/bitmap_button_win.h"
#include "ui/controls/rotary_knob_win.h"
#include "ui/controls/trackbar_skin_win.h"
#include "ui/windows/display_renderer_win.h"
#include "ui/windows/skinned_windows_parts_win.h"
#include "ui/windows/winlet_window_win.h"

namespace mimicore {
namespace {

// In text mode ctest would take each line's "\r" for part of the test names it lists.
[[maybe_unused]] const int kBinaryStdout = _setmode(_fileno(stdout), _O_BINARY);

HBITMAP MakeBitmap(int32_t width, int32_t height, COLORREF fill) {
  HBITMAP bitmap = CreateBitmap(width, height, 1, 32, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ saved = SelectObject(dc, bitmap);
  SetDCBrushColor(dc, fill);
  const RECT all{0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  SelectObject(dc, saved);
  DeleteDC(dc);
  return bitmap;
}

struct Canvas : Surface {
  Canvas(int32_t width, int32_t height, COLORREF fill) {
    Create(nullptr, MakeBitmap(width, height, fill));
  }
  [[nodiscard]] COLORREF At(int32_t x, int32_t y) const { return GetPixel(Dc(), x, y); }
};

struct Window {
  HWND handle = CreateWindowExA(0, "STATIC", "", WS_POPUP, 100, 100, 300, 200, nullptr, nullptr,
                                nullptr, nullptr);
  ~Window() { DestroyWindow(handle); }
};

// Dispatches what is queued; whether the program was told to end.
bool Drain() {
  MSG msg;
  bool quit = false;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    quit = quit || msg.message == WM_QUIT;
    DispatchMessageA(&msg);
  }
  return quit;
}

constexpr COLORREF kSkin = RGB(10, 20, 30), kWhite = RGB(255, 255, 255), kLit = RGB(0, 255, 0);
constexpr COLORREF kUntouched = RGB(255, 0, 255), kPaper = RGB(0x40, 0x00, 0x01);

struct Display {
  Canvas back{342, 350, 0}, skin{342, 350, kSkin}, window{342, 350, kUntouched};
  Canvas compose{237, 207, kSkin}, panelSkin{237, 207, kSkin}, lit{139, 4, kLit};
  Canvas panelWindow{237, 207, kUntouched};

  void Draw(const DisplayFrame& f) {
    SetBkMode(back.Dc(), TRANSPARENT);
    const auto pen = static_cast<HPEN>(GetStockObject(WHITE_PEN));
    const auto font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    DrawFrame(f, {back.Dc(), skin.Dc(), window.Dc(), compose.Dc(), panelSkin.Dc(), lit.Dc(),
                  panelWindow.Dc(), pen, pen, pen, font, font});
    GdiFlush();
  }
};

TEST(Display, ZeroLineTraceBarsAndMeterLandOnTheirPixelsAndGoWithTheNextFrame) {
  DisplayFrame f{.meterSegments = 3,
                 .traceCount = 2,
                 .trace = {{{61, 209}, {288, 209}}},
                 .barHeights = {50},
                 .status = {}};
  f.barHeights[40] = 2;
  Display d;
  d.Draw(f);
  // The zero line, the trace, bin 0 (50 high) and bin 40 (its stub), and where the area ends.
  const std::tuple<int32_t, int32_t, COLORREF> probes[] = {
      {60, 173, kWhite},      {288, 173, kWhite},     {150, 209, kWhite},   {150, 208, kSkin},
      {273, 232, kWhite},     {273, 280, kWhite},     {273, 231, kSkin},    {272, 280, kSkin},
      {233, 280, kWhite},     {233, 279, kSkin},      {232, 280, kSkin},    {59, 173, kUntouched},
      {289, 173, kUntouched}, {150, 281, kUntouched}, {150, 67, kUntouched}};
  for (const auto& [x, y, colour] : probes) {
    EXPECT_EQ(d.window.At(x, y), colour) << x << "," << y;
  }
  for (int x = 85; x < 85 + 28; ++x) {  // three cells lit, 5 pixels wide, 7 apart
    EXPECT_EQ(d.panelWindow.At(x, 180), x < 85 + 21 && (x - 85) % 7 < 5 ? kLit : kSkin) << x;
  }
  EXPECT_EQ(d.panelWindow.At(85, 178), kUntouched);
  EXPECT_EQ(d.panelWindow.At(85, 183), kUntouched);
  d.Draw(DisplayFrame{});
  EXPECT_EQ(d.window.At(150, 209), kSkin);
  EXPECT_EQ(d.panelWindow.At(85, 180), kSkin);
}

TEST(Display, StatusTitleAtTheBoxTopAndTheValueWhereTheFrameSays) {
  // The first and last rows above the zero line where the skin changed.
  auto rows = [](const char* title, const char* value, int valueTop) {
    DisplayFrame f;
    f.statusVisible = value[0] != '\0';
    std::strcpy(f.status.title, title);
    std::strcpy(f.status.value, value);
    f.valueTop = valueTop;
    Display d;
    d.Draw(f);
    std::pair<int, int> changed{0, 0};
    for (int y = kDisplayArea.top; y < 170; ++y) {
      for (int x = kDisplayArea.left; x < kDisplayArea.right; ++x) {
        if (d.window.At(x, y) != kSkin) {
          changed = {changed.first != 0 ? changed.first : y, y};
        }
      }
    }
    return changed;
  };
  const auto title = rows("REC", " ", 120);
  EXPECT_GE(title.first, 84);
  EXPECT_LE(title.second, 84 + 14);
  EXPECT_EQ(rows("", "8", 86).first, rows("", "8", 84).first + 2);
  EXPECT_EQ(rows("REC", "", 86).first, 0) << "an empty value hides the title too";
}

using Posts = std::vector<std::pair<UINT, LPARAM>>;
Posts TakePosts(HWND owner) {
  Posts taken;
  MSG msg;
  while (PeekMessageA(&msg, owner, WM_CONTROL_PRESSED, WM_KNOB_SET, PM_REMOVE)) {
    taken.emplace_back(msg.message, msg.lParam);
  }
  return taken;
}

TEST(Controls, StatesCaptureAndPostsFollowTheMouse) {
  Window owner;
  Canvas canvas(300, 200, kPaper);
  GdiObject shape(CreateRectRgn(20, 10, 28, 18));
  BitmapButton plain, left, shaped;
  for (auto [button, x, region] :
       {std::tuple{&plain, 20, HRGN{}}, {&left, -5, HRGN{}}, {&shaped, 20, shape.Region()}}) {
    ASSERT_TRUE(button->SetupAt(x, 10, region, MakeBitmap(16, 16, 0), nullptr, nullptr, nullptr,
                                nullptr, nullptr, owner.handle, canvas.Dc()));
  }
  RotaryKnob knob;
  ASSERT_TRUE(knob.SetupAt(100, 10, nullptr, 0, MakeBitmap(34, 30, 0), nullptr, nullptr, nullptr,
                           nullptr, nullptr, owner.handle, canvas.Dc()));
  for (const auto& [to, value] : {std::pair{-5, 0}, {150, 100}, {100, 100}, {50, 50}}) {
    knob.SetPosition(to);
    EXPECT_EQ(knob.Value(), value);
  }
  EXPECT_EQ(TakePosts(owner.handle).size(), 3U) << "a position it already has posts nothing";
  constexpr WPARAM kDown = MK_LBUTTON;
  struct Step {
    PointerControl* control;
    UINT message;
    int32_t x, y;
    WPARAM buttons;
    int32_t enabled, state;
    bool captured;
    UINT posted;
    int32_t value;
  } steps[] = {
      // The buttons are (20, 10, 35, 25), whose right and bottom edges do not
      // hit, and (-5, 10, 10, 25); the shaped one hits in (20, 10, 28, 18) only.
      {&plain, WM_MOUSEMOVE, 25, 15, 0, 1, kHover, true, 0, 50},
      {&plain, WM_LBUTTONDOWN, 25, 15, kDown, 1, kPressed, true, WM_CONTROL_PRESSED, 50},
      {&plain, WM_LBUTTONUP, 100, 100, 0, 1, kNormal, false, WM_CONTROL_CLICKED, 50},
      {&plain, WM_MOUSEMOVE, 34, 24, 0, 1, kHover, true, 0, 50},
      {&plain, WM_MOUSEMOVE, 35, 15, 0, 1, kNormal, false, 0, 50},
      {&plain, WM_MOUSEMOVE, 25, 25, 0, 1, kNormal, false, 0, 50},
      // Left of the window under capture: read as signed, 65535 would be -1, inside.
      {&left, WM_MOUSEMOVE, 2, 15, 0, 1, kHover, true, 0, 50},
      {&left, WM_MOUSEMOVE, 65535, 15, 0, 1, kNormal, false, 0, 50},
      {&left, WM_LBUTTONDOWN, 65535, 15, kDown, 1, kNormal, false, 0, 50},
      {&shaped, WM_LBUTTONDOWN, 30, 20, kDown, 1, kNormal, false, 0, 50},
      {&shaped, WM_LBUTTONDOWN, 22, 12, kDown, 1, kPressed, false, WM_CONTROL_PRESSED, 50},
      // The knob is (100, 10, 133, 39); a drag turns it by its distance from the start.
      {&knob, WM_MOUSEMOVE, 105, 15, 0, 1, kHover, true, 0, 50},
      {&knob, WM_LBUTTONDOWN, 105, 15, kDown, 1, kPressed, true, WM_CONTROL_PRESSED, 50},
      {&knob, WM_MOUSEMOVE, 135, 15, kDown, 1, kPressed, true, WM_KNOB_CHANGED, 80},
      // Left of the window: read as unsigned, x would turn the knob up.
      {&knob, WM_MOUSEMOVE, -395, 15, kDown, 1, kPressed, true, WM_KNOB_CHANGED, 0},
      // The button-up was lost: a move without the button ends the drag.
      {&knob, WM_MOUSEMOVE, 115, 15, 0, 1, kHover, true, WM_CONTROL_CLICKED, 0},
      {&knob, WM_LBUTTONDOWN, 105, 15, kDown, 0, kHover, true, 0, 0},  // disabled
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(::testing::Message() << s.message << " at " << s.x << "," << s.y);
    s.control->enabled = s.enabled;
    const LPARAM at = MAKELPARAM(s.x, s.y);
    s.control->HandleMessage(owner.handle, s.message, s.buttons, at);
    EXPECT_EQ(s.control->State(), s.state);
    EXPECT_EQ(GetCapture() == owner.handle, s.captured);
    EXPECT_EQ(TakePosts(owner.handle), (s.posted == 0 ? Posts{} : Posts{{s.posted, at}}));
    EXPECT_EQ(knob.Value(), s.value);
  }
}

// Setup owns what it is given also when it fails; a second setup and the
// destructors give back all that the first made.
TEST(Controls, EveryGdiObjectIsGivenBack) {
  Window owner;
  Canvas canvas(100, 100, kPaper);
  const GdiLiveCounts before = LiveGdiCounts();
  const HBITMAP refused[] = {MakeBitmap(16, 16, 0), MakeBitmap(16, 16, 0), MakeBitmap(4, 4, 0),
                             MakeBitmap(11, 19, 0)};
  HBITMAP same = MakeBitmap(16, 16, 0);
  {
    BitmapButton button;
    RotaryKnob knob;
    EXPECT_FALSE(button.SetupAt(0, 0, nullptr, nullptr, nullptr, refused[0], nullptr, nullptr,
                                nullptr, owner.handle, canvas.Dc()));
    EXPECT_FALSE(knob.SetupAt(0, 0, nullptr, 0, nullptr, nullptr, refused[1], nullptr, nullptr,
                              nullptr, owner.handle, canvas.Dc()));
    // Empty bounds would give a 1 x 1 monochrome surface, not a knob.
    EXPECT_FALSE(knob.Setup(RECT{10, 10, 9, 9}, nullptr, 0, refused[2], nullptr, nullptr, nullptr,
                            nullptr, nullptr, owner.handle, canvas.Dc()));
    EXPECT_EQ(TrackbarSkin::Create(nullptr, refused[3], MakeBitmap(19, 11, 0), nullptr), nullptr);
    for (HBITMAP bitmap : refused) {
      EXPECT_EQ(GetObjectType(bitmap), 0U);
    }
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(knob.SetupAt(0, 0, nullptr, 0, MakeBitmap(34, 30, 0), nullptr, nullptr, nullptr,
                               nullptr, nullptr, owner.handle, canvas.Dc()));
    }
    // One handle for every state is owned once.
    ASSERT_TRUE(button.SetupAt(0, 0, nullptr, same, nullptr, same, nullptr, same, nullptr,
                               owner.handle, canvas.Dc()));
    ASSERT_NE(TrackbarSkin::Create(owner.handle, MakeBitmap(11, 19, 0), MakeBitmap(19, 11, 0),
                                   canvas.Dc()),
              nullptr);
  }
  EXPECT_EQ(LiveGdiCounts(), before);
  EXPECT_EQ(GetObjectType(same), 0U);
}

// The parent's skin behind the whole trackbar, its thumb bitmap at the thumb's
// place (ORed on when disabled); parts it does not draw are left to the default.
TEST(Controls, TrackbarsShowTheSkinBehindThemAndTheirThumbBitmap) {
  const INITCOMMONCONTROLSEX init{sizeof init, ICC_BAR_CLASSES};
  ASSERT_TRUE(InitCommonControlsEx(&init));
  Window owner;
  Canvas background(300, 200, kSkin);
  SetPixel(background.Dc(), 30, 40, kWhite);  // the horizontal trackbar's corners
  SetPixel(background.Dc(), 149, 69, kLit);
  const auto skin = TrackbarSkin::Create(owner.handle, MakeBitmap(11, 19, RGB(0x10, 0x80, 0x20)),
                                         MakeBitmap(19, 11, kLit), background.Dc());
  ASSERT_NE(skin, nullptr);
  auto child = [&](DWORD style, int32_t x, int32_t y, int32_t w, int32_t h) {
    return CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | style, x, y, w, h, owner.handle,
                           nullptr, nullptr, nullptr);
  };
  const HWND horizontal = child(TBS_HORZ, 30, 40, 120, 30),
             vertical = child(TBS_VERT, 200, 20, 30, 120);
  const HWND disabled = child(TBS_HORZ | WS_DISABLED, 30, 100, 120, 30);
  auto notify = [&](HWND from, DWORD stage, DWORD_PTR item, const Canvas& paper) {
    NMCUSTOMDRAW draw{{from, 0, static_cast<UINT>(NM_CUSTOMDRAW)},
                      stage,
                      paper.Dc(),
                      {40, 2, 51, 21},
                      item,
                      0,
                      0};
    return SendMessageA(owner.handle, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&draw));
  };
  for (const auto& [from, inside, cx, cy] :
       {std::tuple{horizontal, RGB(0x10, 0x80, 0x20), 11, 19}, std::tuple{vertical, kLit, 19, 11},
        std::tuple{disabled, RGB(0x50, 0x80, 0x21), 11, 19}}) {
    const Canvas paper(200, 100, kPaper);
    EXPECT_EQ(notify(from, CDDS_ITEMPREPAINT, TBCD_THUMB, paper), CDRF_SKIPDEFAULT);
    const std::vector<COLORREF> seen = {paper.At(40, 2), paper.At(39 + cx, 1 + cy),
                                        paper.At(40 + cx, 2), paper.At(40, 2 + cy)};
    EXPECT_EQ(seen, (std::vector<COLORREF>{inside, inside, kPaper, kPaper}));
  }
  const Canvas paper(200, 100, kPaper);
  EXPECT_EQ(notify(horizontal, CDDS_PREPAINT, 0, paper), CDRF_NOTIFYITEMDRAW);
  EXPECT_EQ(notify(horizontal, CDDS_ITEMPREPAINT, TBCD_CHANNEL, paper), CDRF_SKIPDEFAULT);
  const std::vector<COLORREF> seen = {paper.At(0, 0), paper.At(60, 12), paper.At(119, 29),
                                      paper.At(120, 29), paper.At(119, 30)};
  EXPECT_EQ(seen, (std::vector<COLORREF>{kWhite, kSkin, kLit, kPaper, kPaper}));
  EXPECT_EQ(notify(horizontal, CDDS_ITEMPREPAINT, TBCD_TICS, paper), 0);
}

struct Program : SettingsApplier, WindowActions {
  explicit Program(int32_t winx = 0, int32_t winy = 0, const char* module = nullptr) {
    app.winx = winx;
    app.winy = winy;
    built = windows.Build(GetModuleHandleA(module), {}, nullptr);
  }
  ~Program() override {
    windows.Release();
    Drain();
  }
  void ApplySettings() override {}
  void PressAutoMode() override {}
  void ResetAutoMode() override { ++cancels; }
  void ResetToDefaults() override {}
  void TogglePanel() override {}
  void SaveLastTake(HWND) override {}
  void OpenManual(HWND) override {}
  int32_t SaveAsNewPreset() override { return 0; }
  bool SwitchToPreset(int32_t) override { return false; }
  DeviceList CaptureDevices() override { return {}; }
  DeviceList PlaybackDevices() override { return {}; }
  void ChooseCaptureDevice(const std::string&) override {}
  void ChoosePlaybackDevice(const std::string&) override {}
  EngineSettings settings;
  AppSettings app;
  FrameHandOver frames;
  StatusDisplay status;
  SkinnedWindows windows{WindowLinks{settings, app, *this, frames, status, *this}};
  bool built;
  int cancels = 0;
};

TEST(SkinnedWindows, PlacedWhereStoredOrCentredAndGoneWithoutATraceAfterRelease) {
  const POINT centred{(GetSystemMetrics(SM_CXSCREEN) - 342) >> 1,
                      (GetSystemMetrics(SM_CYSCREEN) - 350) >> 1};
  const GdiLiveCounts before = LiveGdiCounts();
  for (const auto& [stored, placed] :
       {std::pair{POINT{100, 50}, POINT{100, 50}}, {POINT{-400, 9000}, centred}}) {
    Program p(stored.x, stored.y);
    ASSERT_TRUE(p.built) << p.windows.FailedStep();
    RECT main{};
    GetWindowRect(p.windows.MainWindow(), &main);
    EXPECT_EQ(std::pair(main.left, main.top), std::pair(placed.x, placed.y));
    p.windows.Release();
    EXPECT_EQ(FindWindowA(kMainClass, kMainTitle), nullptr);
    EXPECT_EQ(SkinnedWindows::FindRunningPanel(), nullptr);
    EXPECT_EQ(LiveGdiCounts(), before);
  }
  EXPECT_FALSE(Program(0, 0, "kernel32.dll").built) << "a module without the artwork";
  EXPECT_EQ(SkinnedWindows::FindRunningPanel(), nullptr);
  EXPECT_EQ(LiveGdiCounts(), before);
}

TEST(SkinnedWindows, ControlsShowSettingsFromAnyThreadAndCommandsKeepTheLevelsInRange) {
  Program p;
  ASSERT_TRUE(p.built) << p.windows.FailedStep();
  auto& in = *p.windows.Inside();
  const EngineSettingsValues before = p.settings.Load();
  const EffectiveSettings e = MakeEffective(before);
  ControlPositions positions = PositionsFor(e, e.NThre, e.SilenceTime);
  positions.delayKnob = 7;
  // Shown from another thread through the panel's queue, and never written back.
  std::thread([&] { p.windows.ShowSettings(positions); }).join();
  Drain();
  EXPECT_EQ(SendMessageA(in.speedSlider, TBM_GETPOS, 0, 0), positions.speedSlider);
  EXPECT_EQ(in.delay.Value(), 7);
  SendMessageA(p.windows.Panel(), WM_HSCROLL, 0, 0);  // sliders that did not move
  const EngineSettingsValues after = p.settings.Load();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  // The threshold marker: 40 % stands at x 140, four pixels under the meter.
  p.settings.NThre.store(40);
  SendMessageA(p.windows.Panel(), WM_PAINT, 0, 0);
  EXPECT_EQ(GetPixel(in.panelCompose.Dc(), 140, 185), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(in.panelCompose.Dc(), 140, 188), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(in.panelCompose.Dc(), 140, 189), GetPixel(in.panelSkin.Dc(), 140, 189));
  // The keypad's levels stay in range whatever was stored.
  p.settings.peakThreshold.store(40000);
  p.settings.oscilloDivisor.store(INT32_MIN);
  for (const WORD command : {kPeakUpCommand, kScaleDownCommand, kScaleUpCommand}) {
    SendMessageA(p.windows.MainWindow(), WM_COMMAND, MAKEWPARAM(command, 1), 0);
  }
  EXPECT_EQ(p.settings.peakThreshold.load(), 32768);
  EXPECT_EQ(p.settings.oscilloDivisor.load(), 1024);
  EXPECT_STREQ(p.status.Read().value, "1024");
  // Dragged left of the window, the main window stays put.
  SetCursorPos(0, 0);  // away from the close button, which would claim the press
  RECT from{}, to{};
  GetWindowRect(p.windows.MainWindow(), &from);
  SendMessageA(p.windows.MainWindow(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 300));
  SendMessageA(p.windows.MainWindow(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-20, 300));
  GetWindowRect(p.windows.MainWindow(), &to);
  EXPECT_EQ(to.left, from.left);
}

// A drag or a button press whose release went elsewhere ends; crossing the close button does not.
TEST(SkinnedWindows, LostReleasesEndDragsAndCancelPressesAndEscapeClosesLikeTheButton) {
  Program p;
  ASSERT_TRUE(p.built) << p.windows.FailedStep();
  HWND main = p.windows.MainWindow();
  const auto left = [&] {
    RECT r{};
    GetWindowRect(main, &r);
    return r.left;
  };
  const auto send = [&](UINT message, WPARAM keys, int x, int y) {
    SendMessageA(main, message, keys, MAKELPARAM(x, y));
  };
  const int16_t closeX = 253, closeY = 48;
  enum Lost { kMoveWithoutButton, kCaptureTaken, kReleaseOnClose };
  for (const Lost lost : {kMoveWithoutButton, kCaptureTaken, kReleaseOnClose}) {
    SetCursorPos(0, 0);  // away from the close button, which would claim the press
    const LONG start = left();
    send(WM_LBUTTONDOWN, MK_LBUTTON, 100, 48);
    send(WM_MOUSEMOVE, MK_LBUTTON, closeX, closeY);  // over the close button, still dragging
    ASSERT_EQ(left(), start + closeX - 100) << lost;
    if (lost == kMoveWithoutButton) {
      send(WM_MOUSEMOVE, 0, closeX + 20, closeY);
    } else if (lost == kCaptureTaken) {
      SendMessageA(main, WM_CAPTURECHANGED, 0, LPARAM(p.windows.Panel()));
    } else {
      send(WM_LBUTTONUP, 0, closeX, closeY);
    }
    send(WM_MOUSEMOVE, MK_LBUTTON, closeX + 40, closeY);
    EXPECT_EQ(left(), start + closeX - 100) << "the window no longer follows, case " << lost;
    EXPECT_FALSE(Drain()) << lost;
    SetWindowPos(main, nullptr, start, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
  for (const bool lostRelease : {true, false}) {
    send(WM_MOUSEMOVE, 0, closeX, closeY);
    send(WM_LBUTTONDOWN, MK_LBUTTON, closeX, closeY);
    if (lostRelease) {
      send(WM_MOUSEMOVE, 0, closeX, closeY);
    }
    send(WM_LBUTTONUP, 0, closeX, closeY);
    EXPECT_EQ(Drain(), !lostRelease) << "a press whose release was lost is no click";
  }
  EXPECT_EQ(p.cancels, 1);
  SendMessageA(main, WM_COMMAND, MAKEWPARAM(kCloseCommand, 1), 0);
  EXPECT_TRUE(Drain());
  EXPECT_EQ(p.cancels, 2) << "Escape cancels a calibration as the button does";
  SendMessageA(main, WM_COMMAND, MAKEWPARAM(kPresetCommand + 1, 1), 0);
  EXPECT_EQ(p.cancels, 3) << "Ctrl+1 cancels a calibration before the preset loads";
  EXPECT_STREQ(p.status.Read().title, "SHUTTING DOWN");
  // Only the slider that moved writes: a stored threshold beyond its slider stays.
  auto& in = *p.windows.Inside();
  p.settings.NThre.store(150);
  SendMessageA(in.speedSlider, TBM_SETPOS, TRUE, 150);
  SendMessageA(p.windows.Panel(), WM_HSCROLL, 0, LPARAM(in.speedSlider));
  EXPECT_EQ(p.settings.Speed.load(), 1.5F);
  EXPECT_EQ(p.settings.NThre.load(), 150);
}

TEST(Shell, TheRunningPanelIsFoundByClassAndTitleNotByTitleAlone) {
  const RECT area{0, 0, 40, 40};
  WinletWindow panel, decoy;
  ASSERT_TRUE(panel.Create(GetModuleHandleA(nullptr), nullptr, "MimClss", "Mimicore", &area,
                           nullptr, nullptr, WS_POPUP));
  // Created last, so that a search by title alone meets it first.
  ASSERT_TRUE(decoy.Create(GetModuleHandleA(nullptr), nullptr, "MimDecoy", "Mimicore", &area,
                           nullptr, nullptr, WS_POPUP));
  EXPECT_EQ(SkinnedWindows::FindRunningPanel(), panel.Window());
}

bool g_boxShown = false;
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND box = FindWindowA("#32770", "Mimicore box");
  g_boxShown = g_boxShown || box != nullptr;
  if (box != nullptr) {
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
}

// Half-made windows post a quit as they go: the start-up error must still wait for its answer.
TEST(Shell, StartupErrorBoxWaitsForTheUserDespiteAQueuedQuit) {
  PostQuitMessage(0);
  const UINT_PTR timer = SetTimer(nullptr, 0, 300, AnswerBox);
  ShowErrorBox("Unable to go on.", "Mimicore box");
  KillTimer(nullptr, timer);
  EXPECT_TRUE(g_boxShown);
}

TEST(Shell, GuardsCountWhatTheyHoldAndGiveItBackOnce) {
  auto counts = [] {
    return std::tuple{LiveGdiCounts().objects, LiveKernelHandles(), LiveWinletWindows()};
  };
  const auto [objects, kernel, windows] = counts();
  {
    GdiObject pen(CreatePen(PS_SOLID, 1, 0));
    KernelHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    event.Reset(event.Get());  // taking what it holds keeps it open
    EXPECT_NE(WaitForSingleObject(event.Get(), 0), WAIT_FAILED);
    WinletWindow window;
    ASSERT_TRUE(window.Create(GetModuleHandleA(nullptr), nullptr, "Counted", nullptr, nullptr,
                              nullptr, nullptr, WS_POPUP));
    EXPECT_EQ(counts(), std::tuple(objects + 1, kernel + 1, windows + 1));
    DestroyWindow(window.Window());  // behind its object's back: forgotten, counted off once
    EXPECT_EQ(window.Window(), nullptr);
    HANDLE kept = event.Release();  // handed away: left open for its new owner
    EXPECT_NE(WaitForSingleObject(kept, 0), WAIT_FAILED);
    CloseHandle(kept);
  }
  EXPECT_EQ(counts(), std::tuple(objects, kernel, windows));
}

std::atomic<int> g_capsReleases{0};
LRESULT CALLBACK CountCaps(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  g_capsReleases += message == WM_KEYUP && wParam == VK_CAPITAL ? 1 : 0;
  return DefWindowProcA(window, message, wParam, lParam);
}

// As when another program has the focus: the toggle reaches another thread.
TEST(Shell, LockLightsSeeACapsLockToggleThatAnotherThreadsWindowReceived) {
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // this thread's own queue
  std::atomic<bool> ready{false}, stop{false};
  std::thread other([&] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = CountCaps;
    wc.lpszClassName = "LockLightsFocus";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                  nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(window);
    SetFocus(window);
    for (ready = true; !stop; Sleep(5)) {
      Drain();
    }
    DestroyWindow(window);
  });
  auto toggle = [&](int releases) {
    while (!ready) {
      Sleep(5);
    }
    keybd_event(VK_CAPITAL, kLockKeyScanCode, KEYEVENTF_EXTENDEDKEY, 0);
    keybd_event(VK_CAPITAL, kLockKeyScanCode, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
    for (int i = 0; i < 500 && g_capsReleases < releases; ++i) {
      Sleep(10);
    }
    return g_capsReleases >= releases;
  };
  Sleep(300);
  WinKeyboardPort port;
  KeyTable before{}, after{};
  port.ReadKeys(before);
  const bool received = toggle(1);
  port.ReadKeys(after);
  toggle(2);  // back as it was
  stop = true;
  other.join();
  ASSERT_TRUE(received) << "the focus window never got the key";
  EXPECT_NE(LockLights::IsLit(after, kVkCapsLock), LockLights::IsLit(before, kVkCapsLock));
}

TEST(Registry, ValuesComeBackAsWrittenAsFourBytesOrBoundedStrings) {
  constexpr const char* kKey = "SOFTWARE\\Quorvane\\MimicoreTest";
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  RegistrySettingsStore store;
  EXPECT_EQ(store.OpenForReading(kKey), nullptr);
  ASSERT_TRUE(store.OpenForWriting(kKey)->Put("put", {1, 2, 3, 4}));
  ASSERT_TRUE(store.OpenForWriting(kKey)->PutString("name", "Mic & Line"));
  EXPECT_FALSE(store.OpenForWriting(kKey)->PutString("long", std::string(256, 'x')));
  // Strings: terminated, of at most 255 bytes, and of the string type only; "kept" is refused.
  const std::string x255(255, 'x');
  const struct {
    const char* name;
    DWORD type;  // written here when not 0
    std::string data, want;
  } cases[] = {{"name", 0, "", "Mic & Line"},
               {"put", 0, "", "kept"},
               {"255", REG_SZ, x255 + '\0', x255},
               {"256", REG_SZ, x255 + "x" + '\0', "kept"},
               {"long", REG_BINARY, "56789", "kept"},
               {"expand", REG_EXPAND_SZ, std::string("Mic\0", 4), "kept"},
               {"binary", REG_BINARY, std::string("Mic\0", 4), "kept"},
               {"bare", REG_SZ, "Mic", "Mic"}};
  HKEY raw = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &raw), ERROR_SUCCESS);
  for (const auto& c : cases) {
    if (c.type != 0) {
      RegSetValueExA(raw, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                     DWORD(c.data.size()));
    }
  }
  RegCloseKey(raw);
  const auto key = store.OpenForReading(kKey);
  StoredBytes got{};
  EXPECT_TRUE(key->Get("put", got));
  EXPECT_FALSE(key->Get("missing", got));
  EXPECT_FALSE(key->Get("long", got)) << "a longer value must not spill into the field";
  EXPECT_EQ(got, (StoredBytes{1, 2, 3, 4}));
  for (const auto& c : cases) {
    std::string text = "kept";
    const bool taken = key->GetString(c.name, text);
    // Without its terminator a string may or may not come back with one; never more.
    if (std::strcmp(c.name, "bare") == 0) {
      EXPECT_TRUE(!taken || text == "Mic");
    } else {
      EXPECT_EQ(taken, c.want != "kept") << c.name;
      EXPECT_EQ(text, c.want) << c.name;
    }
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
}

}  // namespace
}  // namespace mimicore
