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
    EXPECT_FALSE(k.Lit(kVkNumLock) || k.Lit(kVkCapsLock) || k.Lit(kVkScrollLock));
    EXPECT_EQ(k.system['A'], 0x80) << "other keys keep their state";
    // Key events press and release only the switched keys; the table is
    // written once per switch.
    const std::vector<KeyEvent> both = {{kVkNumLock, 0x45, 1},
                                        {kVkNumLock, 0x45, 3},
                                        {kVkScrollLock, 0x45, 1},
                                        {kVkScrollLock, 0x45, 3}};
    EXPECT_EQ(k.events, method == kLightMethodKeyEvent ? both : std::vector<KeyEvent>{});
    EXPECT_EQ(k.writes, method == kLightMethodKeyEvent ? 0 : 2);

    // Whatever the user toggled meanwhile, the lights end as at the start.
    k.UserToggles(kVkCapsLock);
    k.UserToggles(kVkNumLock);
    k.UserToggles(kVkScrollLock);
    k.UserToggles(kVkScrollLock);
    lights.RestoreLights();
    EXPECT_EQ(k.system, StartState().system);
  }
}

TEST(LockLights, OtherPlatformsAndRestoreWithoutSwitchingTouchNothing) {
  for (const int32_t method : {0, 3, -1, kLightMethodKeyEvent}) {
    FakeKeyboard k = StartState();
    LockLights lights(k, method);
    if (method != kLightMethodKeyEvent) {
      lights.SwitchLightsOff();
      EXPECT_FALSE(LockLights::IsLit(lights.CurrentKeys(), kVkNumLock)) << method;
    }
    lights.RestoreLights();
    EXPECT_TRUE(k.events.empty()) << method;
    EXPECT_EQ(k.writes, 0) << method;
    EXPECT_EQ(k.system, StartState().system) << method;
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

}  // namespace
}  // namespace mimicore
