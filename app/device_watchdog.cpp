#include "app/device_watchdog.h"

namespace mimicore {

void DeviceWatchdog::Restart(uint32_t nowMs, const DeviceCounts& counts) {
  lost_ = LostDevice::kNone;
  last_ = counts;
  captureSince_ = nowMs;
  playbackSince_ = nowMs;
}

DeviceWatchdog::Action DeviceWatchdog::Look(uint32_t nowMs, const DeviceCounts& counts) {
  if (lost_ != LostDevice::kNone) {
    if (nowMs - lastAttempt_ < kDeviceRetryEveryMs) {
      return Action::kNone;
    }
    lastAttempt_ = nowMs;
    return Action::kReopen;
  }
  if (counts.captureReturned != last_.captureReturned) {
    captureSince_ = nowMs;
  }
  // An idle output owes nothing: the wait starts when something is queued
  // to it, or when it last gave a buffer back.
  if (counts.playbackReturned != last_.playbackReturned || counts.playbackQueued <= 0 ||
      last_.playbackQueued <= 0) {
    playbackSince_ = nowMs;
  }
  last_ = counts;
  if (nowMs - captureSince_ >= kDeviceLostAfterMs) {
    lost_ = LostDevice::kCapture;
  } else if (nowMs - playbackSince_ >= kDeviceLostAfterMs) {
    lost_ = LostDevice::kPlayback;
  } else {
    return Action::kNone;
  }
  lastAttempt_ = nowMs;
  return Action::kGiveUp;
}

void DeviceWatchdog::Reopened(uint32_t nowMs, const DeviceCounts& counts, bool running) {
  if (running) {
    Restart(nowMs, counts);
  }
}

}  // namespace mimicore
