#include "app/startup.h"

namespace mimicore {

namespace {

// The windows go first and the engine stops taking blocks, so that nothing
// stands frozen on the screen or starts again while the capture device
// drains its queue. Then the settings, the capture device (it may still
// write to the playback device and the ring until it is closed), playback,
// the ring and the drawing resources, the single-instance mark, and the
// lights last.
void ShutDown(ShellSteps& s) {
  s.HideWindows();
  s.StopTakes();
  s.SaveSettings();
  s.CloseCapture();
  s.ClosePlayback();
  s.FreeTakeRing();
  s.ReleaseDrawing();
  s.ReleaseCursorsAndKeys();
  s.ReleaseSingleInstance();
  s.RestoreLights();
}

int FailAfterWindows(ShellSteps& s, const char* text) {
  s.ShowStartupError(text);
  ShutDown(s);
  return kExitFailed;
}

}  // namespace

int RunProgram(ShellSteps& s) {
  if (!s.TakeSingleInstance()) {
    s.BringRunningInstanceToFront();
    return kExitFailed;
  }
  if (s.WaveInputDevices() == 0) {
    s.ShowStartupError(kNoWaveDevicesText);
    s.ReleaseSingleInstance();
    return kExitFailed;
  }
  s.ReadProgramFacts();
  s.SwitchLightsOff();
  if (!s.AllocateTakeRing()) {
    s.ShowStartupError(kNoMemoryText);
    s.RestoreLights();
    s.ReleaseSingleInstance();
    return kExitFailed;
  }
  s.LoadCursorsAndKeys();
  s.LoadSettings();
  if (!s.BuildWindows()) {
    // Nothing half-made stays behind the message: no invisible process
    // holding the microphone, the single-instance mark and dark lights.
    s.ReleaseDrawing();
    s.ShowStartupError(kNoWindowsText);
    s.ReleaseCursorsAndKeys();
    s.FreeTakeRing();
    s.ReleaseSingleInstance();
    s.RestoreLights();
    return kExitFailed;
  }
  if (!s.OpenPlayback()) {
    return FailAfterWindows(s, kNoPlaybackText);
  }
  if (!s.OpenCapture()) {
    return FailAfterWindows(s, kNoCaptureText);
  }
  if (!s.StartCapture()) {
    return FailAfterWindows(s, kCaptureNotStartedText);
  }
  s.RunMainLoop();
  ShutDown(s);
  return kExitOk;
}

}  // namespace mimicore
