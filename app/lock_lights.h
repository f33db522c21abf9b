// Keeps the keyboard's Num Lock, Caps Lock and Scroll Lock lights dark
// while the program runs and puts each back as it was at start-up.
//
// The switching goes one of two ways, picked from the platform identifier of
// the system's version record: 1 writes the whole key table back, 2 sends a
// synthesised press and release of the key; any other value only keeps the
// table up to date and sends nothing.
#pragma once

#include <array>
#include <cstdint>

namespace mimicore {

using KeyTable = std::array<uint8_t, 256>;

inline constexpr uint8_t kVkNumLock = 0x90;
inline constexpr uint8_t kVkCapsLock = 0x14;
inline constexpr uint8_t kVkScrollLock = 0x91;

inline constexpr int32_t kLightMethodSetState = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr int32_t kLightMethodKeyEvent = 2;  // VER_PLATFORM_WIN32_NT

inline constexpr uint8_t kLockKeyScanCode = 0x45;
inline constexpr uint32_t kKeyEventExtended = 1;
inline constexpr uint32_t kKeyEventKeyUp = 2;

// The three doors to the keyboard. Results are not looked at.
class KeyboardPort {
 public:
  virtual ~KeyboardPort() = default;
  // One byte per virtual key; bit 0 of a lock key's byte is its toggle
  // (light) state, bit 7 means the key is held down.
  virtual void ReadKeys(KeyTable& table) = 0;
  virtual void WriteKeys(const KeyTable& table) = 0;
  virtual void SendKeyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) = 0;
};

// Main thread only.
class LockLights {
 public:
  LockLights(KeyboardPort& port, int32_t platformId) : port_(port), method_(platformId) {}

  // Saves the state of all keys, then switches the three lights off.
  void SwitchLightsOff();
  // Puts each of the three lights back as it was when SwitchLightsOff ran,
  // judged against the keys' state now, so a lock key the user pressed in
  // the meantime is accounted for. Does nothing before SwitchLightsOff.
  void RestoreLights();

  void LightOn(uint8_t vk);
  void LightOff(uint8_t vk);
  void ToggleLight(uint8_t vk);

  [[nodiscard]] static bool IsLit(const KeyTable& table, uint8_t vk) {
    return (table[vk] & 1U) != 0;
  }

  [[nodiscard]] int32_t Method() const { return method_; }

 private:
  KeyboardPort& port_;
  int32_t method_;
  bool switchedOff_ = false;
  KeyTable saved_{};
  KeyTable current_{};
};

}  // namespace mimicore
