#include "settings/engine_settings.h"

namespace mimicore {

EngineSettingsValues EngineSettings::Load() const {
  return {
      peakThreshold.load(), NThre.load(), SilenceTime.load(), Speed.load(),   Echo.load(),
      Delay.load(),         Decay.load(), Bpf.load(),         Reverse.load(), oscilloDivisor.load(),
  };
}

void EngineSettings::Store(const EngineSettingsValues& v) {
  peakThreshold.store(v.peakThreshold);
  NThre.store(v.NThre);
  SilenceTime.store(v.SilenceTime);
  Speed.store(v.Speed);
  Echo.store(v.Echo);
  Delay.store(v.Delay);
  Decay.store(v.Decay);
  Bpf.store(v.Bpf);
  Reverse.store(v.Reverse);
  oscilloDivisor.store(v.oscilloDivisor);
}

void ResetSettings(EngineSettings& settings, SettingsApplier& applier) {
  EngineSettingsValues v = DefaultEngineSettings;
  v.peakThreshold = settings.peakThreshold.load();
  v.oscilloDivisor = settings.oscilloDivisor.load();
  settings.Store(v);
  applier.ApplySettings();
}

}  // namespace mimicore
