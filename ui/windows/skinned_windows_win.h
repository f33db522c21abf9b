// The program's two skinned windows, the main window with the live display
// and the settings panel, with everything they draw with: built once at
// start-up, released once at shut-down, in a fixed order.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/latest_value.h"
#include "core/status_display.h"
#include "engine/display_frame.h"
#include "engine/platform.h"
#include "settings/engine_settings.h"
#include "ui/windows/context_menu.h"
#include "ui/windows/frame_hand_over_win.h"

namespace mimicore {

// The windows' classes and titles: other processes find them by both.
inline constexpr const char* kPanelClass = "MimClss";
inline constexpr const char* kPanelTitle = "Mimicore";
inline constexpr const char* kMainClass = "MimClss2";
inline constexpr const char* kMainTitle = "MimicoreIfc";

// Message the panel gets when the capture thread has new control positions.
inline constexpr UINT kControlsChangedMessage = WM_APP + 1;

inline constexpr int32_t kMainWidth = 342;
inline constexpr int32_t kMainHeight = 350;
inline constexpr int32_t kPanelWidth = 297;
inline constexpr int32_t kPanelHeight = 207;
inline constexpr int32_t kPanelSkinWidth = 237;
// Where the shut panel lies relative to the main window.
inline constexpr int32_t kPanelOffsetX = 66;
inline constexpr int32_t kPanelOffsetY = 72;
// The panel's children.
inline constexpr int kEchoSwitchId = 102;
inline constexpr int kSpeedSliderId = 103;
inline constexpr int kThresholdSliderId = 104;

// The keyboard commands, as the accelerator table sends them to the main
// window (WM_COMMAND with 1 in the high word).
inline constexpr WORD kSaveTakeCommand = 1;
inline constexpr WORD kPeakUpCommand = 2;
inline constexpr WORD kPeakDownCommand = 3;
inline constexpr WORD kScaleUpCommand = 4;
inline constexpr WORD kScaleDownCommand = 5;
inline constexpr WORD kManualCommand = 7;
// Escape, wherever the focus is: what the close button does.
inline constexpr WORD kCloseCommand = 8;
// Ctrl+1 ... Ctrl+9: kPresetCommand + the preset's number.
inline constexpr WORD kPresetCommand = 10;

struct ProgramCursors {
  HCURSOR own = nullptr;
  HCURSOR hand = nullptr;
  HCURSOR sizeWe = nullptr;
  HCURSOR sizeAll = nullptr;  // while the main window is dragged
};

// What the windows' commands do beyond the settings record; the program's
// shell supplies it.
class WindowActions {
 public:
  virtual ~WindowActions() = default;
  virtual void PressAutoMode() = 0;
  // Cancels a running calibration, putting back what it replaced.
  virtual void ResetAutoMode() = 0;
  // RESET: the calibration cancelled first, then the defaults.
  virtual void ResetToDefaults() = 0;
  // The panel tab: slide the panel out, or back in.
  virtual void TogglePanel() = 0;
  virtual void SaveLastTake(HWND owner) = 0;
  virtual void OpenManual(HWND owner) = 0;
  // The menu's presets; see Presets::SaveAsNewPreset and SwitchToPreset.
  virtual int32_t SaveAsNewPreset() = 0;
  virtual bool SwitchToPreset(int32_t n) = 0;
  // The devices the platform lists now, and the one in use, for the menu.
  virtual DeviceList CaptureDevices() = 0;
  virtual DeviceList PlaybackDevices() = 0;
  // Puts the device of that name (empty: the default device) in the place
  // of the one in use, stores the choice and says on the display how it
  // went.
  virtual void ChooseCaptureDevice(const std::string& name) = 0;
  virtual void ChoosePlaybackDevice(const std::string& name) = 0;
};

// What the windows work with; all outlive them.
struct WindowLinks {
  EngineSettings& settings;
  AppSettings& app;
  SettingsApplier& applier;  // brings the controls in line with the settings
  FrameHandOver& frames;
  StatusDisplay& status;
  WindowActions& actions;
};

class SkinnedWindows final : public ControlsView {
 public:
  struct Parts;

