#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <array>
#include <climits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/device_watchdog.h"
#include "app/lock_lights.h"
#include "app/manual_path.h"
#include "app/panel_slide.h"
#include "app/startup.h"
#include "settings/engine_settings.h"
#include "ui/windows/level_keys.h"
#include "ui/windows/window_placement.h"

namespace mimicore {
namespace {

// Logs every step; the one named |fail| fails.
struct Steps final : ShellSteps {
  explicit Steps(std::string f) : fail(std::move(f)) {}
  bool S(const char* name, const char* text = "") {
    // Appended piece by piece: GCC 12 at -O3 takes "literal + string" for
    // an overlapping copy (-Werror=restrict), a known false alarm.
    if (!log.empty()) {
      log += ' ';
    }
    log += name;
    error += text;
    return fail != name;
  }
  bool TakeSingleInstance() override { return S("instance"); }
  void BringRunningInstanceToFront() override { S("front"); }
  void ReleaseSingleInstance() override { S("-instance"); }
  unsigned WaveInputDevices() override { return S("devices") ? 1U : 0U; }
  void ShowStartupError(const char* text) override { S("error", text); }
  void ReadProgramFacts() override { S("facts"); }
  void SwitchLightsOff() override { S("lights"); }
  void RestoreLights() override { S("-lights"); }
  bool AllocateTakeRing() override { return S("ring"); }
  void FreeTakeRing() override { S("-ring"); }
  void LoadCursorsAndKeys() override { S("cursors"); }
  void ReleaseCursorsAndKeys() override { S("-cursors"); }
  void LoadSettings() override { S("load"); }
  void SaveSettings() override { S("save"); }
  bool BuildWindows() override { return S("windows"); }
  void ReleaseDrawing() override { S("-drawing"); }
  bool OpenPlayback() override { return S("playback"); }
  void ClosePlayback() override { S("-playback"); }
  bool OpenCapture() override { return S("capture"); }
  bool StartCapture() override { return S("start"); }
  void CloseCapture() override { S("-capture"); }
  void RunMainLoop() override { S("loop"); }
  void StopTakes() override { S("stop"); }
  void HideWindows() override { S("hide"); }
  std::string fail, log, error;
};

// A failing step shows its message (a second instance none) and undoes what was done.
TEST(Startup, RunsInOrderAndEveryFailureUndoesWhatWasDone) {
  const std::string up = "instance devices facts lights ring cursors load windows";
  const std::string down =
      " hide stop save -capture -playback -ring -drawing -cursors -instance -lights";
  const struct {
    const char* fail;
    const char* error;
    std::string log;
  } cases[] = {
      {"", "", up + " playback capture start loop" + down},
      {"instance", "", "instance front"},
      {"devices", kNoWaveDevicesText, "instance devices error -instance"},
      {"ring", kNoMemoryText, "instance devices facts lights ring error -lights -instance"},
      {"windows", kNoWindowsText, up + " -drawing error -cursors -ring -instance -lights"},
      {"playback", kNoPlaybackText, up + " playback error" + down},
      {"capture", kNoCaptureText, up + " playback capture error" + down},
      {"start", kCaptureNotStartedText, up + " playback capture start error" + down},
  };
  for (const auto& c : cases) {
    Steps s(c.fail);
    EXPECT_EQ(RunProgram(s), *c.fail != 0 ? -1 : 0) << c.fail;
    EXPECT_EQ(s.log, c.log) << c.fail;
    EXPECT_EQ(s.error, c.error) << c.fail;
  }
  // Only a freshly created mark means first; a null handle is one running elsewhere.
  EXPECT_TRUE(IsFirstInstance(true, false) && !IsFirstInstance(true, true) &&
              !IsFirstInstance(false, false) && !IsFirstInstance(false, true));
}

// A stored place is kept only where the user can see and grab a 40-pixel piece of the round window.
TEST(WindowPlacement, StoredPositionKeptOnlyWhereAGripOfTheShapeIsOnOneScreen) {
  std::ifstream in(MIMICORE_MAIN_SHAPE, std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  const std::vector<ScreenRect> shape = ParseRegionRects(bytes);
  ASSERT_FALSE(shape.empty());
  std::vector<uint8_t> cut = bytes;
  cut.pop_back();
  EXPECT_TRUE(ParseRegionRects(cut).empty()) << "a short resource is refused";
  const ScreenRect close{245, 40, 261, 56};
  const std::vector<WindowOrigin> grips = GripSquares(shape, 342, 350, close);
  const WindowOrigin centred{341, 209};
  const std::vector<ScreenRect> one{{0, 0, 1024, 768}};
  const std::vector<ScreenRect> two{{0, 0, 1024, 768}, {-1280, 100, 0, 1124}};
  const struct {
    WindowOrigin stored;
    std::vector<ScreenRect> monitors;
    bool kept;
  } cases[] = {{{-300, -300}, one, false},  // the box's corner on screen, none of the window
               {{-299, 100}, one, true},    // a square of the right edge's bulge
               {{-300, 100}, one, false},       {{983, 100}, one, true},
               {{984, 100}, one, false},        {{100, -309}, one, true},
               {{100, -310}, one, false},       {{-1000, -300}, two, false},
               {{-1000, 500}, two, true},       {{INT_MIN, INT_MIN}, two, false},
               {{INT_MAX - 41, 0}, two, false},  // a far edge must not wrap onto a screen
               {{100, 100}, {}, false},         {{kNoWindowPosition, 100}, one, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseWindowOrigin(c.stored, grips, c.monitors, centred), c.kept ? c.stored : centred)
        << c.stored.x << "," << c.stored.y;
  }
  for (const WindowOrigin& g : grips) {
    ASSERT_TRUE(g.x + 40 <= close.left || close.right <= g.x || g.y + 40 <= close.top ||
                close.bottom <= g.y);
  }
}

// Keypad keys: a level outside a key's range moves toward it, never the other way.
TEST(LevelKeys, StepWithinTheirRangesAndOnlyTheirOwnEndBounds) {
  const struct {
    int32_t from;
    bool up;
    int32_t peak, scale;
  } cases[] = {{32768, true, 32768, 32768},   {40000, true, 32768, 32768},
               {40000, false, 39968, 39488},  {49000, false, 48968, 48488},
               {600, false, 568, 512},        {32500, true, 32532, 32768},
               {33, false, 32, 512},          {10, false, 32, 512},
               {10, true, 42, 522},           {INT_MIN, false, 32, 512},
               {INT_MAX, true, 32768, 32768}, {INT_MIN, true, INT_MIN + 32, INT_MIN + 512}};
  for (const auto& c : cases) {
    EXPECT_EQ(StepPeakLevel(c.from, c.up), c.peak) << c.from << " " << c.up;
    EXPECT_EQ(StepOscilloscopeScale(c.from, c.up), c.scale) << c.from << " " << c.up;
  }
}

// Counts of captured, played and queued buffers; the clock wraps.
TEST(DeviceWatchdog, GivesUpAfterTwoQuietSeconds) {
  using A = DeviceWatchdog::Action;
  const struct {
    uint32_t at;  // the last look with progress where it matters
    DeviceCounts counts;
    LostDevice lost;
  } cases[] = {{1000, {50, 0, 0}, LostDevice::kCapture},
               {5200, {260, 7, 3}, LostDevice::kPlayback},  // queued, never played
               {5200, {260, 7, 3}, LostDevice::kNone},      // queued and playing
               {3000, {150, 0, 0}, LostDevice::kNone}};     // output idle
  for (const auto& c : cases) {
    DeviceWatchdog dog;
    dog.Restart(c.at - 2000, {0xFFFFFFF0U, 0, 0});
    DeviceCounts later = c.counts;
    later.captureReturned += c.lost == LostDevice::kCapture ? 0 : 95;
    later.playbackReturned += c.lost == LostDevice::kNone ? 1 : 0;
    EXPECT_EQ(dog.Look(c.at, c.counts), A::kNone);
    EXPECT_EQ(dog.Look(c.at + 1999, later), A::kNone);
    EXPECT_EQ(dog.Look(c.at + 2000, later), c.lost == LostDevice::kNone ? A::kNone : A::kGiveUp);
    EXPECT_EQ(dog.Lost(), c.lost) << c.at;
    if (c.lost != LostDevice::kNone) {  // then tries again every 2 s
      EXPECT_EQ(dog.Look(c.at + 3999, later), A::kNone);
      EXPECT_EQ(dog.Look(c.at + 4000, later), A::kReopen);
    }
  }
}

// The first tenth at once, then a tenth every 50 ms, a late step catching up; across the
// tick counter's wrap. At rest the panel is placed on every call and nothing is waited for.
TEST(PanelSlide, MovesATenthEvery50MsAndCatchesUpWhenLate) {
  constexpr auto kNone = std::nullopt;
  const struct {
    uint32_t at;
    bool toggle;
    std::optional<int32_t> placed;
    std::optional<uint32_t> wait;
  } steps[] = {{0, false, 0, kNone},     {0, true, 24, 50},      {49, false, kNone, 1},
               {50, false, 48, 50},      {150, false, 96, 50},   {200, false, 120, 50},
               {400, false, 217, 50},    {450, false, 241, 50},  {500, false, 243, kNone},
               {600, false, 243, kNone}, {600, true, 218, 50},   {600, false, kNone, 50},
               {700, false, 169, 50},    {960, false, 42, 50},   {1010, false, 17, 50},
               {1060, false, 0, kNone},  {1061, false, 0, kNone}};
  PanelSlide slide;
  const uint32_t t0 = 0xFFFFFF00U;
  for (const auto& s : steps) {
    if (s.toggle) {
      slide.Toggle();
      EXPECT_EQ(slide.WaitBeforeNextStep(t0 + s.at), 0U) << s.at;
    }
    EXPECT_EQ(slide.Step(t0 + s.at), s.placed) << s.at;
    EXPECT_EQ(slide.WaitBeforeNextStep(t0 + s.at), s.wait) << s.at;
  }
}

// The system's keyboard: a pressed key toggles, a written table becomes the state.
struct Keyboard final : KeyboardPort {
  void ReadKeys(KeyTable& table) override { table = keys; }
  void WriteKeys(const KeyTable& table) override { keys = table; }
  void SendKeyEvent(uint8_t vk, uint8_t /*scan*/, uint32_t flags) override {
    events.push_back(vk);
    keys[vk] = uint8_t(keys[vk] ^ ((flags & kKeyEventKeyUp) == 0 ? 1U : 0U));
  }
  KeyTable keys{};
  std::vector<uint8_t> events;
};

TEST(LockLights, LitKeysGoDarkAndComeBackOtherPlatformsTouchNothing) {
  KeyTable start{};
  start[kVkNumLock] = 1;
  start[kVkScrollLock] = 0x81;  // held down and lit
  start[kVkCapsLock] = 0x80;    // held down, dark
  for (const int32_t method : {kLightMethodSetState, kLightMethodKeyEvent, 0, -1}) {
    const bool works = method == kLightMethodSetState || method == kLightMethodKeyEvent;
    Keyboard k;
    k.keys = start;
    LockLights lights(k, method);
    lights.SwitchLightsOff();
    EXPECT_EQ(k.keys[kVkNumLock] | k.keys[kVkScrollLock], works ? 0x80 : 0x81) << method;
    EXPECT_EQ(k.keys[kVkCapsLock], 0x80) << method;
    k.keys[kVkCapsLock] ^= 1;  // the user's toggles meanwhile are undone too
    k.keys[kVkNumLock] ^= 1;
    lights.RestoreLights();
    EXPECT_EQ(k.keys == start, works) << method;
    EXPECT_EQ(k.events.size(), method == kLightMethodKeyEvent ? 8U : 0U) << method;
  }
}

TEST(ManualPath, FitsExactlyOrIsRefusedWhole) {
  const std::string manual = kManualRelativePath;
  for (const size_t length : {size_t{0}, 259 - manual.size(), 260 - manual.size(), size_t{300}}) {
    const std::string dir(length, 'd');
    std::array<char, 261> out{};
    out.fill('#');
    const bool fits = length + manual.size() < 260;
    EXPECT_EQ(BuildManualPath(dir.c_str(), out.data(), 260), fits) << length;
    EXPECT_EQ(out.data(), fits ? dir + manual : std::string()) << length;
    EXPECT_EQ(out.back(), '#') << "never written past the buffer";
  }
  std::array<char, 8> out{'#'};
  EXPECT_FALSE(BuildManualPath(nullptr, out.data(), 8) || out[0] != '\0');
}

}  // namespace
}  // namespace mimicore
