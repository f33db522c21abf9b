// WAV files in the program's one audio format: RIFF/WAVE, PCM, mono,
// 16-bit, 44100 Hz, every field little-endian whatever the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/wave_format.h"

namespace mimicore {

// The RIFF size field (36 + 2 x count) must not wrap.
inline constexpr uint32_t kWavMaxSamples = static_cast<uint32_t>(kWavMaxDataBytes / 2U);

// The 44-byte header in front of |count| samples, count at most
// kWavMaxSamples.
std::array<uint8_t, kWavHeaderSize> WavHeader(uint32_t count);

// Writes the header and the samples to |path| (created, or truncated when
// it exists). False when |samples| is null, |count| is 0 or above
// kWavMaxSamples, the file cannot be opened, or a write or the close fails;
// a file that could not be finished is removed rather than left short.
bool WriteWavFile(const char* path, const int16_t* samples, uint32_t count);

// The name a take is saved under: |chosen| as it is when the file's own
// name (after the last '\\' or '/') holds a dot, else with ".wav" added.
// Writes the terminated result to |out| (which may be |chosen|). False, with
// |out| left alone, when |chosen| is null or empty or the result does not
// fit in |capacity| bytes.
bool WavFileName(const char* chosen, char* out, size_t capacity);

// Strict reader: accepts PCM (plain, or extensible with the PCM subformat),
// mono, 16-bit, 44100 Hz, and nothing else. Chunks may come in any order;
// unknown ones are skipped. On failure |error| names the problem in a few
// words and |samples| is left empty.
bool ParseWav(std::span<const uint8_t> bytes, std::vector<int16_t>& samples, std::string& error);
bool ReadWavFile(const char* path, std::vector<int16_t>& samples, std::string& error);

}  // namespace mimicore
