#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "settings/presets.h"
#include "settings/registry_store_win.h"

namespace mimicore {
namespace {

constexpr const char* kProduct = "SOFTWARE\\Quorvane\\Mimicore";

class NullApplier final : public SettingsApplier {
 public:
  void ApplySettings() override { ++applied; }
  int applied = 0;
};

class RegistryPresets : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kProduct); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kProduct); }

  static std::string Path(const char* sub) { return std::string(kProduct) + "\\" + sub; }

  static void Put(const std::string& path, const char* name, const std::vector<uint8_t>& bytes,
                  DWORD type = REG_BINARY) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, bytes.data(), DWORD(bytes.size()));
    RegCloseKey(key);
  }

  // The raw stored value, or an empty vector when absent or not binary.
  static std::vector<uint8_t> Get(const std::string& path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
      return {};
    }
    std::array<uint8_t, 64> buffer{};
    DWORD size = DWORD(buffer.size());
    DWORD type = 0;
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, buffer.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_BINARY) {
      return {};
    }
    return {buffer.begin(), buffer.begin() + size};
  }

  static std::vector<uint8_t> Le(int32_t v) {
    const auto u = uint32_t(v);
    return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
  }

  EngineSettings settings;
  AppSettings app;
  RegistrySettingsStore store;
  NullApplier applier;
  Presets presets{settings, app, store, applier};
};

TEST_F(RegistryPresets, FirstRunWritesExactBytes) {
  presets.LoadSettingsAtStartup();
  EXPECT_EQ(settings.Load(), DefaultEngineSettings);
  presets.SaveSettingsAtShutdown();
  EXPECT_EQ(Get(kProduct, "NumSettings"), Le(0));
  EXPECT_EQ(Get(kProduct, "winx"), (std::vector<uint8_t>{0x2E, 0xFB, 0xFF, 0xFF}));
  const std::string def = Path("def_settings");
  EXPECT_EQ(Get(def, "Decay"), (std::vector<uint8_t>{0xCD, 0xCC, 0xCC, 0x3E}));
  EXPECT_EQ(Get(def, "oscilloDivisor"), Le(32768));
}

TEST_F(RegistryPresets, NumberedPresetsFollowNumAndCurSetting) {
  Put(kProduct, "NumSettings", Le(3));
  Put(kProduct, "CurSetting", Le(2));
  Put(Path("set_2"), "NThre", Le(12));
  presets.LoadSettingsAtStartup();
  EXPECT_EQ(settings.NThre.load(), 12);
  settings.NThre = 13;
  presets.SaveSettingsAtShutdown();
  EXPECT_EQ(Get(Path("set_2"), "NThre"), Le(13));
  EXPECT_TRUE(Get(Path("def_settings"), "NThre").empty());
}

TEST_F(RegistryPresets, OversizedValuesNeverSpillIntoAField) {
  Put(Path("def_settings"), "NThre", {1, 2, 3, 4, 5, 6, 7, 8});
  Put(Path("def_settings"), "Delay", {9});
  presets.LoadSettingsAtStartup();
  EXPECT_EQ(settings.NThre.load(), DefaultEngineSettings.NThre);
  EXPECT_EQ(settings.Delay.load(), DefaultEngineSettings.Delay);
}

}  // namespace
}  // namespace mimicore
