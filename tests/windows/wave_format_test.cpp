#include "audio/wave_format.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/windows/audio_support.h"

namespace mimicore {
namespace {

using testing::Le16;
using testing::Le32;
using testing::Tag;

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
    const auto array = MakeWavHeader(format, length);
    const std::vector<uint8_t> h(array.begin(), array.end());
    EXPECT_EQ(Tag(h, 0), "RIFF");
    EXPECT_EQ(Le32(h, 4), length - 8);
    EXPECT_EQ(Tag(h, 8), "WAVE");
    EXPECT_EQ(Tag(h, 12), "fmt ");
    EXPECT_EQ(Le32(h, 16), 16U);
    EXPECT_EQ(Le16(h, 20), 1U);
    EXPECT_EQ(Le16(h, 22), 2U);
    EXPECT_EQ(Le32(h, 24), 48000U);
    EXPECT_EQ(Le32(h, 28), 288000U);
    EXPECT_EQ(Le16(h, 32), 6U);
    EXPECT_EQ(Le16(h, 34), 24U);
    EXPECT_EQ(Tag(h, 36), "data");
    EXPECT_EQ(Le32(h, 40), length - 44);
  }
}

}  // namespace
}  // namespace mimicore
