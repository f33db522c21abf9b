// The keyboard as the lock-light logic sees it, over the window manager's
// key state and synthesised key events.
#pragma once

#include "app/lock_lights.h"

namespace mimicore {

class WinKeyboardPort final : public KeyboardPort {
 public:
  void ReadKeys(KeyTable& table) override;
  void WriteKeys(const KeyTable& table) override;
  void SendKeyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) override;
};

}  // namespace mimicore
