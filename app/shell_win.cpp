#include "app/shell_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "app/device_choice.h"
#include "app/device_watchdog.h"
#include "app/lock_lights.h"
#include "app/lock_lights_win.h"
#include "app/manual_path.h"
#include "app/panel_slide.h"
#include "app/platform_win.h"
#include "app/startup.h"
#include "audio/wave_in_device_win.h"
#include "audio/wave_out_device_win.h"
#include "core/audio_block.h"
#include "core/kernel_handle_win.h"
#include "core/status_display.h"
#include "engine/voice_engine.h"
#include "resources/resource_ids.h"
#include "settings/device_names.h"
#include "settings/engine_settings.h"
#include "settings/presets.h"
#include "settings/registry_store_win.h"
#include "ui/windows/frame_hand_over_win.h"
#include "ui/windows/skinned_windows_win.h"
#include "ui/windows/wav_export_win.h"

namespace mimicore {

namespace {

constexpr const char* kCaption = "Mimicore";
constexpr const char* kMutexName = "MimiMut";

// Process-wide objects, constructed before the entry point in this order
// (on the window thread) and destroyed in reverse: the settings, the
// devices, the frame hand-over, the windows, the engine that feeds them.
// The windows are built and released by the start-up and shut-down steps;
// their object only outlives them.
VoiceEngine& Engine();
PanelSlide& Slide();
Presets& StoredPresets();
EngineSettings g_settings;
AppSettings g_app;
StatusDisplay g_status;
WaveInDevice g_capture;
WaveOutDevice g_playback;
FrameHandOver g_frames;
// The program's folder with its trailing backslash (the manual lives below
// it); empty when it could not be read.
std::array<char, MAX_PATH> g_moduleDirectory{};
RegistrySettingsStore g_store;
// The devices the user chose; window thread only.
DeviceChoice g_captureChoice(DeviceKind::kCapture);
DeviceChoice g_playbackChoice(DeviceKind::kPlayback);

DeviceList MenuDevices(DeviceKind kind);
void ChooseDevice(DeviceKind kind, const std::string& name);

// What the windows' buttons and keys do outside the windows.
class ShellActions final : public WindowActions {
 public:
  void PressAutoMode() override { Engine().PressAutoMode(); }
  void ResetAutoMode() override { Engine().ResetAutoMode(); }
  void ResetToDefaults() override { Engine().ResetToDefaults(); }
  void TogglePanel() override { Slide().Toggle(); }
  void SaveLastTake(HWND owner) override { mimicore::SaveLastTake(owner, Engine(), g_status); }
  void OpenManual(HWND owner) override {
    std::array<char, MAX_PATH> path{};
    if (g_moduleDirectory[0] == '\0' ||
        !BuildManualPath(g_moduleDirectory.data(), path.data(), path.size())) {
      return;  // no folder, or one too long for the manual's path
    }
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_DDEWAIT;
    info.hwnd = owner;
    info.lpVerb = "open";
    info.lpFile = path.data();
    info.nShow = SW_SHOWMAXIMIZED;
    ShellExecuteExA(&info);  // a viewer that cannot be started says so itself
  }
  int32_t SaveAsNewPreset() override { return StoredPresets().SaveAsNewPreset(); }
  bool SwitchToPreset(int32_t n) override { return StoredPresets().SwitchToPreset(n); }
  DeviceList CaptureDevices() override { return MenuDevices(DeviceKind::kCapture); }
  DeviceList PlaybackDevices() override { return MenuDevices(DeviceKind::kPlayback); }
  void ChooseCaptureDevice(const std::string& name) override {
    ChooseDevice(DeviceKind::kCapture, name);
  }
  void ChoosePlaybackDevice(const std::string& name) override {
    ChooseDevice(DeviceKind::kPlayback, name);
  }
};
ShellActions g_actions;
SkinnedWindows g_windows(WindowLinks{g_settings, g_app, Engine(), g_frames, g_status, g_actions});

TickClock g_clock;
WaveOutPlayback g_playbackSink(g_playback);
VoiceEngine g_engine(g_settings, g_status, g_clock, &g_playbackSink, &g_frames, &g_windows);
VoiceEngine& Engine() { return g_engine; }
PanelSlide g_slide;
PanelSlide& Slide() { return g_slide; }
// The store (above) is the window thread's: start-up, the menu's presets
// and devices, shut-down.
Presets g_presets{g_settings, g_app, g_store, g_engine};
Presets& StoredPresets() { return g_presets; }

// The capture device's handler: runs on its notification thread.
void OnCaptureBlock(WAVEHDR* header, uint32_t bufferBytes) {
  g_engine.OnCaptureBlock(reinterpret_cast<int16_t*>(header->lpData), bufferBytes);
}

// More than any menu offers; a driver reporting more is not believed.
constexpr UINT kMostDevices = 255;

// The platform's device names by device number, asked afresh each time:
// devices come and go, and their numbers with them. A device whose name
// cannot be read keeps its place with an empty name, which nobody chooses.
std::vector<std::string> ListedDevices(DeviceKind kind) {
  const bool capture = kind == DeviceKind::kCapture;
  const UINT count = std::min(capture ? waveInGetNumDevs() : waveOutGetNumDevs(), kMostDevices);
  std::vector<std::string> names(count);
  for (UINT id = 0; id < count; ++id) {
    // Both hold the name in a fixed array that a driver may fill to the end.
    WAVEINCAPSA in{};
    WAVEOUTCAPSA out{};
    const bool named = capture ? waveInGetDevCapsA(id, &in, sizeof in) == MMSYSERR_NOERROR
                               : waveOutGetDevCapsA(id, &out, sizeof out) == MMSYSERR_NOERROR;
    const char* name = capture ? in.szPname : out.szPname;
    if (named) {
      names[id].assign(name, strnlen(name, sizeof in.szPname));
    }
  }
  return names;
}

UINT PlatformDevice(int32_t id) { return id == kDefaultDevice ? WAVE_MAPPER : UINT(id); }

bool OpenPlaybackDevice() {
  return g_playbackChoice.Open(ListedDevices(DeviceKind::kPlayback), [](int32_t id) {
    return g_playback.Open(16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, nullptr,
                           PlatformDevice(id));
  });
}
bool OpenCaptureDevice() {
  return g_captureChoice.Open(ListedDevices(DeviceKind::kCapture), [](int32_t id) {
    return g_capture.Open(nullptr, 16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes,
                          OnCaptureBlock, PlatformDevice(id));
  });
}

void ShowDeviceStatus(const DeviceStatusText& text) {
  g_status.ShowStatus(text.title.c_str(), "%s", text.value.c_str());
}

// Lost devices: the window thread looks at them every kDeviceLookEveryMs
// (a thread timer, so that modal loops such as the save dialog keep it
// going), closes them when they stop answering and opens them again when
// they are back. Opening and closing happen on this thread only, and in
// steps that wait kCloseStepMs at most each: a device that holds on to its
// buffers is looked at again on the next look instead of being waited for.
DeviceWatchdog g_watchdog;

DeviceCounts CurrentCounts() {
  return {g_capture.ReturnedBuffers(), g_playback.ReturnedBuffers(), g_playback.QueuedBuffers()};
}

// One step each; true once both are closed. The capture device's thread
// writes to the playback device: playback is closed only once it has ended.
bool DropDevices() {
  const bool captureClosed = g_capture.CloseWithoutDraining();
  if (g_capture.HandlerMayRun()) {
    return false;
  }
  return g_playback.CloseWithoutDraining() && captureClosed;
}

bool ReopenDevices() {
  // Playback first, as at start-up: the first captured block may feed it.
  if (DropDevices() && OpenPlaybackDevice() && OpenCaptureDevice() && g_capture.Start()) {
    return true;
  }
  DropDevices();
  return false;
}

// While no capture block arrives the display would stand still: the window
// thread hands the engine blocks of silence itself, which keeps the status
// on the screen and lets a take that was cut off end. Only once the capture
// device's thread has ended, so the engine still runs on one thread at a
// time.
void KeepDisplayAlive() {
  static std::array<int16_t, kBlockBytes / 2> silence;
  if (g_capture.HandlerMayRun()) {
    return;
  }
  silence.fill(0);
  g_engine.OnCaptureBlock(silence.data(), kBlockBytes);
}

// A device the user chose (or that came back) takes the place of the one in
// use in the same bounded steps: the capture device first, since its thread
// writes to the playback device, which is changed only once that thread has
// ended. What is not closed after one step is stepped again on the next
// look; the watchdog waits meanwhile.
struct DeviceSwitch {
  bool capture = false;
  bool playback = false;
  // Whose outcome the display shows once done.
  bool announceCapture = false;
  bool announcePlayback = false;
  [[nodiscard]] bool Pending() const { return capture || playback; }
};
DeviceSwitch g_switch;

void SwitchStep() {
  if (!g_switch.Pending()) {
    return;
  }
  // Devices given up on are opened again both.
  const bool both = g_switch.playback || g_watchdog.Lost() != LostDevice::kNone;
  bool closed = g_capture.CloseWithoutDraining();
  if (g_capture.HandlerMayRun()) {
    return;
  }
  if (both) {
    closed = g_playback.CloseWithoutDraining() && closed;
  }
  if (!closed) {
    return;
  }
  const DeviceSwitch done = g_switch;
  g_switch = DeviceSwitch{};
  const bool running = (!both || OpenPlaybackDevice()) && OpenCaptureDevice() && g_capture.Start();
  if (!running) {
    DropDevices();  // the watchdog takes them for lost and tries again
  }
  g_watchdog.Reopened(GetTickCount(), CurrentCounts(), running);
  if (done.announcePlayback) {
    ShowDeviceStatus(g_playbackChoice.Status());
  } else if (done.announceCapture) {
    ShowDeviceStatus(g_captureChoice.Status());
  }
}

void ChooseDevice(DeviceKind kind, const std::string& name) {
  const bool capture = kind == DeviceKind::kCapture;
  (capture ? g_captureChoice : g_playbackChoice).Choose(name);
  SaveDeviceName(g_store, capture ? kCaptureDeviceValue : kPlaybackDeviceValue, name);
  (capture ? g_switch.capture : g_switch.playback) = true;
  (capture ? g_switch.announceCapture : g_switch.announcePlayback) = true;
  SwitchStep();
}

DeviceList MenuDevices(DeviceKind kind) {
  const DeviceChoice& choice = kind == DeviceKind::kCapture ? g_captureChoice : g_playbackChoice;
  return choice.MenuList(ListedDevices(kind));
}

// A chosen device that was missing is taken up again once it is listed.
void TakeBackChosenDevices(uint32_t nowMs) {
  static uint32_t lastLook = 0;
  if (nowMs - lastLook < kDeviceRetryEveryMs) {
    return;
  }
  lastLook = nowMs;
  if (g_captureChoice.FellBack() && g_captureChoice.CameBack(ListedDevices(DeviceKind::kCapture))) {
    g_switch.capture = g_switch.announceCapture = true;
  }
  if (g_playbackChoice.FellBack() &&
      g_playbackChoice.CameBack(ListedDevices(DeviceKind::kPlayback))) {
    g_switch.playback = g_switch.announcePlayback = true;
  }
}

void LookAtDevices() {
  if (!g_switch.Pending() && g_watchdog.Lost() == LostDevice::kNone) {
    TakeBackChosenDevices(GetTickCount());
  }
  if (g_switch.Pending()) {
    SwitchStep();
    if (g_switch.Pending()) {
      return;
    }
  }
  switch (g_watchdog.Look(GetTickCount(), CurrentCounts())) {
    case DeviceWatchdog::Action::kReopen: {
      const bool running = ReopenDevices();
      g_watchdog.Reopened(GetTickCount(), CurrentCounts(), running);
      DeviceStatusText text;
      if (running && FallbackDeviceStatus(g_captureChoice, g_playbackChoice, text)) {
        ShowDeviceStatus(text);  // back, but not the chosen device
      }
      break;
    }
    case DeviceWatchdog::Action::kGiveUp:
    case DeviceWatchdog::Action::kNone:
      if (g_watchdog.Lost() != LostDevice::kNone) {
        DropDevices();  // begun, or gone on with
      }
      break;
  }
  const LostDevice lost = g_watchdog.Lost();
  if (lost != LostDevice::kNone) {
    g_status.ShowStatus(lost == LostDevice::kCapture ? kNoMicrophoneTitle : kNoSpeakerTitle, " ");
    KeepDisplayAlive();
  }
}

void CALLBACK OnLookTimer(HWND /*window*/, UINT /*message*/, UINT_PTR /*id*/, DWORD /*time*/) {
  LookAtDevices();
}

void PlacePanel(int32_t position) {
  RECT main{};
  HWND mainWindow = g_windows.MainWindow();
  HWND panelWindow = g_windows.Panel();
  if (mainWindow == nullptr || panelWindow == nullptr || !GetWindowRect(mainWindow, &main)) {
    return;
  }
  const int left = main.left + kPanelOffsetX + position;
  const int top = main.top + kPanelOffsetY;
  // Moving a window queues messages of its own; placing it again where it
  // already stands would wake the loop for ever.
  RECT panel{};
  if (GetWindowRect(panelWindow, &panel) && panel.left == left && panel.top == top) {
    return;
  }
  SetWindowPos(panelWindow, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void SlideStep() {
  if (auto position = g_slide.Step(GetTickCount())) {
    PlacePanel(*position);
  }
}

struct Accelerators {
  HACCEL table = nullptr;
  // Cursors from LoadCursor are shared by the system and never destroyed.
  ProgramCursors cursors;

  void Load(HINSTANCE instance) {
    cursors.own = LoadCursorA(instance, MAKEINTRESOURCEA(IDC_PROGRAM_CURSOR));
    cursors.hand = LoadCursorA(nullptr, IDC_HAND);
    cursors.sizeWe = LoadCursorA(nullptr, IDC_SIZEWE);
    cursors.sizeAll = LoadCursorA(nullptr, IDC_SIZEALL);
    std::array<ACCEL, 7 + kMenuPresets> keys{{
        {FVIRTKEY, VK_RETURN, kSaveTakeCommand},
        {FVIRTKEY, VK_ADD, kPeakUpCommand},
        {FVIRTKEY, VK_SUBTRACT, kPeakDownCommand},
        {FVIRTKEY, VK_MULTIPLY, kScaleUpCommand},
        {FVIRTKEY, VK_DIVIDE, kScaleDownCommand},
        {FVIRTKEY, VK_F1, kManualCommand},
        // Through the table, so that a slider or the echo switch with the
        // focus cannot keep Escape from ending the program.
        {FVIRTKEY, VK_ESCAPE, kCloseCommand},
    }};
    // Ctrl+1 ... Ctrl+9: the numbered presets.
    for (int32_t n = 1; n <= kMenuPresets; ++n) {
      keys[6 + size_t(n)] = {FVIRTKEY | FCONTROL, WORD('0' + n), WORD(kPresetCommand + n)};
    }
    table = CreateAcceleratorTableA(keys.data(), int(keys.size()));
  }
  void Release() {
    cursors = ProgramCursors{};
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
  if (g_windows.TakeMenuKey(msg)) {
    return true;
  }
  if (TranslateAcceleratorA(g_windows.MainWindow(), accelerators, &msg) == 0) {
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
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
    const bool alreadyExists = GetLastError() == ERROR_ALREADY_EXISTS;
    mutex_.Reset(mutex);
    if (IsFirstInstance(mutex != nullptr, alreadyExists)) {
      return true;
    }
    mutex_.Reset();
    return false;
  }
  void BringRunningInstanceToFront() override {
    if (HWND running = SkinnedWindows::FindRunningPanel()) {
      SetForegroundWindow(running);
    }
  }
  void ReleaseSingleInstance() override {
    if (mutex_) {
      ReleaseMutex(mutex_.Get());
      mutex_.Reset();
    }
  }
  unsigned WaveInputDevices() override { return waveInGetNumDevs(); }
  void ShowStartupError(const char* text) override { ShowErrorBox(text, kCaption); }
  void ReadProgramFacts() override {
    // The program's folder, with its trailing backslash (the manual lives
    // below it).
    const DWORD length = GetModuleFileNameA(nullptr, g_moduleDirectory.data(), MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      if (char* slash = std::strrchr(g_moduleDirectory.data(), '\\')) {
        slash[1] = '\0';
      }
    } else {
      g_moduleDirectory[0] = '\0';
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
  void LoadSettings() override {
    g_presets.LoadSettingsAtStartup();
    g_captureChoice.Choose(LoadDeviceName(g_store, kCaptureDeviceValue));
    g_playbackChoice.Choose(LoadDeviceName(g_store, kPlaybackDeviceValue));
  }
  void SaveSettings() override { g_presets.SaveSettingsAtShutdown(); }
  bool BuildWindows() override {
    return g_windows.Build(instance_, accelerators_.cursors,
                           [this] { PumpOneMessage(accelerators_.table); });
  }
  void ReleaseDrawing() override { g_windows.Release(); }
  bool OpenPlayback() override { return OpenPlaybackDevice(); }
  void ClosePlayback() override { g_playback.Close(); }
  bool OpenCapture() override { return OpenCaptureDevice(); }
  bool StartCapture() override { return g_capture.Start(); }
  // The engine takes no more blocks by now (StopTakes): nothing is lost by
  // not letting the queue fill.
  void CloseCapture() override { g_capture.CloseDiscarding(); }
  void RunMainLoop() override {
    DeviceStatusText text;
    if (FallbackDeviceStatus(g_captureChoice, g_playbackChoice, text)) {
      ShowDeviceStatus(text);
    }
    g_watchdog.Restart(GetTickCount(), CurrentCounts());
    const UINT_PTR lookTimer = SetTimer(nullptr, 0, kDeviceLookEveryMs, &OnLookTimer);
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
    // No device is opened again behind the shut-down's back.
    if (lookTimer != 0) {
      KillTimer(nullptr, lookTimer);
    }
  }
  void StopTakes() override { g_engine.StopTakes(); }
  void HideWindows() override {
    for (HWND window : {g_windows.Panel(), g_windows.MainWindow()}) {
      if (window != nullptr) {
        ShowWindow(window, SW_HIDE);
      }
    }
  }

 private:
  HINSTANCE instance_;
  KernelHandle mutex_;
  OSVERSIONINFOA version_{};
  WinKeyboardPort keyboard_;
  std::unique_ptr<LockLights> lights_;
  Accelerators accelerators_;
};

}  // namespace

int RunMimicore(HINSTANCE instance) {
  const ComApartment com;
  WindowsShell shell(instance);
  return RunProgram(shell);
}

}  // namespace mimicore
