#include "app/shell_win.h"

#include <commctrl.h>

#include <array>
#include <cstring>
#include <memory>

#include "app/lock_lights.h"
#include "app/lock_lights_win.h"
#include "app/panel_slide.h"
#include "app/platform_win.h"
#include "app/startup.h"
#include "core/status_display.h"
#include "app/winlet_window_win.h"
#include "audio/wave_in_device_win.h"
#include "audio/wave_out_device_win.h"
#include "core/audio_block.h"
#include "engine/voice_engine.h"
#include "settings/engine_settings.h"
#include "settings/presets.h"
#include "settings/registry_store_win.h"

namespace mimicore {

namespace {

constexpr const char* kCaption = "Mimicore";
// The settings panel's title: a second instance finds the running one by it.
constexpr const char* kPanelTitle = "Mimicore";
constexpr const char* kMutexName = "MimiMut";

constexpr int kProgramCursor = 112;
constexpr int kMainWidth = 342;
constexpr int kMainHeight = 350;
constexpr int kPanelWidth = 297;
constexpr int kPanelHeight = 207;

// Process-wide objects, constructed before the entry point in this order
// and destroyed in reverse: the settings, the devices, the two windows (the
// main window's object first, so the panel's window goes first at exit).
EngineSettings g_settings;
AppSettings g_app;
StatusDisplay g_status;
WaveInDevice g_capture;
WaveOutDevice g_playback;
WinletWindow g_mainWindow;
WinletWindow g_panelWindow;

TickClock g_clock;
WaveOutPlayback g_playbackSink(g_playback);
PanelControlsView g_controls;
VoiceEngine g_engine(g_settings, g_status, g_clock, &g_playbackSink, nullptr, &g_controls);
PanelSlide g_slide;

// The capture device's handler: runs on its notification thread.
void OnCaptureBlock(WAVEHDR* header, uint32_t bufferBytes) {
  g_engine.OnCaptureBlock(reinterpret_cast<int16_t*>(header->lpData), bufferBytes);
}

LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kControlsChangedMessage) {
    g_controls.ShowHandedOver();
    return 0;
  }
  return DefaultWindowProc(window, message, wParam, lParam);
}