  // Constructed on the window thread: control positions arriving from any
  // other thread are handed over to it.
  explicit SkinnedWindows(WindowLinks links);
  ~SkinnedWindows() override;
  SkinnedWindows(const SkinnedWindows&) = delete;
  SkinnedWindows& operator=(const SkinnedWindows&) = delete;

  // Both windows, their surfaces, fonts, pens, regions, children and
  // controls, shown. |pump| handles one queued message (the main loop's
  // step). False when anything could not be made; what was made is then
  // released.
  bool Build(HINSTANCE instance, const ProgramCursors& cursors, const std::function<void()>& pump);
  // What the last Build could not make (null after a successful one).
  [[nodiscard]] const char* FailedStep() const { return failedStep_; }
  // Everything Build made, in reverse order; the windows go last.
  void Release();

  // What Build made (null before and after): the controls, for tests.
  [[nodiscard]] Parts* Inside() const { return parts_.get(); }
  [[nodiscard]] HWND MainWindow() const;
  [[nodiscard]] HWND Panel() const;
  // The panel of an instance already running, found by its class as well
  // as its title: any window or message box may be titled like it.
  [[nodiscard]] static HWND FindRunningPanel();

  // ControlsView: any thread.
  void ShowSettings(const ControlPositions& positions) override;

  // The main loop, before anything else sees a message: F10 and the menu
  // keys are the program's own, whichever window or control has the focus,
  // so that no default menu mode starts (plain F10 does nothing, Shift+F10
  // and the context-menu key open the menu). True when it took |msg|.
  bool TakeMenuKey(const MSG& msg);

 private:
  static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Both windows' messages, with what differs between them chosen here.
  static LRESULT Route(bool isMain, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(WPARAM wParam);
  void OnMainClicked(WPARAM id);
  // The close button and Escape: the program ends once the panel is shut.
  void Close();
  // The main window's drag; the result is the procedure's, when it has one.
  std::optional<LRESULT> OnDrag(UINT message, WPARAM wParam, LPARAM lParam);
  // |release| gives the capture back; false when it has gone elsewhere.
  void EndDrag(bool release);
  void OnPanelClicked(WPARAM id);
  void OnKnobChanged(WPARAM id);
  // |slider| is the WM_HSCROLL's lParam: the slider's window.
  void OnSlider(LPARAM slider);
  void OnEchoSwitch();
  // The right-click menu at |at| (screen), or by the keyboard when null.
  void OpenMenu(const POINT* at);
  void OnMenuChoice(const MenuChoice& choice, const MenuState& state);
  void SwitchPreset(int32_t n);
  // Whether a right-click at |at| (screen) fell on a control, which keeps
  // it for itself.
  bool OnControl(bool isMain, HWND window, POINT at) const;
  // A letter typed in the menu that no access key takes: the first item
  // whose text begins with it (a device's name has no access key).
  static std::optional<LRESULT> MenuCharChoice(WORD letter, HMENU menu);
  bool BuildSteps(HINSTANCE instance, const ProgramCursors& cursors,
                  const std::function<void()>& pump);
  bool Fail(const char* what);
  void ShowNow(const ControlPositions& positions);
  void ShowHandedOver();
  void PaintMain();
  void PaintPanel();
  void DrawThresholdMarker();
  void DrawLatestFrame();

  static SkinnedWindows* current_;  // the windows' procedures find it here

  WindowLinks links_;
  ProgramCursors cursors_;
  // The main window's drag, window thread only: whether one runs, the
  // pointer's offset from the window's corner, and the last pointer
  // position a step accepted.
  bool dragging_ = false;
  POINT grab_{};
  POINT lastAccepted_{};
  const DWORD windowThread_;
  LatestValue<ControlPositions> positions_;
  std::atomic<HWND> panelForPosts_{nullptr};
  std::unique_ptr<Parts> parts_;
  const char* failedStep_ = nullptr;
  // Window thread only: the frame on the screen.
  DisplayFrame shownFrame_;
  bool shownFrameValid_ = false;
};

}  // namespace mimicore
