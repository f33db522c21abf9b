#include "app/lock_lights_win.h"

#include <windows.h>

namespace mimicore {

void WinKeyboardPort::ReadKeys(KeyTable& table) {
  // The table alone is this thread's view: it follows only the key messages
  // this thread took from its queue, so a lock key toggled while another
  // program had the focus is missing from it. Asking for a single key's
  // state first has the system bring the thread's view in line with the
  // keyboard's (the thread holds no unread key input here: the window
  // thread is between messages), and the table read then carries the real
  // toggle states of the lock keys.
  GetKeyState(0);
  GetKeyboardState(table.data());
}

void WinKeyboardPort::WriteKeys(const KeyTable& table) {
  // The call takes a non-const pointer but only reads the table.
  KeyTable copy = table;
  SetKeyboardState(copy.data());
}

void WinKeyboardPort::SendKeyEvent(uint8_t vk, uint8_t scanCode, uint32_t flags) {
  keybd_event(vk, scanCode, flags, 0);
}

}  // namespace mimicore
