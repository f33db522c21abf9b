// AUTOMODE: the level scale, noise threshold and oscilloscope scale derived
// from the loudest and quietest absolute samples heard while measuring.
#pragma once

#include <cstdint>

namespace mimicore {

inline constexpr const char* kCalibrationPrompt =
    "PLEASE,\n\nSAY: 'HELLO, MIMICORE!'\n\nAND PRESS\nTHE AUTOMODE\nBUTTON AGAIN.";
inline constexpr const char* kCalibrationNothingHeard = "NOTHING HEARD";

enum AutoModeState : int32_t {
  kAutoIdle = 0,
  kAutoStart = 1,
  kAutoMeasuring = 2,
  kAutoFinish = 3,
};

struct CalibrationResult {
  bool measured;  // false: no spread was heard, the built-in levels are used
  int32_t peakThreshold;
  int32_t NThre;
  int32_t oscilloDivisor;
};

// range = calMax - calMin. A range below 1 (a silent input, or no block
// measured at all) cannot scale anything; the result then falls back to the
// built-in levels instead of dividing by zero.
CalibrationResult FinishCalibration(int32_t calMax, int32_t calMin);

}  // namespace mimicore
