// The program's life in order: start-up with its failure paths, the main
// loop, shut-down. The steps themselves are the platform's; the order, the
// messages, the exit codes and what each failure undoes are decided here.
#pragma once

namespace mimicore {

inline constexpr const char* kNoWaveDevicesText = "No available wave devices found at this moment.";
inline constexpr const char* kNoMemoryText = "Not enough free memory at this moment.";
inline constexpr const char* kNoPlaybackText =
    "Fatal error when trying to initialize the sound device. Please check if it is working and "
    "try again.";
inline constexpr const char* kNoCaptureText =
    "Fatal error when trying to initialize the sound input device. Please check if it is working "
    "and try again.";
inline constexpr const char* kNoWindowsText =
    "Unable to create the program's windows. Please close other programs and try again.";
inline constexpr const char* kCaptureNotStartedText =
    "Unable to start the sound input device. Please check if it is working and try again.";

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = -1;

class ShellSteps {
 public:
  virtual ~ShellSteps() = default;

  // False when another instance holds it.
  virtual bool TakeSingleInstance() = 0;
  virtual void BringRunningInstanceToFront() = 0;
  virtual void ReleaseSingleInstance() = 0;
  virtual unsigned WaveInputDevices() = 0;
  virtual void ShowStartupError(const char* text) = 0;
  // The program's folder and the version record.
  virtual void ReadProgramFacts() = 0;
  virtual void SwitchLightsOff() = 0;
  virtual void RestoreLights() = 0;
  virtual bool AllocateTakeRing() = 0;
  virtual void FreeTakeRing() = 0;
  virtual void LoadCursorsAndKeys() = 0;
  virtual void ReleaseCursorsAndKeys() = 0;
  virtual void LoadSettings() = 0;
  virtual void SaveSettings() = 0;
  // False when a window, bitmap, region or drawing object could not be
  // made; whatever was made is then released by ReleaseDrawing.
  virtual bool BuildWindows() = 0;
  virtual void ReleaseDrawing() = 0;
  virtual bool OpenPlayback() = 0;
  virtual void ClosePlayback() = 0;
  virtual bool OpenCapture() = 0;
  virtual bool StartCapture() = 0;
  virtual void CloseCapture() = 0;
  // Until the user quits and the panel has slid shut.
  virtual void RunMainLoop() = 0;
  // The engine stops taking blocks: its recording and playing flags stay
  // clear from here on.
  virtual void StopTakes() = 0;
  // Both windows off the screen, before the devices take their time to
  // close.
  virtual void HideWindows() = 0;
};

// Returns the exit code: 0 after a normal run, -1 when start-up failed or
// another instance runs.
int RunProgram(ShellSteps& steps);

// Judges the attempt to create the single-instance mark. Only a mark this
// process created means no other instance runs: one that existed already
// belongs to a running instance, and one that could not be had at all
// (access denied, as for an instance at another integrity level) most
// likely does too, so starting a second copy is the worse guess.
[[nodiscard]] constexpr bool IsFirstInstance(bool gotHandle, bool alreadyExisted) {
  return gotHandle && !alreadyExisted;
}

}  // namespace mimicore
