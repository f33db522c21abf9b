// The program's two skinned windows, the main window with the live display
// and the settings panel, with everything they draw with: built once at
// start-up, released once at shut-down, in a fixed order.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

#include "core/latest_value.h"
#include "engine/display_frame.h"
#include "engine/platform.h"
#include "settings/engine_settings.h"
#include "ui/windows/frame_hand_over_win.h"

namespace mimicore {

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

struct ProgramCursors {
  HCURSOR own = nullptr;
  HCURSOR hand = nullptr;
  HCURSOR sizeWe = nullptr;
};

// What the windows work with; all outlive them.
struct WindowLinks {
  EngineSettings& settings;
  AppSettings& app;
  SettingsApplier& applier;  // brings the controls in line with the settings
  FrameHandOver& frames;
};

class SkinnedWindows final : public ControlsView {
 public:
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

  [[nodiscard]] HWND MainWindow() const;
  [[nodiscard]] HWND Panel() const;

  // ControlsView: any thread.
  void ShowSettings(const ControlPositions& positions) override;

  struct Parts;

 private:
  static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Both windows' messages, with what differs between them chosen here.
  static LRESULT Route(bool isMain, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool BuildSteps(HINSTANCE instance, const ProgramCursors& cursors,
                  const std::function<void()>& pump);
  bool Fail(const char* what);
  void ShowNow(const ControlPositions& positions);
  void ShowHandedOver();
  void PaintMain();
  void PaintPanel();
  void DrawThresholdMarker();
  void DrawLatestFrame();

  WindowLinks links_;
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
