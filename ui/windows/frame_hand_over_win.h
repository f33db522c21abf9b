// Hands the engine's display frames from the capture thread to the window
// thread. The capture thread never waits and never allocates: it leaves the
// newest frame in a triple buffer (a newer one replaces a frame not yet
// drawn) and posts one wake-up message, only when none is pending. A frame
// that would draw exactly what the last one drew (a quiet room) is not
// handed over at all, so listening to silence wakes nobody.
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
  // Window thread: where the wake-ups go; null stops them. The next frame
  // is handed over whatever it shows.
  void Attach(HWND window) {
    window_.store(window);
    resend_.store(true);
  }

  // Capture thread.
  void OnFrame(const DisplayFrame& frame) override {
    if (!resend_.exchange(false) && DrawsTheSame(frame, last_)) {
      return;
    }
    last_ = frame;
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
  std::atomic<bool> resend_{true};
  DisplayFrame last_;  // capture thread only
  LatestValue<DisplayFrame> frames_;
};

}  // namespace mimicore
