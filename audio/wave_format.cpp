#include "audio/wave_format.h"

#include "core/little_endian.h"

namespace mimicore {
namespace {

void PutTag(uint8_t* at, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<uint8_t>(tag[i]);
  }
}

}  // namespace

PcmFormat MakePcmFormat(uint16_t bitsPerSample, uint16_t channels, uint32_t samplesPerSecond) {
  PcmFormat f;
  f.bitsPerSample = bitsPerSample;
  f.channels = channels;
  f.samplesPerSecond = samplesPerSecond;
  const uint32_t blockAlign = uint32_t{channels} * bitsPerSample / 8U;
  const uint64_t bytesPerSecond = uint64_t{blockAlign} * samplesPerSecond;
  f.blockAlign = static_cast<uint16_t>(blockAlign);
  f.bytesPerSecond = static_cast<uint32_t>(bytesPerSecond);
  f.valid = blockAlign <= 0xFFFFU && bytesPerSecond <= 0xFFFFFFFFU;
  return f;
}

std::array<uint8_t, kWavHeaderSize> MakeWavHeader(const PcmFormat& format, uint64_t fileLength) {
  std::array<uint8_t, kWavHeaderSize> h{};
  uint8_t* p = h.data();
  PutTag(p, "RIFF");
  PutLe32(p + 4, static_cast<uint32_t>(fileLength - 8));
  PutTag(p + 8, "WAVE");
  PutTag(p + 12, "fmt ");
  PutLe32(p + 16, 16);
  PutLe16(p + 20, 1);  // PCM
  PutLe16(p + 22, format.channels);
  PutLe32(p + 24, format.samplesPerSecond);
  PutLe32(p + 28, format.bytesPerSecond);
  PutLe16(p + 32, format.blockAlign);
  PutLe16(p + 34, format.bitsPerSample);
  PutTag(p + 36, "data");
  PutLe32(p + 40, static_cast<uint32_t>(fileLength - kWavHeaderSize));
  return h;
}

}  // namespace mimicore
