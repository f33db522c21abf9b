// In-place radix-2 decimation-in-time FFT on 16-bit fixed-point complex
// data, Q15 twiddles from a three-quarter-wave sine table.
#pragma once

#include <array>
#include <cstdint>

namespace mimicore {

inline constexpr int kFftMaxLog2 = 10;  // the sine table covers 1024 points

// Entry i = trunc(32767 sin(2 pi i / 1024)), i = 0..767.
const std::array<int16_t, 768>& SineTable();

// Transforms re + i im of 2^m points in place. Returns -1 (and changes
// nothing) when 2^m exceeds 1024 or m is negative; otherwise the number of
// passes the inverse transform halved to avoid overflow (0 forward).
int32_t FixedFft(int16_t* re, int16_t* im, int32_t m, int32_t inverse);

}  // namespace mimicore
