// The keypad's level keys. A calibration may leave either level outside the
// range the keys move in; a key then moves it one step toward the range or
// into it, and never jumps the other way.
#pragma once

#include <cstdint>

namespace mimicore {

// Keypad + / -: steps of 32 within 32..32768; + brings a higher level down
// to 32768, - a lower one up to 32.
int32_t StepPeakLevel(int32_t level, bool up);

// Keypad * / /: steps of 512; * never leaves more than 32768, / never less
// than 512. Either end only bounds its own key.
int32_t StepOscilloscopeScale(int32_t divisor, bool up);

}  // namespace mimicore
