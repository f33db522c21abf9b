// The skinned windows built from the program's own artwork, the shell's
// window and key lookups, the handle guards and the registry store.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/lock_lights_win.h"
#include "core/kernel_handle_win.h"
#include "engine/voice_engine.h"
#include "settings/registry_store_win.h"
#include "ui/windows/live_counts_win.h"
#include "ui/windows/skinned_windows_parts_win.h"
#include "ui/windows/winlet_window_win.h"

namespace mimicore {
namespace {

void Drain() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageA(&msg);
  }
}

struct NoApplier final : SettingsApplier {
  void ApplySettings() override {}
};
struct NoActions final : WindowActions {
  void PressAutoMode() override {}
  void ResetAutoMode() override {}
  void TogglePanel() override {}
  void SaveLastTake(HWND) override {}
  void OpenManual(HWND) override {}
};

struct Program {
  explicit Program(int32_t winx = 0, int32_t winy = 0, const char* module = nullptr) {
    app.winx = winx;
    app.winy = winy;
    built = windows.Build(GetModuleHandleA(module), {}, nullptr);
  }
  ~Program() {
    windows.Release();
    Drain();
  }
  EngineSettings settings;
  AppSettings app;
  NoApplier applier;
  FrameHandOver frames;
  StatusDisplay status;
  NoActions actions;
  SkinnedWindows windows{WindowLinks{settings, app, applier, frames, status, actions}};
  bool built;
};

TEST(SkinnedWindows, PlacedWhereStoredOrCentredAndGoneWithoutATraceAfterRelease) {
  const POINT centred{(GetSystemMetrics(SM_CXSCREEN) - 342) >> 1,
                      (GetSystemMetrics(SM_CYSCREEN) - 350) >> 1};
  const GdiLiveCounts before = LiveGdiCounts();
  for (const auto& [stored, placed] :
       {std::pair{POINT{100, 50}, POINT{100, 50}}, {POINT{-400, 9000}, centred}}) {
    Program p(stored.x, stored.y);
    ASSERT_TRUE(p.built) << p.windows.FailedStep();
    RECT main{}, panel{};
    GetWindowRect(p.windows.MainWindow(), &main);
    GetWindowRect(p.windows.Panel(), &panel);
    EXPECT_EQ(std::pair(main.left, main.top), std::pair(placed.x, placed.y));
    EXPECT_EQ(std::pair(panel.left, panel.top), std::pair(placed.x + 66, placed.y + 72));
    p.windows.Release();
    EXPECT_EQ(FindWindowA("MimClss2", "MimicoreIfc"), nullptr);
    EXPECT_EQ(SkinnedWindows::FindRunningPanel(), nullptr);
    EXPECT_EQ(LiveGdiCounts(), before);
  }
  EXPECT_FALSE(Program(0, 0, "kernel32.dll").built) << "a module without the artwork";
  EXPECT_EQ(SkinnedWindows::FindRunningPanel(), nullptr);
  EXPECT_EQ(LiveGdiCounts(), before);
}

TEST(SkinnedWindows, PositionsFromAnotherThreadReachTheControlsAndAreNeverWrittenBack) {
  Program p;
  ASSERT_TRUE(p.built) << p.windows.FailedStep();
  auto& in = *p.windows.Inside();
  ControlPositions positions;
  positions.speedSlider = 137;
  positions.decayKnob = 40;
  positions.echoKnobsEnabled = false;
  const EngineSettingsValues before = p.settings.Load();
  std::thread([&] { p.windows.ShowSettings(positions); }).join();
  Drain();
  EXPECT_EQ(SendMessageA(in.speedSlider, TBM_GETPOS, 0, 0), 137);
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
}

