// The audio block format the whole program shares.
#pragma once

#include <cstdint>

namespace mimicore {

inline constexpr uint32_t kSampleRate = 44100;
inline constexpr uint32_t kBlockSamples = 880;
inline constexpr uint32_t kBlockBytes = kBlockSamples * 2;

// The engine accepts other buffer sizes too (only 1760 bytes is used by the
// program); anything larger than this is handled up to this many samples.
inline constexpr uint32_t kMaxBlockSamples = 8192;

}  // namespace mimicore
