// The one settings record that steers the voice engine, shared between the
// window thread and the capture thread. Every field is an atomic so that a
// reader on either thread always sees a whole value; a multi-field change
// (reset, calibration, preset load) may still be seen field by field.
#pragma once

#include <atomic>
#include <cstdint>

namespace mimicore {

// A plain copy of the record: the built-in defaults, stored presets and
// snapshots are values of this type.
struct EngineSettingsValues {
  int32_t peakThreshold;
  int32_t NThre;
  int32_t SilenceTime;
  float Speed;
  int32_t Echo;
  int32_t Delay;
  float Decay;
  int32_t Bpf;
  int32_t Reverse;
  int32_t oscilloDivisor;

  friend bool operator==(const EngineSettingsValues&, const EngineSettingsValues&) = default;
};

inline constexpr EngineSettingsValues DefaultEngineSettings{
    4096, 40, 600, 1.0F, 0, 150, 0.4F, 0, 0, 32768,
};

struct EngineSettings {
  std::atomic<int32_t> peakThreshold;
  std::atomic<int32_t> NThre;
  std::atomic<int32_t> SilenceTime;
  std::atomic<float> Speed;
  std::atomic<int32_t> Echo;
  std::atomic<int32_t> Delay;
  std::atomic<float> Decay;
  std::atomic<int32_t> Bpf;
  std::atomic<int32_t> Reverse;
  std::atomic<int32_t> oscilloDivisor;
  // Kept in the product key beside the application values, not in a preset,
  // and never reset: how the engine treats its own playback in the
  // microphone. Stored bytes are kept as they are; the engine reads them as
  // 0 off / anything else on, and as milliseconds clamped to 0..500.
  std::atomic<int32_t> EchoGuard{1};
  std::atomic<int32_t> PreRoll{0};

  EngineSettings() { Store(DefaultEngineSettings); }
  explicit EngineSettings(const EngineSettingsValues& v) { Store(v); }
  EngineSettings(const EngineSettings&) = delete;
  EngineSettings& operator=(const EngineSettings&) = delete;

  [[nodiscard]] EngineSettingsValues Load() const;
  void Store(const EngineSettingsValues& v);
};

// A window place never stored: the windows open centred.
inline constexpr int32_t kNoWindowPosition = -1234;

// The four application values kept beside the record. Only the window
// thread touches them.
struct AppSettings {
  int32_t NumSettings = 0;
  int32_t CurSetting = 0;
  int32_t winx = kNoWindowPosition;
  int32_t winy = kNoWindowPosition;
};

// Whatever brings the derived state (controls, filter) in line with the
// record after it changed as a whole.
class SettingsApplier {
 public:
  virtual ~SettingsApplier() = default;
  virtual void ApplySettings() = 0;
};

// Restores the defaults but keeps the two levels the user tunes by keyboard
// or calibration (peakThreshold, oscilloDivisor), then applies.
void ResetSettings(EngineSettings& settings, SettingsApplier& applier);

}  // namespace mimicore