TEST(SkinnedWindows, CommandsKeepTheLevelsInRangeAndControlsWriteTheirSettings) {
  Program p;
  ASSERT_TRUE(p.built) << p.windows.FailedStep();
  auto& in = *p.windows.Inside();
  const EffectiveSettings e = MakeEffective(p.settings.Load());
  p.windows.ShowSettings(PositionsFor(e, e.NThre, e.SilenceTime));
  Drain();
  HWND main = p.windows.MainWindow(), panel = p.windows.Panel();
  struct Case {
    int32_t peak, divisor;
    WORD command, fromKeys;
    int32_t wantPeak, wantDivisor;
    const char* shown;
  } cases[] = {
      {40000, 600, kPeakUpCommand, 1, 32768, 600, "PEAK LEVEL|32768"},
      {40, 600, kPeakDownCommand, 1, 32, 600, "PEAK LEVEL|32"},
      {99, 32500, kScaleUpCommand, 1, 99, 32768, "OSCILLOSCOPE AMP|32768"},
      {99, INT32_MIN, kScaleDownCommand, 1, 99, 512, "OSCILLOSCOPE AMP|512"},
      {99, 600, kPeakUpCommand, 0, 99, 600, "|"},
      {99, 600, 6, 1, 99, 600, "|"},
  };
  for (const Case& c : cases) {
    p.status.ShowStatus("", "%s", "");
    p.settings.peakThreshold.store(c.peak);
    p.settings.oscilloDivisor.store(c.divisor);
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(c.command, c.fromKeys), 0);
    EXPECT_EQ(p.settings.peakThreshold.load(), c.wantPeak) << c.shown;
    EXPECT_EQ(p.settings.oscilloDivisor.load(), c.wantDivisor) << c.shown;
    EXPECT_EQ(std::string(p.status.Read().title) + "|" + p.status.Read().value, c.shown);
  }
  SendMessageA(panel, WM_HSCROLL, 0, 0);
  EXPECT_STREQ(p.status.Read().title, "") << "sliders that did not move write nothing";
  SendMessageA(panel, WM_CONTROL_CLICKED, in.reset.id, 0);
  EXPECT_EQ(p.settings.peakThreshold.load(), 99) << "kept by a reset";
  for (const bool on : {true, false}) {
    SendMessageA(in.echoSwitch, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(kEchoSwitchId, BN_CLICKED), 0);
    EXPECT_EQ(p.settings.Echo.load(), on ? 1 : 0);
    EXPECT_EQ(in.delay.enabled + in.decay.enabled, on ? 2 : 0);
  }
  in.decay.SetPosition(40);
  SendMessageA(panel, WM_KNOB_CHANGED, in.decay.id, 0);
  EXPECT_EQ(p.settings.Decay.load(), 0.4F);
  // Dragged left of the window, the main window stays put.
  SetCursorPos(0, 0);  // away from the close button, which would claim the press
  RECT before{}, after{};
  GetWindowRect(main, &before);
  SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 300));
  SendMessageA(main, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-20, 300));
  GetWindowRect(main, &after);
  EXPECT_EQ(after.left, before.left);
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

