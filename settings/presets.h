// The settings record and the application values as presets in the
// per-user store: loaded once at start-up, saved once at shut-down.
//
// Product key "SOFTWARE\\Quorvane\\Mimicore" holds "NumSettings",
// "CurSetting", "winx", "winy", "EchoGuard", "PreRoll"; each preset is a subkey of it
// ("def_settings", "set_1", ...) holding the ten record values. Every value
// is four bytes, little-endian: int32, except "Speed" (int32 hundredths) and
// "Decay" (float bits).
//
// Values are taken from the store as they are; the engine copes with any of
// them. A save writes back exactly the bytes a field was loaded from as long
// as the field still holds what they produced, so a value the program cannot
// represent (a speed too large for a float round trip, a NaN decay) is
// never lost or altered by merely running the program.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "settings/engine_settings.h"
#include "settings/settings_store.h"

namespace mimicore {

inline constexpr const char* kProductKey = "SOFTWARE\\Quorvane\\Mimicore";
inline constexpr const char* kDefaultPresetName = "def_settings";
// Numbered presets the program itself makes and switches to: set_1 ... set_9.
inline constexpr int32_t kLastNumberedPreset = 9;
// How many numbered presets there are to switch to, for any stored count.
inline int32_t PresetsOffered(int32_t numSettings) {
  return std::clamp(numSettings, 0, kLastNumberedPreset);
}
// Whether a new preset has a number left (set_1 ... set_9).
inline bool CanSaveNewPreset(int32_t numSettings) {
  return numSettings >= 0 && numSettings < kLastNumberedPreset;
}

// Speed as whole hundredths: the nearest integer to speed x 100, halves away
// from zero; NaN gives 0 and anything beyond int32 saturates.
int32_t SpeedToHundredths(float speed);
// The inverse the speed slider uses as well: n x 0.01 in single precision.
float HundredthsToSpeed(int32_t hundredths);

// Only the window thread may use it. The record's fields are written one by
// one: a block the capture thread handles during a load (a preset switch)
// may see some fields old and some new, as during a reset.
class Presets {
 public:
  Presets(EngineSettings& settings, AppSettings& app, SettingsStore& store,
          SettingsApplier& applier)
      : settings_(settings), app_(app), store_(store), applier_(applier) {}

  // False when the product key cannot be opened or created. A load from an
  // absent key sets NumSettings to 0 and leaves the other three values.
  bool SaveAppSettings();
  bool LoadAppSettings();

  // False when the preset key cannot be created / does not exist. A value
  // missing from the key (or not four bytes) leaves its field unchanged.
  // Loading does not apply the settings.
  bool SavePreset(const char* name);
  bool LoadPreset(const char* name);

  // Only for 1 <= n <= NumSettings, else false and nothing touched. The
  // load applies the settings and is true even if the preset was absent.
  bool SaveNumberedPreset(int32_t n);
  bool LoadNumberedPreset(int32_t n);

  // The preset chosen by NumSettings / CurSetting (def_settings when
  // NumSettings is 0 at start-up, or below 1 at shut-down).
  void LoadSettingsAtStartup();
  void SaveSettingsAtShutdown();

  // The current settings become a new numbered preset, set_N with
  // N = NumSettings + 1, which is made current; it and the application
  // values are written at once. Only while NumSettings is 0 .. 8 (presets
  // 1 .. 9), else 0 and nothing written; otherwise N.
  int32_t SaveAsNewPreset();
  // Switches to preset n, for 1 <= n <= min(NumSettings, 9): the current
  // settings are first saved into the current preset, as shut-down would
  // (not when CurSetting is outside 1 .. min(NumSettings, 9)), then n is
  // loaded, applied, made current and the application values written.
  // False, nothing touched, for any other n.
  bool SwitchToPreset(int32_t n);

  [[nodiscard]] static std::string PresetKeyPath(const char* name);
  [[nodiscard]] static std::string NumberedPresetName(int32_t n);

 private:
  // The bytes a float field was last loaded from, and the field's bits
  // right after that load.
  struct LoadedFloat {
    bool valid = false;
    StoredBytes raw{};
    uint32_t producedBits = 0;
  };

  static void RememberLoaded(LoadedFloat& memory, const StoredBytes& raw, float produced);
  [[nodiscard]] static bool StillLoaded(const LoadedFloat& memory, float current);

  EngineSettings& settings_;
  AppSettings& app_;
  SettingsStore& store_;
  SettingsApplier& applier_;
  LoadedFloat loadedSpeed_;
  LoadedFloat loadedDecay_;
};

}  // namespace mimicore
