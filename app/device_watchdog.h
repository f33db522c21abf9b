// Tells the window thread, from a periodic look at how many buffers the two
// wave devices have given back, when the devices are to be taken for lost
// (a headset pulled out, a sound service gone) and when to try them again.
// The capture device returns a buffer about every 20 ms for as long as it
// works; the playback device only while something is queued to it. A device
// that stops returning its buffers reports no error: silence on the counts
// is all there is to go by.
#pragma once

#include <cstdint>

namespace mimicore {

inline constexpr uint32_t kDeviceLostAfterMs = 2000;
inline constexpr uint32_t kDeviceRetryEveryMs = 2000;
// How often the window thread looks; the status stays up between looks.
inline constexpr uint32_t kDeviceLookEveryMs = 500;
// The status titles while the devices are given up.
inline constexpr const char* kNoMicrophoneTitle = "NO MICROPHONE";
inline constexpr const char* kNoSpeakerTitle = "NO SPEAKER";

// What the devices have done so far, read on each look. The counts may
// wrap; only their changes matter.
struct DeviceCounts {
  uint32_t captureReturned = 0;
  uint32_t playbackReturned = 0;
  int32_t playbackQueued = 0;
};

enum class LostDevice : uint8_t { kNone, kCapture, kPlayback };

class DeviceWatchdog {
 public:
  enum class Action : uint8_t {
    kNone,
    // Close both devices without waiting for them and tell the user.
    kGiveUp,
    // Try to open and start both devices again; report with Reopened.
    kReopen,
  };

  // The devices were (re)started at |nowMs| with these counts.
  void Restart(uint32_t nowMs, const DeviceCounts& counts);
  // One look, at any interval; the clock wraps like the system tick count.
  Action Look(uint32_t nowMs, const DeviceCounts& counts);
  // After kReopen: whether both devices run again.
  void Reopened(uint32_t nowMs, const DeviceCounts& counts, bool running);

  // Which device stopped answering, while the devices are given up.
  [[nodiscard]] LostDevice Lost() const { return lost_; }

 private:
  LostDevice lost_ = LostDevice::kNone;
  DeviceCounts last_;
  uint32_t captureSince_ = 0;   // last capture progress
  uint32_t playbackSince_ = 0;  // last playback progress, or queue start
  uint32_t lastAttempt_ = 0;
};

}  // namespace mimicore