TEST(Shell, GuardsCountWhatTheyHoldAndTheWindowsAnswerWithIt) {
  WinletWindow probe, other;
  ASSERT_TRUE(probe.Create(GetModuleHandleA(nullptr), nullptr, "LiveCountsProbe", nullptr, nullptr,
                           nullptr, nullptr, WS_POPUP));
  auto ask = [&](WPARAM which) {
    return SendMessageA(probe.Window(), LiveCountsMessage(), which, 0);
  };
  EXPECT_EQ(ask(kSignature), kLiveCountsSignature);
  EXPECT_EQ(ask(kLiveCountEnd), 0);
  const LRESULT objects = ask(kGdiObjects), kernel = ask(kKernelHandles), windows = ask(kWindows);
  {
    GdiObject pen(CreatePen(PS_SOLID, 1, 0));
    KernelHandle event(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    event.Reset(event.Get());  // taking what it holds keeps it open
    EXPECT_NE(WaitForSingleObject(event.Get(), 0), WAIT_FAILED);
    ASSERT_TRUE(other.Create(GetModuleHandleA(nullptr), nullptr, "LiveCountsOther", nullptr,
                             nullptr, nullptr, nullptr, WS_POPUP));
    EXPECT_EQ(ask(kGdiObjects), objects + 1);
    EXPECT_EQ(ask(kKernelHandles), kernel + 1);
    EXPECT_EQ(ask(kWindows), windows + 1);
    DestroyWindow(other.Window());  // behind its object's back: forgotten, counted off once
    EXPECT_EQ(other.Window(), nullptr);
    HANDLE kept = event.Release();  // handed away: left open for its new owner
    EXPECT_NE(WaitForSingleObject(kept, 0), WAIT_FAILED);
    CloseHandle(kept);
  }
  EXPECT_EQ(ask(kGdiObjects), objects);
  EXPECT_EQ(ask(kKernelHandles), kernel);
  EXPECT_EQ(ask(kWindows), windows);
  Drain();
}

std::atomic<int> g_capsReleases{0};
LRESULT CALLBACK CountCaps(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYUP && wParam == VK_CAPITAL) {
    g_capsReleases.fetch_add(1);
  }
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
    ready = true;
    while (!stop) {
      Drain();
      Sleep(5);
    }
    DestroyWindow(window);
  });
  auto press = [](int releases) {
    keybd_event(VK_CAPITAL, kLockKeyScanCode, KEYEVENTF_EXTENDEDKEY, 0);
    keybd_event(VK_CAPITAL, kLockKeyScanCode, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
    for (int i = 0; i < 500 && g_capsReleases < releases; ++i) {
      Sleep(10);
    }
    return g_capsReleases >= releases;
  };
  while (!ready) {
    Sleep(5);
  }
  Sleep(200);
  WinKeyboardPort port;
  KeyTable before{}, after{};
  port.ReadKeys(before);
  const bool received = press(1);
  port.ReadKeys(after);
  press(2);  // put back as it was
  stop = true;
  other.join();
  ASSERT_TRUE(received) << "the focus window never got the key";
  EXPECT_NE(LockLights::IsLit(after, kVkCapsLock), LockLights::IsLit(before, kVkCapsLock));
}

TEST(Registry, ValuesComeBackOnlyAsFourBytesOfAKindTheProgramWrites) {
  constexpr const char* kKey = "SOFTWARE\\Quorvane\\MimicoreTest";
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  RegistrySettingsStore store;
  EXPECT_EQ(store.OpenForReading(kKey), nullptr);
  ASSERT_TRUE(store.OpenForWriting(kKey)->Put("put", {1, 2, 3, 4}));
  HKEY raw = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &raw), ERROR_SUCCESS);
  struct Case {
    const char* name;
    DWORD type;
    std::string bytes;
    bool taken;
  } cases[] = {{"long", REG_BINARY, "56789", false},
               {"short", REG_BINARY, "567", false},
               {"text", REG_SZ, "567", false},  // 4 bytes with its end
               {"dword", REG_DWORD, "5678", true}};
  for (const Case& c : cases) {
    RegSetValueExA(raw, c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.bytes.c_str()),
                   DWORD(c.bytes.size() + (c.type == REG_SZ ? 1 : 0)));
  }
  RegCloseKey(raw);
  const auto key = store.OpenForReading(kKey);
  StoredBytes got{};
  EXPECT_TRUE(key->Get("put", got));
  EXPECT_EQ(got, (StoredBytes{1, 2, 3, 4}));
  EXPECT_FALSE(key->Get("missing", got));
  for (const Case& c : cases) {
    EXPECT_EQ(key->Get(c.name, got), c.taken) << c.name;
    EXPECT_EQ(got, (c.taken ? StoredBytes{'5', '6', '7', '8'} : StoredBytes{1, 2, 3, 4})) << c.name;
  }
  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
}

}  // namespace
}  // namespace mimicore
