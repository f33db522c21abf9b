// The engine's doors to the platform, as the Windows program opens them.
#pragma once

#include <windows.h>

#include "app/latest_value.h"
#include "audio/wave_out_device_win.h"
#include "engine/platform.h"

namespace mimicore {

class TickClock final : public Clock {
 public:
  uint32_t NowMs() override { return GetTickCount(); }
};

class WaveOutPlayback final : public PlaybackSink {
 public:
  explicit WaveOutPlayback(WaveOutDevice& device) : device_(device) {}
  bool Write(const void* bytes, uint32_t count) override { return device_.Write(bytes, count); }

 private:
  WaveOutDevice& device_;
};

// Message the panel window gets when the capture thread has new control
// positions for it.
inline constexpr UINT kControlsChangedMessage = WM_APP + 1;

// The settings panel's controls belong to the window thread. Called there,
// the positions are shown at once; called from the capture thread (the
// calibration applies settings there), they are handed over and the panel
// is told with a posted message: the capture thread never waits for the
// window thread.
class PanelControlsView final : public ControlsView {
 public:
  void AttachPanel(HWND panel, DWORD windowThreadId);
  void ShowSettings(const ControlPositions& positions) override;
  // On the window thread, for kControlsChangedMessage.
  void ShowHandedOver();

 private:
  void ShowNow(const ControlPositions& positions);

  HWND panel_ = nullptr;
  DWORD windowThread_ = 0;
  LatestValue<ControlPositions> handOver_;
};

}  // namespace mimicore
