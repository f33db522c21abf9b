#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/device_choice.h"
#include "app/device_watchdog.h"
#include "app/lock_lights.h"
#include "app/manual_path.h"
#include "app/panel_slide.h"
#include "app/startup.h"
#include "settings/engine_settings.h"
#include "ui/windows/context_menu.h"
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

// The right-click menu: order, access keys unique in every menu, checks and greying from the state,
// every item's command decoding to what the item offers.
TEST(ContextMenu, OffersWhatTheStateAllowsWithUniqueAccessKeysAndDecodableCommands) {
  const std::string longName(40, 'x');
  MenuState state{3, 2, true, false, true, {{"Mic & Co", longName}, "Mic & Co"}, {{"A"}, "gone"}};
  const std::vector<MenuEntry> menu = BuildContextMenu(state);
  std::vector<std::string> top;
  for (const MenuEntry& e : menu) {
    top.push_back(e.text + (e.checked ? "*" : ""));
  }
  EXPECT_EQ(top,
            (std::vector<std::string>{"&Presets", "&Voices", "", "&Reverse*", "Echo &guard",
                                      "Pre-ro&ll*", "", "&Microphone", "Spea&ker", "",
                                      "&Save last take...\tEnter", "Man&ual\tF1", "E&xit\tEsc"}));
  std::set<uint32_t> ids;
  const std::function<void(const std::vector<MenuEntry>&)> walk = [&](const auto& items) {
    std::set<char> keys;
    for (const MenuEntry& e : items) {
      for (size_t i = 0; i + 1 < e.text.size(); ++i) {
        if (e.text[i] == '&' && e.text[i + 1] != '&') {
          EXPECT_TRUE(keys.insert(char(std::tolower(e.text[i + 1]))).second) << e.text;
        } else if (e.text[i] == '&') {
          ++i;
        }
      }
      EXPECT_EQ(e.id == 0, e.text.empty() || !e.items.empty()) << e.text;  // separator, submenu
      if (e.id != 0) {
        EXPECT_TRUE(ids.insert(e.id).second) << e.text;
        EXPECT_EQ(MenuCommandId(DecodeMenuCommand(e.id)), e.id) << e.text;
      }
      walk(e.items);
    }
  };
  walk(menu);
  using enum MenuChoice::Kind;  // the switches and the commands decode to what they say
  for (const auto& [i, kind] : {std::pair{3U, kReverse},
                                {4U, kEchoGuard},
                                {5U, kPreRoll},
                                {10U, kSaveTake},
                                {11U, kManual},
                                {12U, kExit}}) {
    const MenuChoice c = DecodeMenuCommand(menu[i].id);
    EXPECT_EQ(std::pair(c.kind, c.index), std::pair(kind, 0)) << menu[i].text;
  }
  for (const uint32_t unknown :
       {0U, 0x100U, 0x10AU, 0x10FU, 0x111U, 0x127U, 0x133U, 0x1FFU, 0x403U, 0xFFFFFFFFU}) {
    EXPECT_EQ(DecodeMenuCommand(unknown).kind, MenuChoice::kNone) << unknown;
  }
  const auto& mics = menu[7].items;
  ASSERT_EQ(mics.size(), 3U);
  EXPECT_EQ(std::tuple(mics[0].checked, mics[1].text, mics[1].checked, mics[2].text),
            std::tuple(false, std::string("Mic && Co"), true, std::string(31, 'x')));
  EXPECT_TRUE(menu[8].items[0].checked) << "a device in use that is not listed: the default";
  EXPECT_EQ(DecodeMenuCommand(mics[2].id).index, 2);

  const struct {
    int32_t num, cur;
    size_t presets;
    int32_t checked;  // 0: none
    bool canSave;
  } cases[] = {{0, 1, 0, 0, true},          {3, 2, 3, 2, true},         {8, 9, 8, 0, true},
               {9, 9, 9, 9, false},         {12, 12, 9, 0, false},      {-4, 1, 0, 0, false},
               {INT32_MIN, 0, 0, 0, false}, {INT32_MAX, 1, 9, 1, false}};
  for (const auto& c : cases) {
    state.numSettings = c.num;
    state.curSetting = c.cur;
    const std::vector<MenuEntry> presets = BuildContextMenu(state)[0].items;
    ASSERT_EQ(presets.size(), c.presets + (c.presets > 0 ? 2 : 1)) << c.num;
    for (size_t n = 1; n <= c.presets; ++n) {
      EXPECT_EQ(presets[n - 1].text, "Preset &" + std::to_string(n));
      EXPECT_EQ(presets[n - 1].checked, int32_t(n) == c.checked) << c.num << " " << n;
      EXPECT_EQ(DecodeMenuCommand(presets[n - 1].id).index, int32_t(n));
    }
    EXPECT_EQ(presets.back().enabled, c.canSave) << c.num;
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
               {5200, {260, 7, 1}, LostDevice::kPlayback},  // one queued, never played
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

// Opens through a platform whose devices |working| open (kDefaultDevice among them);
// the devices tried, in order, and the display's texts after.
struct DeviceTrial {
  DeviceChoice choice;
  std::vector<int32_t> tried;
  bool opened;
  DeviceTrial(DeviceKind kind, const std::string& chosen, const std::vector<std::string>& listed,
              const std::set<int32_t>& working)
      : choice(kind) {
    choice.Choose(chosen);
    opened = choice.Open(listed, [&](int32_t id) {
      tried.push_back(id);
      return working.count(id) != 0;
    });
  }
  [[nodiscard]] std::string Shown() const {
    const DeviceStatusText t = choice.Status();
    return t.title + "|" + t.value;
  }
};

// Names as the platform gives them (at most 31 characters), exact; the number is the listing's.
TEST(DeviceChoice, OpensTheChosenNameWhereListedElseTheDefaultAndSaysWhich) {
  using O = DeviceChoice::Outcome;
  const DeviceKind in = DeviceKind::kCapture, out = DeviceKind::kPlayback;
  const std::string longName = "Speakers (High Definition Audi";  // 30: cut to 14 when shown
  const std::vector<std::string> listed = {"", "Mic & Line", longName, longName, "USB"};
  const std::set<int32_t> all = {kDefaultDevice, 0, 1, 2, 3, 4}, onlyDefault = {kDefaultDevice};
  const struct {
    DeviceKind kind;
    std::string chosen;
    std::set<int32_t> working;
    std::vector<int32_t> tried;
    O outcome;
    std::string shown, inUse;
  } cases[] = {
      {in, "", all, {kDefaultDevice}, O::kDefault, "MICROPHONE|DEFAULT", ""},
      {in, "Mic & Line", all, {1}, O::kChosen, "MICROPHONE|Mic & Line", "Mic & Line"},
      {out, longName, all, {2}, O::kChosen, "SPEAKER|Speakers (High", longName},
      {out, "usb", all, {kDefaultDevice}, O::kNotFound, "SPEAKER NOT FOUND|DEFAULT", ""},
      {in, "USB ", all, {kDefaultDevice}, O::kNotFound, "MICROPHONE NOT FOUND|DEFAULT", ""},
      {in, "USB", onlyDefault, {4, kDefaultDevice}, O::kFailed, "MICROPHONE FAILED|DEFAULT", ""},
      {out, "USB", {}, {4, kDefaultDevice}, O::kNone, "NO SPEAKER| ", ""},
      {in, "", {0}, {kDefaultDevice}, O::kNone, "NO MICROPHONE| ", ""},
  };
  for (const auto& c : cases) {
    const DeviceTrial t(c.kind, c.chosen, listed, c.working);
    EXPECT_EQ(t.tried, c.tried) << c.chosen;
    EXPECT_EQ(t.choice.LastOutcome(), c.outcome) << c.chosen;
    EXPECT_EQ(t.opened, c.outcome != O::kNone) << c.chosen;
    EXPECT_EQ(t.Shown(), c.shown) << c.chosen;
    const DeviceList menu = t.choice.MenuList(listed);
    EXPECT_EQ(menu.inUse, c.inUse) << c.chosen;
    EXPECT_EQ(menu.names, std::vector<std::string>(listed.begin() + 1, listed.end()));
  }
}

// Away, back, listed but broken, away and back: the chosen device is tried again only on return.
TEST(DeviceChoice, AChosenDeviceIsTakenUpAgainWhenItReturnsToTheList) {
  const std::vector<std::string> none, back = {"Headset"};
  DeviceTrial t(DeviceKind::kPlayback, "Headset", none, {kDefaultDevice});
  std::string seen;
  for (const auto* listed : {&none, &back, &back, &none, &back}) {
    seen += t.choice.CameBack(*listed) ? '1' : '0';
  }
  EXPECT_EQ(seen, "01001");
  t.choice.Open(back, [](int32_t id) { return id == kDefaultDevice; });
  seen.clear();
  for (const auto* listed : {&back, &none, &back}) {
    seen += t.choice.CameBack(*listed) ? '1' : '0';
  }
  EXPECT_EQ(seen, "001") << "a device that would not open is tried again once it went and came";
  t.choice.Open(back, [](int32_t) { return true; });
  EXPECT_FALSE(t.choice.CameBack(none) || t.choice.CameBack(back)) << "in use: nothing to do";
  t.choice.Open(none, [](int32_t id) { return id == kDefaultDevice; });
  t.choice.Choose("");  // the default chosen after a fallback: no fallback said any more
  t.choice.Open(none, [](int32_t) { return true; });
  EXPECT_EQ(t.choice.LastOutcome(), DeviceChoice::Outcome::kDefault);
}

TEST(DeviceChoice, StartUpNamesWhatStandsInForAChosenDevice) {
  const std::vector<std::string> listed = {"Mic", "Out"};
  const struct {
    std::string capture, playback;
    bool shown;
    std::string title;
  } cases[] = {{"", "", false, ""},
               {"Mic", "Out", false, ""},
               {"Gone", "Out", true, "MICROPHONE NOT FOUND"},
               {"", "Gone", true, "SPEAKER NOT FOUND"},
               {"Gone", "Gone", true, "DEVICES NOT FOUND"},
               {"Gone", "Mic", true, "DEVICES FAILED"}};  // "Mic" will not play
  for (const auto& c : cases) {
    const std::set<int32_t> working = {kDefaultDevice, 0};
    const DeviceTrial capture(DeviceKind::kCapture, c.capture, listed, working);
    const DeviceTrial playback(DeviceKind::kPlayback, c.playback, listed, {kDefaultDevice, 1});
    DeviceStatusText text{"untouched", ""};
    EXPECT_EQ(FallbackDeviceStatus(capture.choice, playback.choice, text), c.shown);
    EXPECT_EQ(text.title, c.shown ? c.title : "untouched") << c.capture << "/" << c.playback;
    EXPECT_EQ(text.value, c.shown ? "DEFAULT" : "");
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
  EXPECT_FALSE(BuildManualPath("d", out.data(), 0) || BuildManualPath("d", nullptr, 8) ||
               out[0] != '#')
      << "no room: nothing written";
  EXPECT_FALSE(BuildManualPath(nullptr, out.data(), 8) || out[0] != '\0');
}

}  // namespace
}  // namespace mimicore
