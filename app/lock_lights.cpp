#include "app/lock_lights.h"

namespace mimicore {

namespace {

constexpr uint8_t kLockKeys[] = {kVkNumLock, kVkCapsLock, kVkScrollLock};

}  // namespace

void LockLights::ToggleLight(uint8_t vk) {
  current_[vk] = static_cast<uint8_t>(current_[vk] ^ 1U);
  if (method_ == kLightMethodSetState) {
    port_.WriteKeys(current_);
  } else if (method_ == kLightMethodKeyEvent) {
    port_.SendKeyEvent(vk, kLockKeyScanCode, kKeyEventExtended);
    port_.SendKeyEvent(vk, kLockKeyScanCode, kKeyEventExtended | kKeyEventKeyUp);
  }
}

// The light is the toggle bit alone: a lock key held down has bit 7 set as
// well, and counting that as lit would switch the light the wrong way.
void LockLights::LightOff(uint8_t vk) {
  if (IsLit(current_, vk)) {
    ToggleLight(vk);
  }
}

void LockLights::LightOn(uint8_t vk) {
  if (!IsLit(current_, vk)) {
    ToggleLight(vk);
  }
}

void LockLights::SwitchLightsOff() {
  port_.ReadKeys(saved_);
  port_.ReadKeys(current_);
  switchedOff_ = true;
  for (const uint8_t vk : kLockKeys) {
    LightOff(vk);
  }
}

void LockLights::RestoreLights() {
  if (!switchedOff_) {
    // Nothing was saved; restoring from an empty table would switch lights
    // off that the program never touched.
    return;
  }
  // The user may have pressed a lock key while the program ran; deciding
  // from what this class last wrote would then leave that light wrong.
  port_.ReadKeys(current_);
  for (const uint8_t vk : kLockKeys) {
    if (IsLit(saved_, vk)) {
      LightOn(vk);
    } else {
      LightOff(vk);
    }
  }
}

}  // namespace mimicore
