// The right-click menu as data: what it offers, checked and greyed from the
// program's state, and what each item's command means. The window side only
// turns it into the platform's menu, so every rule here is tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/presets.h"

namespace mimicore {

// Presets the menu and Ctrl+1 ... Ctrl+9 reach: 1 .. kMenuPresets.
inline constexpr int32_t kMenuPresets = kLastNumberedPreset;
// The platform gives device names of at most this many characters.
inline constexpr size_t kDeviceNameChars = 31;

// The devices the platform lists now, by name, and the one in use (empty:
// the default device).
struct DeviceList {
  std::vector<std::string> names;
  std::string inUse;
};

struct MenuState {
  int32_t numSettings = 0;
  int32_t curSetting = 0;
  bool reverse = false;
  bool echoGuard = true;
  bool preRoll = false;
  DeviceList capture;
  DeviceList playback;
};

struct MenuEntry {
  std::string text;  // with its access key marked by '&'; empty: a separator
  uint32_t id = 0;   // 0 for a submenu or a separator
  bool checked = false;
  bool enabled = true;
  std::vector<MenuEntry> items;  // a submenu's
};

// What a chosen item asks for; |index| is the preset number (1 ..), the
// voice (0 ..), or the device (0: the default, n: the n-th name listed).
struct MenuChoice {
  enum Kind : uint8_t {
    kNone,
    kPreset,
    kSaveNewPreset,
    kVoice,
    kReverse,
    kEchoGuard,
    kPreRoll,
    kCapture,
    kPlayback,
    kSaveTake,
    kManual,
    kExit,
  };
  Kind kind = kNone;
  int32_t index = 0;
};

std::vector<MenuEntry> BuildContextMenu(const MenuState& state);
// The command an item carries, and back; an id no item carries is kNone.
uint32_t MenuCommandId(MenuChoice choice);
MenuChoice DecodeMenuCommand(uint32_t id);

// A platform's device name as a menu shows it: at most kDeviceNameChars
// characters, every '&' doubled so that none becomes an access key.
std::string DeviceMenuText(std::string_view name);

}  // namespace mimicore
