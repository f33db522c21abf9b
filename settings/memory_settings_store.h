// A settings store held in memory, with the registry's rules: key paths and
// value names compare without regard to case, creating a key creates its
// parents, and a value keeps the type and size it was written with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/settings_store.h"

namespace mimicore {

// Value types as the registry numbers them.
inline constexpr uint32_t kStoredTypeString = 1;
inline constexpr uint32_t kStoredTypeBinary = 3;
inline constexpr uint32_t kStoredTypeDword = 4;

class MemorySettingsStore final : public SettingsStore {
 public:
  struct Value {
    uint32_t type = kStoredTypeBinary;
    std::vector<uint8_t> bytes;
  };

  // Keys handed out refer to this store and must not outlive it.
  std::unique_ptr<SettingsKey> OpenForWriting(const char* path) override;
  std::unique_ptr<SettingsKey> OpenForReading(const char* path) override;

  // A store that refuses writes opens no key for writing, like a registry
  // hive the user may not change.
  void SetWritable(bool writable) { writable_ = writable; }

  // Direct access, for tests and tools.
  void SetValue(const std::string& path, const std::string& name, uint32_t type,
                std::vector<uint8_t> bytes);
  [[nodiscard]] std::optional<Value> GetValue(const std::string& path,
                                              const std::string& name) const;
  [[nodiscard]] bool HasKey(const std::string& path) const;
  [[nodiscard]] size_t KeyCount() const { return keys_.size(); }

 private:
  class Key;

  struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  using ValueMap = std::map<std::string, Value, NoCaseLess>;

  ValueMap& CreateKey(const std::string& path);

  std::map<std::string, ValueMap, NoCaseLess> keys_;
  bool writable_ = true;
};

}  // namespace mimicore
