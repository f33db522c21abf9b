// The per-user store the presets live in: keys named by a path below the
// user's root (for example "SOFTWARE\\Quorvane\\Mimicore\\def_settings"),
// each holding named values of exactly four bytes, and a few short strings. The registry provides
// it on Windows; tests and tools use the in-memory one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mimicore {

// One stored value. The layout inside the four bytes is the caller's
// business (little-endian int32 or float bits for the presets).
using StoredBytes = std::array<uint8_t, 4>;

// The longest string value taken, in bytes before its terminator.
inline constexpr size_t kStoredTextMaxBytes = 255;

// The text of a string value's data as stored: everything before the first
// NUL, which has to come within the first kStoredTextMaxBytes + 1 bytes.
// False (and |text| untouched) for data without one: too long, or not
// terminated.
bool TextFromStoredString(const uint8_t* data, size_t size, std::string& text);

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

  // Writes a string value (terminated). False, with nothing written, for
  // text longer than kStoredTextMaxBytes or holding a NUL.
  virtual bool PutString(const char* name, std::string_view text) = 0;

  // Fills |text| only from a string value that TextFromStoredString takes;
  // anything else counts as missing and leaves |text| as it was.
  virtual bool GetString(const char* name, std::string& text) = 0;
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
