#include "settings/presets.h"

#include <atomic>
#include <bit>
#include <cmath>

#include "core/little_endian.h"

namespace mimicore {

namespace {

StoredBytes PackUint32(uint32_t v) {
  StoredBytes b{};
  PutLe32(b.data(), v);
  return b;
}

uint32_t UnpackUint32(const StoredBytes& b) { return GetLe32(b.data()); }

uint32_t QuietNaNBits(uint32_t bits) {
  constexpr uint32_t kExponent = 0x7F800000U;
  constexpr uint32_t kMantissa = 0x007FFFFFU;
  constexpr uint32_t kQuietBit = 0x00400000U;
  const bool isNaN = (bits & kExponent) == kExponent && (bits & kMantissa) != 0;
  return isNaN ? (bits | kQuietBit) : bits;
}

StoredBytes PackInt32(int32_t v) { return PackUint32(static_cast<uint32_t>(v)); }
int32_t UnpackInt32(const StoredBytes& b) { return static_cast<int32_t>(UnpackUint32(b)); }

void PutInt32(SettingsKey& key, const char* name, int32_t v) { key.Put(name, PackInt32(v)); }

void GetInt32(SettingsKey& key, const char* name, int32_t& field) {
  StoredBytes b{};
  if (key.Get(name, b)) {
    field = UnpackInt32(b);
  }
}

void GetInt32(SettingsKey& key, const char* name, std::atomic<int32_t>& field) {
  StoredBytes b{};
  if (key.Get(name, b)) {
    field.store(UnpackInt32(b));
  }
}

}  // namespace

int32_t SpeedToHundredths(float speed) {
  // A float times 100 is exact in double, so this is the true nearest
  // integer; the range checks come before any conversion to int.
  const double hundredths = std::round(static_cast<double>(speed) * 100.0);
  if (std::isnan(hundredths)) {
    return 0;
  }
  if (hundredths >= 2147483647.0) {
    return INT32_MAX;
  }
  if (hundredths <= -2147483648.0) {
    return INT32_MIN;
  }
  return static_cast<int32_t>(hundredths);
}

float HundredthsToSpeed(int32_t hundredths) { return static_cast<float>(hundredths) * 0.01F; }

std::string Presets::PresetKeyPath(const char* name) {
  return std::string(kProductKey) + "\\" + (name != nullptr ? name : "");
}

std::string Presets::NumberedPresetName(int32_t n) {
  // Decimal without leading zeros, as "set_%d" gives it.
  return "set_" + std::to_string(n);
}

void Presets::RememberLoaded(LoadedFloat& memory, const StoredBytes& raw, float produced) {
  memory.valid = true;
  memory.raw = raw;
  memory.producedBits = std::bit_cast<uint32_t>(produced);
}

bool Presets::StillLoaded(const LoadedFloat& memory, float current) {
  // Compared as bits: a NaN must match itself, and -0 must not match +0.
  // A signalling NaN may come back quietened from any trip through an x87
  // register, so both sides are compared in their quiet form.
  return memory.valid &&
         QuietNaNBits(std::bit_cast<uint32_t>(current)) == QuietNaNBits(memory.producedBits);
}

bool Presets::SaveAppSettings() {
  const auto key = store_.OpenForWriting(kProductKey);
  if (!key) {
    return false;
  }
  PutInt32(*key, "NumSettings", app_.NumSettings);
  PutInt32(*key, "CurSetting", app_.CurSetting);
  PutInt32(*key, "winx", app_.winx);
  PutInt32(*key, "winy", app_.winy);
  PutInt32(*key, "EchoGuard", settings_.EchoGuard.load());
  PutInt32(*key, "PreRoll", settings_.PreRoll.load());
  return true;
}

bool Presets::LoadAppSettings() {
  const auto key = store_.OpenForReading(kProductKey);
  if (!key) {
    app_.NumSettings = 0;
    return false;
  }
  GetInt32(*key, "NumSettings", app_.NumSettings);
  GetInt32(*key, "CurSetting", app_.CurSetting);
  GetInt32(*key, "winx", app_.winx);
  GetInt32(*key, "winy", app_.winy);
  GetInt32(*key, "EchoGuard", settings_.EchoGuard);
  GetInt32(*key, "PreRoll", settings_.PreRoll);
  return true;
}

bool Presets::SavePreset(const char* name) {
  if (name == nullptr) {
    return false;
  }
  const auto key = store_.OpenForWriting(PresetKeyPath(name).c_str());
  if (!key) {
    return false;
  }
  const float speed = settings_.Speed.load();
  key->Put("Speed", StillLoaded(loadedSpeed_, speed) ? loadedSpeed_.raw
                                                     : PackInt32(SpeedToHundredths(speed)));
  PutInt32(*key, "NThre", settings_.NThre.load());
  PutInt32(*key, "Echo", settings_.Echo.load());
  PutInt32(*key, "Delay", settings_.Delay.load());
  const float decay = settings_.Decay.load();
  key->Put("Decay", StillLoaded(loadedDecay_, decay) ? loadedDecay_.raw
                                                     : PackUint32(std::bit_cast<uint32_t>(decay)));
  PutInt32(*key, "Bpf", settings_.Bpf.load());
  PutInt32(*key, "SilenceTime", settings_.SilenceTime.load());
  PutInt32(*key, "peakThreshold", settings_.peakThreshold.load());
  PutInt32(*key, "Reverse", settings_.Reverse.load());
  PutInt32(*key, "oscilloDivisor", settings_.oscilloDivisor.load());
  return true;
}

bool Presets::LoadPreset(const char* name) {
  if (name == nullptr) {
    return false;
  }
  const auto key = store_.OpenForReading(PresetKeyPath(name).c_str());
  if (!key) {
    return false;
  }
  StoredBytes b{};
  if (key->Get("Speed", b)) {
    settings_.Speed.store(HundredthsToSpeed(UnpackInt32(b)));
    // Read back rather than taking the stored float: what is remembered must
    // be exactly what a later save will read from the field.
    RememberLoaded(loadedSpeed_, b, settings_.Speed.load());
  }
  GetInt32(*key, "NThre", settings_.NThre);
  GetInt32(*key, "Echo", settings_.Echo);
  GetInt32(*key, "Delay", settings_.Delay);
  if (key->Get("Decay", b)) {
    settings_.Decay.store(std::bit_cast<float>(UnpackUint32(b)));
    RememberLoaded(loadedDecay_, b, settings_.Decay.load());
  }
  GetInt32(*key, "Bpf", settings_.Bpf);
  GetInt32(*key, "SilenceTime", settings_.SilenceTime);
  GetInt32(*key, "peakThreshold", settings_.peakThreshold);
  GetInt32(*key, "Reverse", settings_.Reverse);
  GetInt32(*key, "oscilloDivisor", settings_.oscilloDivisor);
  return true;
}

bool Presets::SaveNumberedPreset(int32_t n) {
  if (n < 1 || n > app_.NumSettings) {
    return false;
  }
  return SavePreset(NumberedPresetName(n).c_str());
}

bool Presets::LoadNumberedPreset(int32_t n) {
  if (n < 1 || n > app_.NumSettings) {
    return false;
  }
  // An absent preset leaves the record as it is, which is still applied.
  LoadPreset(NumberedPresetName(n).c_str());
  applier_.ApplySettings();
  return true;
}

void Presets::LoadSettingsAtStartup() {
  LoadAppSettings();
  if (app_.NumSettings == 0) {
    LoadPreset(kDefaultPresetName);
  } else {
    LoadNumberedPreset(app_.CurSetting);
  }
  applier_.ApplySettings();
}

void Presets::SaveSettingsAtShutdown() {
  SaveAppSettings();
  if (app_.NumSettings >= 1) {
    SaveNumberedPreset(app_.CurSetting);
  } else {
    SavePreset(kDefaultPresetName);
  }
}

int32_t Presets::SaveAsNewPreset() {
  if (!CanSaveNewPreset(app_.NumSettings)) {
    return 0;
  }
  const int32_t n = app_.NumSettings + 1;
  if (!SavePreset(NumberedPresetName(n).c_str())) {
    return 0;
  }
  app_.NumSettings = n;
  app_.CurSetting = n;
  SaveAppSettings();
  return n;
}

bool Presets::SwitchToPreset(int32_t n) {
  const int32_t offered = PresetsOffered(app_.NumSettings);
  if (n < 1 || n > offered) {
    return false;
  }
  // Where shut-down would save them, short of a preset beyond set_9.
  if (app_.CurSetting >= 1 && app_.CurSetting <= offered) {
    SaveNumberedPreset(app_.CurSetting);
  }
  app_.CurSetting = n;
  LoadNumberedPreset(n);
  SaveAppSettings();
  return true;
}

}  // namespace mimicore
