// The two skinned windows built from the program's own resources.
#include "ui/windows/skinned_windows_win.h"

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "engine/voice_engine.h"
#include "ui/controls/gdi_guards_win.h"
#include "ui/windows/skinned_windows_parts_win.h"

namespace mimicore {
namespace {

class CountingApplier final : public SettingsApplier {
 public:
  void ApplySettings() override { ++applied; }
  int applied = 0;
};

class RecordingActions final : public WindowActions {
 public:
  void PressAutoMode() override { done.emplace_back("automode"); }
  void ResetAutoMode() override { done.emplace_back("reset automode"); }
  void TogglePanel() override { done.emplace_back("toggle"); }
  void SaveLastTake(HWND) override { done.emplace_back("save"); }
  void OpenManual(HWND) override { done.emplace_back("manual"); }
  std::vector<std::string> done;
};

struct Program {
  EngineSettings settings;
  AppSettings app;
  CountingApplier applier;
  FrameHandOver frames;
  StatusDisplay status;
  RecordingActions actions;
  SkinnedWindows windows{WindowLinks{settings, app, applier, frames, status, actions}};
};

void DrainMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageA(&msg);
  }
}

RECT WindowRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

TEST(SkinnedWindows, PlacedCentredOrWhereStoredAndGoneAfterRelease) {
  const int screenW = GetSystemMetrics(SM_CXSCREEN);
  const int screenH = GetSystemMetrics(SM_CYSCREEN);
  const POINT centred{(screenW - 342) >> 1, (screenH - 350) >> 1};
  struct Case {
    int32_t winx, winy;
    POINT main;
  } cases[] = {
      {100, 50, {100, 50}}, {-400, 9000, centred},  // on no screen at all
  };
  const GdiLiveCounts before = LiveGdiCounts();
  for (const Case& c : cases) {
    Program p;
    p.app.winx = c.winx;
    p.app.winy = c.winy;
    int pumped = 0;
    ASSERT_TRUE(p.windows.Build(GetModuleHandleA(nullptr), {}, [&] { ++pumped; }))
        << p.windows.FailedStep();
    EXPECT_EQ(pumped, c.main.x == centred.x && c.main.y == centred.y ? 0 : 2);
    const RECT main = WindowRect(p.windows.MainWindow());
    const RECT panel = WindowRect(p.windows.Panel());
    EXPECT_EQ(main.left, c.main.x);
    EXPECT_EQ(main.top, c.main.y);
    EXPECT_EQ(panel.left, c.main.x + 66);
    EXPECT_EQ(panel.top, c.main.y + 72);
    EXPECT_EQ(GetWindow(p.windows.MainWindow(), GW_OWNER), p.windows.Panel());
    DrainMessages();
    p.windows.Release();
    EXPECT_EQ(FindWindowA("MimClss", "Mimicore"), nullptr);
    EXPECT_EQ(FindWindowA("MimClss2", "MimicoreIfc"), nullptr);
    EXPECT_EQ(LiveGdiCounts(), before) << "after the cycle with winx " << c.winx;
    DrainMessages();
  }
}

TEST(SkinnedWindows, AModuleWithoutTheArtworkFailsAndLeavesNothing) {
  const GdiLiveCounts before = LiveGdiCounts();
  Program p;
  EXPECT_FALSE(p.windows.Build(GetModuleHandleA("kernel32.dll"), {}, nullptr));
  EXPECT_EQ(p.windows.MainWindow(), nullptr);
  EXPECT_EQ(FindWindowA("MimClss", "Mimicore"), nullptr);
  EXPECT_EQ(LiveGdiCounts(), before);
  DrainMessages();
}

