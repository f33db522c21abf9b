#include "settings/device_names.h"

#include "settings/presets.h"

namespace mimicore {

std::string LoadDeviceName(SettingsStore& store, const char* value) {
  std::string name;
  if (const auto key = store.OpenForReading(kProductKey)) {
    key->GetString(value, name);
  }
  return name;
}

bool SaveDeviceName(SettingsStore& store, const char* value, std::string_view name) {
  const auto key = store.OpenForWriting(kProductKey);
  return key && key->PutString(value, name);
}

}  // namespace mimicore
