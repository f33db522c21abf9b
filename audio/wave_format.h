// PCM formats as the wave devices take them, and the 44-byte header of a
// WAV file: the capture device's recording and the saved take share it.
#pragma once

#include <array>
#include <cstdint>

namespace mimicore {

struct PcmFormat {
  bool valid = false;  // block align and byte rate fit their fields
  uint16_t bitsPerSample = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSecond = 0;
  uint16_t blockAlign = 0;      // channels x bits / 8
  uint32_t bytesPerSecond = 0;  // block align x samples per second
};

PcmFormat MakePcmFormat(uint16_t bitsPerSample, uint16_t channels, uint32_t samplesPerSecond);

inline constexpr uint32_t kWavHeaderSize = 44;
// Both RIFF sizes must fit in 32 bits: data size N, RIFF size 36 + N.
inline constexpr uint64_t kWavMaxDataBytes = 0xFFFFFFFFULL - 36U;

// The header of a WAV file |fileLength| bytes long, header included:
// RIFF size L - 8, data size L - 44, the rest from |format|, little-endian.
// |fileLength| must lie between kWavHeaderSize and kWavHeaderSize +
// kWavMaxDataBytes.
std::array<uint8_t, kWavHeaderSize> MakeWavHeader(const PcmFormat& format, uint64_t fileLength);

}  // namespace mimicore
