#include "ui/windows/context_menu.h"

#include <algorithm>
#include <string>

#include "settings/voices.h"

namespace mimicore {

namespace {

// Each kind of command has a block of ids of its own; a device's block
// holds the default and 255 listed devices.
constexpr uint32_t kPresetIds = 0x100;
constexpr uint32_t kSaveNewPresetId = 0x110;
constexpr uint32_t kVoiceIds = 0x120;
constexpr uint32_t kReverseId = 0x130;
constexpr uint32_t kEchoGuardId = 0x131;
constexpr uint32_t kPreRollId = 0x132;
constexpr uint32_t kCaptureIds = 0x200;
constexpr uint32_t kPlaybackIds = 0x300;
constexpr uint32_t kDeviceIdsEach = 0x100;
constexpr uint32_t kSaveTakeId = 0x400;
constexpr uint32_t kManualId = 0x401;
constexpr uint32_t kExitId = 0x402;

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

int32_t PresetsOffered(int32_t numSettings) { return std::clamp(numSettings, 0, kMenuPresets); }

bool CanSaveNewPreset(int32_t numSettings) {
  return numSettings >= 0 && numSettings < kMenuPresets;
}

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
  switch (c.kind) {
    case MenuChoice::kPreset:
      return kPresetIds + uint32_t(std::clamp(c.index, 1, kMenuPresets));
    case MenuChoice::kSaveNewPreset:
      return kSaveNewPresetId;
    case MenuChoice::kVoice:
      return kVoiceIds + uint32_t(std::clamp(c.index, 0, int32_t(kVoices.size()) - 1));
    case MenuChoice::kReverse:
      return kReverseId;
    case MenuChoice::kEchoGuard:
      return kEchoGuardId;
    case MenuChoice::kPreRoll:
      return kPreRollId;
    case MenuChoice::kCapture:
    case MenuChoice::kPlayback: {
      const uint32_t base = c.kind == MenuChoice::kCapture ? kCaptureIds : kPlaybackIds;
      return base + uint32_t(std::clamp(c.index, 0, int32_t(kDeviceIdsEach) - 1));
    }
    case MenuChoice::kSaveTake:
      return kSaveTakeId;
    case MenuChoice::kManual:
      return kManualId;
    case MenuChoice::kExit:
      return kExitId;
    case MenuChoice::kNone:
      break;
  }
  return 0;
}

MenuChoice DecodeMenuCommand(uint32_t id) {
  if (id > kPresetIds && id <= kPresetIds + uint32_t(kMenuPresets)) {
    return {MenuChoice::kPreset, int32_t(id - kPresetIds)};
  }
  if (id >= kVoiceIds && id < kVoiceIds + kVoices.size()) {
    return {MenuChoice::kVoice, int32_t(id - kVoiceIds)};
  }
  if (id >= kCaptureIds && id < kCaptureIds + kDeviceIdsEach) {
    return {MenuChoice::kCapture, int32_t(id - kCaptureIds)};
  }
  if (id >= kPlaybackIds && id < kPlaybackIds + kDeviceIdsEach) {
    return {MenuChoice::kPlayback, int32_t(id - kPlaybackIds)};
  }
  switch (id) {
    case kSaveNewPresetId:
      return {MenuChoice::kSaveNewPreset, 0};
    case kReverseId:
      return {MenuChoice::kReverse, 0};
    case kEchoGuardId:
      return {MenuChoice::kEchoGuard, 0};
    case kPreRollId:
      return {MenuChoice::kPreRoll, 0};
    case kSaveTakeId:
      return {MenuChoice::kSaveTake, 0};
    case kManualId:
      return {MenuChoice::kManual, 0};
    case kExitId:
      return {MenuChoice::kExit, 0};
    default:
      return {};
  }
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
