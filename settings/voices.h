// Built-in voices: recipes for the six effect fields (speed, echo, echo
// delay and decay, band-pass, reverse). A voice never touches the levels
// (peak level, threshold, silence time, oscilloscope scale), which belong to
// the user's microphone and room.
#pragma once

#include <array>
#include <cstdint>

#include "settings/engine_settings.h"

namespace mimicore {

struct Voice {
  const char* menuText;    // with its access key
  const char* statusName;  // as the display shows it
  float speed;
  int32_t echo;
  int32_t delay;  // the stored Delay field, as the panel shows it
  float decay;
  int32_t bpf;
  int32_t reverse;
};

// Every field a recipe does not name keeps Plain's value.
inline constexpr std::array<Voice, 7> kVoices{{
    {"&Chipmunk", "CHIPMUNK", 2.0F, 0, 150, 0.4F, 0, 0},
    {"&Giant", "GIANT", 0.6F, 0, 150, 0.4F, 0, 0},
    {"&Telephone", "TELEPHONE", 1.0F, 0, 150, 0.4F, 1520, 0},
    {"C&ave", "CAVE", 1.0F, 1, 150, 0.6F, 0, 0},
    {"&Robot", "ROBOT", 1.0F, 1, 6, 0.8F, 0, 0},
    {"&Backwards", "BACKWARDS", 1.0F, 0, 150, 0.4F, 0, 1},
    {"&Plain", "PLAIN", 1.0F, 0, 150, 0.4F, 0, 0},
}};

// Sets the six effect fields of |settings| from |voice|; the caller applies.
void ApplyVoice(const Voice& voice, EngineSettings& settings);

}  // namespace mimicore
