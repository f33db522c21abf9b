#include "settings/registry_store_win.h"

#include <windows.h>

#include <algorithm>
#include <array>

namespace mimicore {

namespace {

class RegistryKey final : public SettingsKey {
 public:
  explicit RegistryKey(HKEY key) : key_(key) {}
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() override { RegCloseKey(key_); }

  bool Put(const char* name, const StoredBytes& bytes) override {
    return RegSetValueExA(key_, name, 0, REG_BINARY, bytes.data(),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
  }

  bool Get(const char* name, StoredBytes& bytes) override {
    // Read into a buffer of our own: a longer value is refused by the call
    // (ERROR_MORE_DATA) and a shorter one by the size check, so the caller's
    // four bytes are only ever replaced whole.
    BYTE buffer[4] = {};
    DWORD size = sizeof buffer;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key_, name, nullptr, &type, buffer, &size) != ERROR_SUCCESS) {
      return false;
    }
    // The program writes binary values; a DWORD has the same little-endian
    // layout and is what a hand edit would most likely produce.
    if (size != sizeof buffer || (type != REG_BINARY && type != REG_DWORD)) {
      return false;
    }
    std::copy(std::begin(buffer), std::end(buffer), bytes.begin());
    return true;
  }

  bool PutString(const char* name, std::string_view text) override {
    if (text.size() > kStoredTextMaxBytes || text.find('\0') != std::string_view::npos) {
      return false;
    }
    const std::string terminated(text);
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(terminated.c_str()),
                          static_cast<DWORD>(terminated.size() + 1)) == ERROR_SUCCESS;
  }

  bool GetString(const char* name, std::string& text) override {
    // One byte beyond the longest value taken: a longer one is refused by
    // the call or by its missing terminator, never cut to fit.
    std::array<BYTE, kStoredTextMaxBytes + 2> buffer{};
    DWORD size = kStoredTextMaxBytes + 1;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key_, name, nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
      return false;
    }
    return TextFromStoredString(buffer.data(), std::min<size_t>(size, kStoredTextMaxBytes + 1),
                                text);
  }

 private:
  HKEY key_;
};

}  // namespace

std::unique_ptr<SettingsKey> RegistrySettingsStore::OpenForWriting(const char* path) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<RegistryKey>(key);
}

std::unique_ptr<SettingsKey> RegistrySettingsStore::OpenForReading(const char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<RegistryKey>(key);
}

}  // namespace mimicore
