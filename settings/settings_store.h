// The per-user store the presets live in: keys named by a path below the
// user's root (for example "SOFTWARE\\Quorvane\\Mimicore\\def_settings"),
// each holding named values of exactly four bytes. The registry provides it
// on Windows; tests and tools use the in-memory one.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace mimicore {

// One stored value. The layout inside the four bytes is the caller's
// business (little-endian int32 or float bits for the presets).
using StoredBytes = std::array<uint8_t, 4>;

// An open key. Closing it is destroying it.
class SettingsKey {
 public:
  virtual ~SettingsKey() = default;
  SettingsKey() = default;
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;

  // Writes the value as binary data of exactly four bytes. The presets do
  // not look at the result.
  virtual bool Put(const char* name, const StoredBytes& bytes) = 0;

  // Fills |bytes| only when the value exists and holds exactly four bytes
  // of a kind the program can have written; anything else counts as
  // missing and leaves |bytes| as it was.
  virtual bool Get(const char* name, StoredBytes& bytes) = 0;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  SettingsStore() = default;
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Opens the key for writing, creating it and any missing parent keys.
  // Null when the store cannot be written.
  virtual std::unique_ptr<SettingsKey> OpenForWriting(const char* path) = 0;

  // Opens an existing key for reading. Null when it is absent (or cannot be
  // read, which the callers treat the same way).
  virtual std::unique_ptr<SettingsKey> OpenForReading(const char* path) = 0;
};

}  // namespace mimicore