TEST(SkinnedWindows, PositionsFromAnotherThreadReachTheControlsThroughTheQueue) {
  Program p;
  ASSERT_TRUE(p.windows.Build(GetModuleHandleA(nullptr), {}, nullptr)) << p.windows.FailedStep();
  HWND speed = GetDlgItem(p.windows.Panel(), kSpeedSliderId);
  HWND echo = GetDlgItem(p.windows.Panel(), kEchoSwitchId);
  ControlPositions positions;
  positions.speedSlider = 137;
  positions.thresholdSlider = 12;
  positions.echoChecked = true;
  std::thread([&] { p.windows.ShowSettings(positions); }).join();
  DrainMessages();
  EXPECT_EQ(SendMessageA(speed, TBM_GETPOS, 0, 0), 137);
  EXPECT_EQ(SendMessageA(echo, BM_GETCHECK, 0, 0), BST_CHECKED);

  // Positions shown are never written back as settings.
  positions.echoChecked = false;
  positions.bandPassKnob = 100;
  positions.decayKnob = 40;
  positions.echoKnobsEnabled = false;
  const EngineSettingsValues before = p.settings.Load();
  p.windows.ShowSettings(positions);
  DrainMessages();
  auto& in = *p.windows.Inside();
  EXPECT_EQ(in.bandPass.Value(), 100);
  EXPECT_EQ(in.decay.Value(), 40);
  EXPECT_EQ(in.decay.enabled, 0);
  const EngineSettingsValues after = p.settings.Load();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

  // The threshold marker: 40 % stands at x 140, four pixels under the meter.
  p.settings.NThre.store(40);
  SendMessageA(p.windows.Panel(), WM_PAINT, 0, 0);
  EXPECT_EQ(GetPixel(in.panelCompose.Dc(), 140, 185), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(in.panelCompose.Dc(), 140, 188), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(in.panelCompose.Dc(), 140, 189), GetPixel(in.panelSkin.Dc(), 140, 189));
  p.windows.Release();
  DrainMessages();
}

// A built program whose status and actions start empty.
struct Built : Program {
  Built() {
    EXPECT_TRUE(windows.Build(GetModuleHandleA(nullptr), {}, nullptr)) << windows.FailedStep();
    // The controls where the settings stand, as the engine would put them.
    const EffectiveSettings e = MakeEffective(settings.Load());
    windows.ShowSettings(PositionsFor(e, e.NThre, e.SilenceTime));
    DrainMessages();
    status.ShowStatus("", "%s", "");
    actions.done.clear();
  }
  ~Built() {
    windows.Release();
    DrainMessages();
  }
  SkinnedWindows::Parts& In() { return *windows.Inside(); }
  std::string Shown() {
    const StatusSnapshot now = status.Read();
    return std::string(now.title) + "|" + now.value;
  }
};

TEST(WindowCommands, KeysKeepTheLevelsInRangeAndSayTheirValue) {
  struct Case {
    int32_t peak, divisor;
    WPARAM command;
    int32_t wantPeak, wantDivisor;
    const char* shown;
  } cases[] = {
      {32768, 600, MAKEWPARAM(kPeakUpCommand, 1), 32768, 600, "PEAK LEVEL|32768"},
      {40000, 600, MAKEWPARAM(kPeakUpCommand, 1), 32768, 600, "PEAK LEVEL|32768"},
      {40, 600, MAKEWPARAM(kPeakDownCommand, 1), 32, 600, "PEAK LEVEL|32"},
      {4096, 600, MAKEWPARAM(kScaleDownCommand, 1), 4096, 512, "OSCILLOSCOPE AMP|512"},
      {4096, 32500, MAKEWPARAM(kScaleUpCommand, 1), 4096, 32768, "OSCILLOSCOPE AMP|32768"},
      {4096, INT32_MIN, MAKEWPARAM(kScaleDownCommand, 1), 4096, 512, "OSCILLOSCOPE AMP|512"},
      {4096, 600, MAKEWPARAM(kPeakUpCommand, 0), 4096, 600, "|"},  // not from the keys
      {4096, 600, MAKEWPARAM(6, 1), 4096, 600, "|"},               // no such command
  };
  Built b;
  for (const Case& c : cases) {
    b.status.ShowStatus("", "%s", "");
    b.settings.peakThreshold.store(c.peak);
    b.settings.oscilloDivisor.store(c.divisor);
    SendMessageA(b.windows.MainWindow(), WM_COMMAND, c.command, 0);
    EXPECT_EQ(b.settings.peakThreshold.load(), c.wantPeak) << c.shown;
    EXPECT_EQ(b.settings.oscilloDivisor.load(), c.wantDivisor) << c.shown;
    EXPECT_EQ(b.Shown(), c.shown);
  }
  SendMessageA(b.windows.MainWindow(), WM_COMMAND, MAKEWPARAM(kSaveTakeCommand, 1), 0);
  SendMessageA(b.windows.MainWindow(), WM_COMMAND, MAKEWPARAM(kManualCommand, 1), 0);
  EXPECT_EQ(b.actions.done, (std::vector<std::string>{"save", "manual"}));
}