void PlacePanel(int32_t position) {
  RECT main{};
  if (g_mainWindow.Window() == nullptr || g_panelWindow.Window() == nullptr ||
      !GetWindowRect(g_mainWindow.Window(), &main)) {
    return;
  }
  const int left = main.left + kPanelOffsetX + position;
  const int top = main.top + kPanelOffsetY;
  // Moving a window queues messages of its own; placing it again where it
  // already stands would wake the loop for ever.
  RECT panel{};
  if (GetWindowRect(g_panelWindow.Window(), &panel) && panel.left == left && panel.top == top) {
    return;
  }
  SetWindowPos(g_panelWindow.Window(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void SlideStep() {
  if (auto position = g_slide.Step(GetTickCount())) {
    PlacePanel(*position);
  }
}

// Both windows, centred on the primary screen or where the main window was
// left last time.
void BuildWindows(HINSTANCE instance) {
  const int width = GetSystemMetrics(SM_CXSCREEN) & 0xFFFF;
  const int height = GetSystemMetrics(SM_CYSCREEN) & 0xFFFF;
  const int left = (width - kMainWidth) >> 1;
  const int top = (height - kMainHeight) >> 1;

  RECT panel{left + kPanelOffsetX, top + kPanelOffsetY, left + kPanelOffsetX + kPanelWidth,
             top + kPanelOffsetY + kPanelHeight};
  g_panelWindow.Create(instance, PanelWindowProc, "MimClss", kPanelTitle, &panel, nullptr, nullptr,
                       WS_POPUP);
  RECT main{left, top, left + kMainWidth, top + kMainHeight};
  g_mainWindow.Create(instance, DefaultWindowProc, "MimClss2", "MimicoreIfc", &main,
                      g_panelWindow.Window(), nullptr, WS_POPUP);

  if (g_app.winx != kNoWindowPosition) {
    SetWindowPos(g_mainWindow.Window(), nullptr, g_app.winx, g_app.winy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    SetWindowPos(g_panelWindow.Window(), nullptr, g_app.winx + kPanelOffsetX + g_slide.Position(),
                 g_app.winy + kPanelOffsetY, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
  g_controls.AttachPanel(g_panelWindow.Window(), GetCurrentThreadId());
  InitCommonControls();
  g_engine.ApplySettings();

  SetWindowPos(g_mainWindow.Window(), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  SetWindowPos(g_panelWindow.Window(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
  g_panelWindow.Show(SW_SHOW);
  g_mainWindow.Show(SW_SHOW);
  UpdateWindow(g_panelWindow.Window());
  UpdateWindow(g_mainWindow.Window());
}

struct Accelerators {
  HACCEL table = nullptr;
  std::array<HCURSOR, 5> cursors{};

  void Load(HINSTANCE instance) {
    cursors[0] = LoadCursorA(instance, MAKEINTRESOURCEA(kProgramCursor));
    cursors[1] = LoadCursorA(nullptr, IDC_HAND);
    cursors[2] = LoadCursorA(nullptr, IDC_SIZEALL);
    cursors[3] = LoadCursorA(nullptr, IDC_SIZEWE);
    cursors[4] = LoadCursorA(nullptr, IDC_ARROW);
    std::array<ACCEL, 6> keys{{
        {FVIRTKEY, VK_RETURN, 1},
        {FVIRTKEY, VK_ADD, 2},
        {FVIRTKEY, VK_SUBTRACT, 3},
        {FVIRTKEY, VK_MULTIPLY, 4},
        {FVIRTKEY, VK_DIVIDE, 5},
        {FVIRTKEY, VK_F1, 7},
    }};
    table = CreateAcceleratorTableA(keys.data(), int(keys.size()));
  }
  void Release() {
    // Only the program's own cursor was loaded from a file; the shared
    // system cursors must not be destroyed.
    if (cursors[0] != nullptr) {
      DestroyCursor(cursors[0]);
    }
    cursors.fill(nullptr);
    if (table != nullptr) {
      DestroyAcceleratorTable(table);
      table = nullptr;
    }
  }
};

// Removes and dispatches at most one queued message. False once WM_QUIT was
// seen.
bool PumpOneMessage(HACCEL accelerators) {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    return true;
  }
  const bool quit = msg.message == WM_QUIT;
  if (TranslateAcceleratorA(g_mainWindow.Window(), accelerators, &msg) == 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return !quit;
}

// Sleeps until a message arrives or the panel's next slide step is due, so
// that listening costs next to nothing while the panel rests.
void WaitForWork() {
  const auto wait = g_slide.WaitBeforeNextStep(GetTickCount());
  const DWORD timeout = wait ? DWORD(*wait) : INFINITE;
  if (timeout == 0) {
    return;
  }
  MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

// The steps of the program's life on Windows; app/startup.cpp decides their
// order.
class WindowsShell final : public ShellSteps {
 public:
  explicit WindowsShell(HINSTANCE instance) : instance_(instance) {}

  bool TakeSingleInstance() override {
    mutex_ = CreateMutexA(nullptr, TRUE, kMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
      if (mutex_ != nullptr) {
        CloseHandle(mutex_);
        mutex_ = nullptr;
      }
      return false;
    }
    return true;
  }
  void BringRunningInstanceToFront() override {
    if (HWND running = FindWindowA(nullptr, kPanelTitle)) {
      SetForegroundWindow(running);
    }
  }
  void ReleaseSingleInstance() override {
    if (mutex_ != nullptr) {
      ReleaseMutex(mutex_);
      CloseHandle(mutex_);
      mutex_ = nullptr;
    }
  }
  unsigned WaveInputDevices() override { return waveInGetNumDevs(); }
  void ShowStartupError(const char* text) override {
    MessageBoxA(GetFocus(), text, kCaption, MB_OK);
  }
  void ReadProgramFacts() override {
    // The program's folder, with its trailing backslash (the manual lives
    // below it).
    const DWORD length = GetModuleFileNameA(nullptr, moduleDirectory_.data(), MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      if (char* slash = std::strrchr(moduleDirectory_.data(), '\\')) {
        slash[1] = '\0';
      }
    } else {
      moduleDirectory_[0] = '\0';
    }
    version_.dwOSVersionInfoSize = sizeof version_;
    GetVersionExA(&version_);
    lights_ = std::make_unique<LockLights>(keyboard_, int32_t(version_.dwPlatformId));
  }
  void SwitchLightsOff() override { lights_->SwitchLightsOff(); }
  void RestoreLights() override { lights_->RestoreLights(); }
  bool AllocateTakeRing() override { return g_engine.AllocateRing(); }
  void FreeTakeRing() override { g_engine.FreeRing(); }
  void LoadCursorsAndKeys() override { accelerators_.Load(instance_); }
  void ReleaseCursorsAndKeys() override { accelerators_.Release(); }
  void LoadSettings() override { presets_.LoadSettingsAtStartup(); }
  void SaveSettings() override { presets_.SaveSettingsAtShutdown(); }
  void BuildWindows() override { mimicore::BuildWindows(instance_); }
  void ReleaseDrawing() override {}  // nothing is drawn yet
  bool OpenPlayback() override {
    return g_playback.Open(16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, nullptr);
  }
  void ClosePlayback() override { g_playback.Close(); }
  bool OpenCapture() override {
    return g_capture.Open(nullptr, 16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes,
                          OnCaptureBlock);
  }
  bool StartCapture() override { return g_capture.Start(); }
  void CloseCapture() override { g_capture.Close(); }
  void RunMainLoop() override {
    bool running = true;
    while (running || g_slide.Position() >= 1) {
      SlideStep();
      WaitForWork();
      if (!PumpOneMessage(accelerators_.table)) {
        running = false;
      }
      if (!running && g_slide.Open()) {
        g_slide.SetOpen(false);  // slide shut before the program goes
      }
    }
  }
  void StopTakes() override { g_engine.StopTakes(); }

 private:
  HINSTANCE instance_;
  HANDLE mutex_ = nullptr;
  std::array<char, MAX_PATH> moduleDirectory_{};
  OSVERSIONINFOA version_{};
  WinKeyboardPort keyboard_;
  std::unique_ptr<LockLights> lights_;
  Accelerators accelerators_;
  RegistrySettingsStore store_;
  Presets presets_{g_settings, g_app, store_, g_engine};
};

}  // namespace

int RunMimicore(HINSTANCE instance) {
  WindowsShell shell(instance);
  return RunProgram(shell);
}

}  // namespace mimicore
