#include "audio/wave_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/windows/audio_support.h"

namespace mimicore {
namespace {

TEST(WaveFormatTest, DerivesBlockAlignAndByteRate) {
  const PcmFormat mono = MakePcmFormat(16, 1, 44100);
  EXPECT_TRUE(mono.valid);
  EXPECT_EQ(mono.blockAlign, 2U);
  EXPECT_EQ(mono.bytesPerSecond, 88200U);

  const PcmFormat odd = MakePcmFormat(12, 3, 8000);
  EXPECT_TRUE(odd.valid);
  EXPECT_EQ(odd.blockAlign, 4U);  // 36 bits, rounded down as the platform does
  EXPECT_EQ(odd.bytesPerSecond, 32000U);

  EXPECT_FALSE(MakePcmFormat(16, 65535, 44100).valid) << "block align beyond 16 bits";
  EXPECT_FALSE(MakePcmFormat(32, 2048, 0xFFFFFFFFU).valid) << "byte rate beyond 32 bits";
}

TEST(WaveFormatTest, HeaderSizesComeFromTheFileLength) {
  const PcmFormat format = MakePcmFormat(24, 2, 48000);
  for (const uint64_t length :
       {uint64_t{44}, uint64_t{44 + 1760}, uint64_t{44} + kWavMaxDataBytes}) {
    SCOPED_TRACE(length);
    const auto array = MakeWavHeader(format, length);
    testing::ExpectWavHeader(std::vector<uint8_t>(array.begin(), array.end()),
                             {.channels = 2,
                              .samplesPerSecond = 48000,
                              .bytesPerSecond = 288000,
                              .blockAlign = 6,
                              .bitsPerSample = 24,
                              .dataBytes = length - 44});
  }
}

}  // namespace
}  // namespace mimicore