TEST(WindowCommands, KnobsSlidersAndTheEchoSwitchWriteTheirSetting) {
  Built b;
  auto& p = b.In();
  HWND panel = b.windows.Panel();
  struct Case {
    RotaryKnob& knob;
    int32_t value;
    const char* shown;
  } knobs[] = {
      {p.bandPass, 0, "BAND-PASS FILTER OFF| "},    {p.bandPass, 100, "BAND-PASS FILTER|5120 hz"},
      {p.delay, 100, "ECHO DELAY|300 ms"},          {p.decay, 40, "ECHO DECAY|40 %"},
      {p.silence, 100, "SILENCE RESPONSE|2000 ms"},
  };
  for (const Case& c : knobs) {
    c.knob.SetPosition(c.value);
    SendMessageA(panel, WM_KNOB_CHANGED, c.knob.id, 0);
    EXPECT_EQ(b.Shown(), c.shown);
  }
  EXPECT_EQ(b.settings.Bpf.load(), 5120);
  EXPECT_EQ(b.settings.Delay.load(), 300);
  EXPECT_EQ(b.settings.Decay.load(), 0.4F);
  EXPECT_EQ(b.settings.SilenceTime.load(), 2000);

  for (const auto& [position, shown] : {std::pair{50, "SPEED|0.50 x"}, {220, "SPEED|2.20 x"}}) {
    SendMessageA(p.speedSlider, TBM_SETPOS, TRUE, position);
    SendMessageA(panel, WM_HSCROLL, 0, 0);
    EXPECT_EQ(b.Shown(), shown);
  }
  b.status.ShowStatus("", "%s", "");
  SendMessageA(panel, WM_HSCROLL, 0, 0);
  EXPECT_EQ(b.Shown(), "|") << "sliders that did not move write nothing";
  SendMessageA(p.speedSlider, TBM_SETPOS, TRUE, 57);
  SendMessageA(panel, WM_HSCROLL, 0, 0);
  EXPECT_EQ(b.settings.Speed.load(), 0.57F);
  EXPECT_EQ(b.Shown(), "SPEED|0.57 x") << "the threshold did not move";
  SendMessageA(p.thresholdSlider, TBM_SETPOS, TRUE, 10);
  SendMessageA(panel, WM_HSCROLL, 0, 0);
  EXPECT_EQ(b.settings.NThre.load(), 10);
  EXPECT_EQ(b.Shown(), "NOISE THRESHOLD|10 %");

  for (const bool on : {true, false}) {
    SendMessageA(p.echoSwitch, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(kEchoSwitchId, BN_CLICKED), 0);
    EXPECT_EQ(b.settings.Echo.load(), on ? 1 : 0);
    EXPECT_EQ(p.delay.enabled, on ? 1 : 0);
    EXPECT_EQ(p.decay.enabled, on ? 1 : 0);
    EXPECT_EQ(b.Shown(), on ? "ECHO ON| " : "ECHO OFF| ");
  }
}

TEST(WindowCommands, ButtonsTabResetAutomodeAndClose) {
  Built b;
  auto& p = b.In();
  b.settings.peakThreshold.store(1000);
  b.settings.Delay.store(33);
  for (BitmapButton* button : {&p.tab, &p.automode, &p.reset}) {
    SendMessageA(b.windows.Panel(), WM_CONTROL_CLICKED, button->id, 0);
  }
  EXPECT_EQ(b.actions.done, (std::vector<std::string>{"toggle", "automode", "reset automode"}));
  EXPECT_EQ(b.Shown(), "RESET| ");
  EXPECT_EQ(b.settings.Delay.load(), DefaultEngineSettings.Delay);
  EXPECT_EQ(b.settings.peakThreshold.load(), 1000) << "kept by a reset";

  SendMessageA(b.windows.MainWindow(), WM_CONTROL_CLICKED, p.close.id, 0);
  EXPECT_EQ(b.Shown(), "SHUTTING DOWN| ");
  MSG quit{};
  EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

// Where the drag lands is end-to-end tested; here what must not move it.
TEST(WindowCommands, DragRefusesAPointLeftOfTheWindowAndEndsOnRelease) {
  Built b;
  HWND main = b.windows.MainWindow();
  SetCursorPos(0, 0);  // away from the close button, which would claim the press
  const RECT before = WindowRect(main);
  SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 300));
  EXPECT_EQ(b.Shown(), "MOVING| ");
  EXPECT_EQ(SendMessageA(main, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-20 & 0xFFFF, 300)), -1);
  EXPECT_EQ(WindowRect(main).left, before.left);
  SendMessageA(main, WM_LBUTTONUP, 0, MAKELPARAM(100, 300));
  SendMessageA(main, WM_MOUSEMOVE, 0, MAKELPARAM(200, 200));
  EXPECT_EQ(WindowRect(main).left, before.left) << "the drag ended";
}

}  // namespace
}  // namespace mimicore
