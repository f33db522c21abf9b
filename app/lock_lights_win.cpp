#include "app/lock_lights_win.h"

#include <windows.h>

namespace mimicore {

void WinKeyboardPort::ReadKeys(KeyTable& table) { GetKeyboardState(table.data()); }

void WinKeyboardPort::WriteKeys(const KeyTable& table) {
  // The call takes a non-const pointer but only reads the table.
  KeyTable copy = table;
  SetKeyboardState(copy.data());
}

void WinKeyboardPort::SendKeyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) {
  keybd_event(vk, scanCode, flags, 0);
}

}  // namespace mimicore
