#include "ui/windows/context_menu.h"

#include <algorithm>
#include <array>
#include <string>

#include "settings/voices.h"

namespace mimicore {

namespace {

// Each kind of command has a block of ids of its own, from |first| on,
// for the indexes |firstIndex| .. |firstIndex| + |count| - 1; a device's
// block holds the default and 255 listed devices.
constexpr uint32_t kDeviceIdsEach = 0x100;
struct IdBlock {
  MenuChoice::Kind kind;
  uint32_t first;
  int32_t firstIndex;
  int32_t count;
};
constexpr std::array<IdBlock, 11> kIdBlocks{{
    {MenuChoice::kPreset, 0x101, 1, kMenuPresets},
    {MenuChoice::kSaveNewPreset, 0x110, 0, 1},
    {MenuChoice::kVoice, 0x120, 0, int32_t(kVoices.size())},
    {MenuChoice::kReverse, 0x130, 0, 1},
    {MenuChoice::kEchoGuard, 0x131, 0, 1},
    {MenuChoice::kPreRoll, 0x132, 0, 1},
    {MenuChoice::kCapture, 0x200, 0, int32_t(kDeviceIdsEach)},
    {MenuChoice::kPlayback, 0x300, 0, int32_t(kDeviceIdsEach)},
    {MenuChoice::kSaveTake, 0x400, 0, 1},
    {MenuChoice::kManual, 0x401, 0, 1},
    {MenuChoice::kExit, 0x402, 0, 1},
}};

MenuEntry Item(std::string text, MenuChoice choice, bool checked = false, bool enabled = true) {
  return MenuEntry{std::move(text), MenuCommandId(choice), checked, enabled, {}};
}

MenuEntry Submenu(std::string text, std::vector<MenuEntry> items) {
  return MenuEntry{std::move(text), 0, false, true, std::move(items)};
}

MenuEntry Devices(const char* text, const DeviceList& devices, MenuChoice::Kind kind) {
  std::vector<MenuEntry> items;
  const size_t listed = std::min<size_t>(devices.names.size(), kDeviceIdsEach - 1);
  // The one in use is checked where the list has it; a device in use that
  // the platform no longer lists leaves nothing checked but the default.
  bool inUseListed = false;
  for (size_t i = 0; i < listed; ++i) {
    inUseListed = inUseListed || (!devices.inUse.empty() && devices.names[i] == devices.inUse);
  }
  items.push_back(Item("&Default device", {kind, 0}, !inUseListed));
  for (size_t i = 0; i < listed; ++i) {
    const bool inUse = inUseListed && devices.names[i] == devices.inUse;
    items.push_back(Item(DeviceMenuText(devices.names[i]), {kind, int32_t(i) + 1}, inUse));
  }
  return Submenu(text, std::move(items));
}

}  // namespace

std::string DeviceMenuText(std::string_view name) {
  std::string text;
  for (const char c : name.substr(0, kDeviceNameChars)) {
    text += c;
    if (c == '&') {
      text += '&';
    }
  }
  return text;
}

uint32_t MenuCommandId(MenuChoice c) {
  for (const IdBlock& b : kIdBlocks) {
    if (b.kind == c.kind) {
      const int32_t index = std::clamp(c.index, b.firstIndex, b.firstIndex + b.count - 1);
      return b.first + uint32_t(index - b.firstIndex);
    }
  }
  return 0;
}

MenuChoice DecodeMenuCommand(uint32_t id) {
  for (const IdBlock& b : kIdBlocks) {
    if (id >= b.first && id - b.first < uint32_t(b.count)) {
      return {b.kind, b.firstIndex + int32_t(id - b.first)};
    }
  }
  return {};
}

std::vector<MenuEntry> BuildContextMenu(const MenuState& s) {
  std::vector<MenuEntry> presets;
  for (int32_t n = 1; n <= PresetsOffered(s.numSettings); ++n) {
    presets.push_back(
        Item("Preset &" + std::to_string(n), {MenuChoice::kPreset, n}, n == s.curSetting));
  }
  if (!presets.empty()) {
    presets.push_back({});
  }
  presets.push_back(Item("Save as &new preset", {MenuChoice::kSaveNewPreset, 0}, false,
                         CanSaveNewPreset(s.numSettings)));

  std::vector<MenuEntry> voices;
  for (size_t v = 0; v < kVoices.size(); ++v) {
    voices.push_back(Item(kVoices[v].menuText, {MenuChoice::kVoice, int32_t(v)}));
  }

  std::vector<MenuEntry> menu;
  menu.push_back(Submenu("&Presets", std::move(presets)));
  menu.push_back(Submenu("&Voices", std::move(voices)));
  menu.push_back({});
  menu.push_back(Item("&Reverse", {MenuChoice::kReverse, 0}, s.reverse));
  menu.push_back(Item("Echo &guard", {MenuChoice::kEchoGuard, 0}, s.echoGuard));
  menu.push_back(Item("Pre-ro&ll", {MenuChoice::kPreRoll, 0}, s.preRoll));
  menu.push_back({});
  menu.push_back(Devices("&Microphone", s.capture, MenuChoice::kCapture));
  menu.push_back(Devices("Spea&ker", s.playback, MenuChoice::kPlayback));
  menu.push_back({});
  menu.push_back(Item("&Save last take...\tEnter", {MenuChoice::kSaveTake, 0}));
  menu.push_back(Item("Man&ual\tF1", {MenuChoice::kManual, 0}));
  menu.push_back(Item("E&xit\tEsc", {MenuChoice::kExit, 0}));
  return menu;
}

}  // namespace mimicore
