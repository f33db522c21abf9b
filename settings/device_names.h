// The sound devices the user chose, by the names the platform gives them,
// in the product key: "InDevice" (microphone) and "OutDevice" (speaker).
// Absent or empty means the default device. Written only when the user
// chooses, so a stored name is kept while its device is away.
#pragma once

#include <string>
#include <string_view>

#include "settings/settings_store.h"

namespace mimicore {

inline constexpr const char* kCaptureDeviceValue = "InDevice";
inline constexpr const char* kPlaybackDeviceValue = "OutDevice";

// The stored name, or empty when there is none the store can give (absent,
// not a string, too long, not terminated, or no product key).
std::string LoadDeviceName(SettingsStore& store, const char* value);
// Stores |name| (empty: the default device); false when the product key
// cannot be written or the name is too long for the store.
bool SaveDeviceName(SettingsStore& store, const char* value, std::string_view name);

}  // namespace mimicore
