// The settings store over the registry, below HKEY_CURRENT_USER.
#pragma once

#include <memory>

#include "settings/settings_store.h"

namespace mimicore {

class RegistrySettingsStore final : public SettingsStore {
 public:
  std::unique_ptr<SettingsKey> OpenForWriting(const char* path) override;
  std::unique_ptr<SettingsKey> OpenForReading(const char* path) override;
};

}  // namespace mimicore
