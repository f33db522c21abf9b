#include "settings/voices.h"

namespace mimicore {

void ApplyVoice(const Voice& voice, EngineSettings& settings) {
  settings.Speed.store(voice.speed);
  settings.Echo.store(voice.echo);
  settings.Delay.store(voice.delay);
  settings.Decay.store(voice.decay);
  settings.Bpf.store(voice.bpf);
  settings.Reverse.store(voice.reverse);
}

}  // namespace mimicore
