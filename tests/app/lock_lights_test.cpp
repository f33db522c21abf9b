#include "app/lock_lights.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace mimicore {
namespace {

struct KeyEvent {
  uint8_t vk;
  uint8_t scanCode;
  uint32_t flags;
  friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

// The system's side: the lights follow the toggle bits, a synthesised press
// toggles the key like a real one, and a written table becomes the state.
class FakeKeyboard final : public KeyboardPort {
 public:
  void ReadKeys(KeyTable& table) override {
    ++reads;
    table = system;
  }
  void WriteKeys(const KeyTable& table) override {
    ++writes;
    system = table;
  }
  void SendKeyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) override {
    events.push_back({vk, scanCode, flags});
    if ((flags & kKeyEventKeyUp) == 0) {
      UserToggles(vk);
    }
  }
  void UserToggles(uint8_t vk) { system[vk] = static_cast<uint8_t>(system[vk] ^ 1U); }
  [[nodiscard]] bool Lit(uint8_t vk) const { return (system[vk] & 1U) != 0; }

  KeyTable system{};
  std::vector<KeyEvent> events;
  int reads = 0;
  int writes = 0;
};

std::vector<KeyEvent> PressRelease(uint8_t vk) { return {{vk, 0x45, 1}, {vk, 0x45, 3}}; }

// Num Lock and Scroll Lock lit, Caps Lock dark, a letter key held down.
FakeKeyboard StartState() {
  FakeKeyboard k;
  k.system[kVkNumLock] = 1;
  k.system[kVkScrollLock] = 1;
  k.system['A'] = 0x80;
  return k;
}

TEST(LockLights, LitKeysGoDarkAndComeBackWithBothMethods) {
  for (const int32_t method : {kLightMethodSetState, kLightMethodKeyEvent}) {
    SCOPED_TRACE(method);
    FakeKeyboard k = StartState();
    LockLights lights(k, method);
    lights.SwitchLightsOff();
    EXPECT_FALSE(k.Lit(kVkNumLock));
    EXPECT_FALSE(k.Lit(kVkCapsLock));
    EXPECT_FALSE(k.Lit(kVkScrollLock));
    EXPECT_EQ(k.system['A'], 0x80) << "other keys keep their state";
    EXPECT_TRUE(LockLights::IsLit(lights.SavedKeys(), kVkNumLock));

    lights.RestoreLights();
    EXPECT_EQ(k.system, StartState().system);
  }
}

TEST(LockLights, KeyEventsArePressThenReleaseForOnlyTheSwitchedKeys) {
  FakeKeyboard k = StartState();
  LockLights lights(k, kLightMethodKeyEvent);
  lights.SwitchLightsOff();
  std::vector<KeyEvent> expected = PressRelease(kVkNumLock);
  for (const KeyEvent& e : PressRelease(kVkScrollLock)) {
    expected.push_back(e);
  }
  EXPECT_EQ(k.events, expected);
  EXPECT_EQ(k.writes, 0);

  k.events.clear();
  lights.RestoreLights();
  EXPECT_EQ(k.events, expected);
}

TEST(LockLights, SetStateMethodWritesTheWholeTablePerSwitch) {
  FakeKeyboard k = StartState();
  LockLights lights(k, kLightMethodSetState);
  lights.SwitchLightsOff();
  EXPECT_EQ(k.writes, 2);
  EXPECT_TRUE(k.events.empty());
  EXPECT_EQ(k.system, lights.CurrentKeys());
}

TEST(LockLights, OtherPlatformsOnlyTrackTheTable) {
  for (const int32_t method : {0, 3, -1}) {
    FakeKeyboard k = StartState();
    LockLights lights(k, method);
    lights.SwitchLightsOff();
    EXPECT_FALSE(LockLights::IsLit(lights.CurrentKeys(), kVkNumLock));
    EXPECT_FALSE(LockLights::IsLit(lights.CurrentKeys(), kVkScrollLock));
    lights.RestoreLights();
    EXPECT_TRUE(k.events.empty());
    EXPECT_EQ(k.writes, 0);
    EXPECT_EQ(k.system, StartState().system);
  }
}

TEST(LockLights, KeysTheUserToggledWhileRunningStillEndAsAtStart) {
  for (const int32_t method : {kLightMethodSetState, kLightMethodKeyEvent}) {
    SCOPED_TRACE(method);
    FakeKeyboard k = StartState();
    LockLights lights(k, method);
    lights.SwitchLightsOff();
    k.UserToggles(kVkCapsLock);    // was dark: must end dark
    k.UserToggles(kVkNumLock);     // was lit: must end lit, not be toggled off
    k.UserToggles(kVkScrollLock);  // twice: back to what the program left
    k.UserToggles(kVkScrollLock);
    lights.RestoreLights();
    EXPECT_FALSE(k.Lit(kVkCapsLock));
    EXPECT_TRUE(k.Lit(kVkNumLock));
    EXPECT_TRUE(k.Lit(kVkScrollLock));
  }
}

TEST(LockLights, HeldDownLockKeyIsJudgedByItsLightAlone) {
  FakeKeyboard k;
  k.system[kVkCapsLock] = 0x80;    // held, light off
  k.system[kVkScrollLock] = 0x81;  // held, light on
  LockLights lights(k, kLightMethodKeyEvent);
  lights.SwitchLightsOff();
  EXPECT_EQ(k.events, PressRelease(kVkScrollLock));
  lights.RestoreLights();
  EXPECT_FALSE(k.Lit(kVkCapsLock));
  EXPECT_TRUE(k.Lit(kVkScrollLock));
}

TEST(LockLights, RestoreWithoutSwitchingOffDoesNothing) {
  FakeKeyboard k = StartState();
  LockLights lights(k, kLightMethodKeyEvent);
  lights.RestoreLights();
  EXPECT_TRUE(k.events.empty());
  EXPECT_EQ(k.system, StartState().system);
}

}  // namespace
}  // namespace mimicore
