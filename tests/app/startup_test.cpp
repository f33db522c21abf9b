#include "app/startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mimicore {
namespace {

// Records every step; |failAt| names the one step that fails.
class RecordingSteps final : public ShellSteps {
 public:
  explicit RecordingSteps(std::string failAt = "") : failAt_(std::move(failAt)) {}

  bool TakeSingleInstance() override { return Step("instance"); }
  void BringRunningInstanceToFront() override { Step("front"); }
  void ReleaseSingleInstance() override { Step("release instance"); }
  unsigned WaveInputDevices() override { return Step("devices") ? 1U : 0U; }
  void ShowStartupError(const char* text) override {
    Step("error");
    errors.emplace_back(text);
  }
  void ReadProgramFacts() override { Step("facts"); }
  void SwitchLightsOff() override { Step("lights off"); }
  void RestoreLights() override { Step("lights back"); }
  bool AllocateTakeRing() override { return Step("ring"); }
  void FreeTakeRing() override { Step("free ring"); }
  void LoadCursorsAndKeys() override { Step("cursors"); }
  void ReleaseCursorsAndKeys() override { Step("release cursors"); }
  void LoadSettings() override { Step("load settings"); }
  void SaveSettings() override { Step("save settings"); }
  bool BuildWindows() override { return Step("windows"); }
  void ReleaseDrawing() override { Step("release drawing"); }
  bool OpenPlayback() override { return Step("open playback"); }
  void ClosePlayback() override { Step("close playback"); }
  bool OpenCapture() override { return Step("open capture"); }
  bool StartCapture() override { return Step("start capture"); }
  void CloseCapture() override { Step("close capture"); }
  void RunMainLoop() override { Step("loop"); }
  void StopTakes() override { Step("stop takes"); }
  void HideWindows() override { Step("hide windows"); }

  std::vector<std::string> steps;
  std::vector<std::string> errors;

 private:
  bool Step(const char* name) {
    steps.emplace_back(name);
    return failAt_ != name;
  }
  std::string failAt_;
};

using Steps = std::vector<std::string>;

const Steps kShutDown = {"hide windows",     "stop takes", "save settings",   "close capture",
                         "close playback",   "free ring",  "release drawing", "release cursors",
                         "release instance", "lights back"};

Steps Concat(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Steps kUpToWindows = {"instance", "devices", "facts",         "lights off",
                            "ring",     "cursors", "load settings", "windows"};

TEST(Startup, ANormalRunInOrder) {
  RecordingSteps s;
  EXPECT_EQ(RunProgram(s), 0);
  EXPECT_EQ(s.steps,
            Concat(Concat(kUpToWindows, {"open playback", "open capture", "start capture", "loop"}),
                   kShutDown));
  EXPECT_TRUE(s.errors.empty());
}

// Each failing step shows its message (a second instance none) and undoes
// exactly what was done before it.
TEST(Startup, EveryFailureShowsItsMessageAndUndoesWhatWasDone) {
  const Steps devicesUp = Concat(kUpToWindows, {"open playback", "open capture"});
  const struct {
    const char* failing;
    const char* text;
    Steps steps;
  } cases[] = {
      {"instance", nullptr, {"instance", "front"}},
      {"devices", kNoWaveDevicesText, {"instance", "devices", "error", "release instance"}},
      {"ring",
       kNoMemoryText,
       {"instance", "devices", "facts", "lights off", "ring", "error", "lights back",
        "release instance"}},
      {"windows", kNoWindowsText,
       Concat(kUpToWindows, {"release drawing", "error", "release cursors", "free ring",
                             "release instance", "lights back"})},
      {"open playback", kNoPlaybackText,
       Concat(Concat(kUpToWindows, {"open playback", "error"}), kShutDown)},
      {"open capture", kNoCaptureText, Concat(Concat(devicesUp, {"error"}), kShutDown)},
      {"start capture", kCaptureNotStartedText,
       Concat(Concat(devicesUp, {"start capture", "error"}), kShutDown)},
  };
  for (const auto& c : cases) {
    RecordingSteps s(c.failing);
    EXPECT_EQ(RunProgram(s), -1) << c.failing;
    EXPECT_EQ(s.steps, c.steps) << c.failing;
    EXPECT_EQ(s.errors, c.text ? std::vector<std::string>{c.text} : std::vector<std::string>{})
        << c.failing;
  }
}

}  // namespace
}  // namespace mimicore
