// Hands the engine's display frames from the capture thread to the window
// thread. The capture thread never waits and never allocates: it leaves the
// newest frame in a triple buffer (a newer one replaces a frame not yet
// drawn) and posts one wake-up message, only when none is pending.
#pragma once

#include <windows.h>

#include <atomic>

#include "core/latest_value.h"
#include "engine/display_frame.h"
#include "engine/platform.h"

namespace mimicore {

// Message the main window gets when a frame waits to be drawn.
inline constexpr UINT kFrameReadyMessage = WM_APP + 2;

class FrameHandOver final : public DisplaySink {
 public:
  // Window thread: where the wake-ups go; null stops them.
  void Attach(HWND window) { window_.store(window); }

  // Capture thread.
  void OnFrame(const DisplayFrame& frame) override {
    frames_.Publish(frame);
    const HWND window = window_.load();
    if (window != nullptr && !wakePending_.exchange(true)) {
      if (PostMessageA(window, kFrameReadyMessage, 0, 0) == 0) {
        wakePending_.store(false);  // a full queue: try again with the next frame
      }
    }
  }

  // Window thread, on kFrameReadyMessage: true and |out| filled when a frame
  // newer than the last one taken is there. The pending mark is cleared
  // first, so a frame published meanwhile posts a wake-up of its own.
  bool Take(DisplayFrame& out) {
    wakePending_.store(false);
    return frames_.Take(out);
  }

 private:
  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> wakePending_{false};
  LatestValue<DisplayFrame> frames_;
};

}  // namespace mimicore
