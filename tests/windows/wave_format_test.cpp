#include "audio/wave_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace mimicore {
namespace {

TEST(WaveFormatTest, DerivedFieldsAndTheLargestHeader) {
  const PcmFormat odd = MakePcmFormat(12, 3, 8000);
  EXPECT_TRUE(odd.valid);
  EXPECT_EQ(odd.blockAlign, 4U);  // 36 bits, rounded down as the platform does
  EXPECT_EQ(odd.bytesPerSecond, 32000U);
  EXPECT_FALSE(MakePcmFormat(16, 65535, 44100).valid) << "block align beyond 16 bits";
  EXPECT_FALSE(MakePcmFormat(32, 2048, 0xFFFFFFFFU).valid) << "byte rate beyond 32 bits";

  const auto header = MakeWavHeader(MakePcmFormat(24, 2, 48000), 44 + kWavMaxDataBytes);
  const std::vector<uint8_t> expected = {
      'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A',  'V',  'E',  'f',  'm', 't',
      ' ', 16,  0,   0,   0,    1,    0,    2,    0,   0x80, 0xBB, 0,    0,    0,   0x65,
      4,   0,   6,   0,   24,   0,    'd',  'a',  't', 'a',  0xDB, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::vector<uint8_t>(header.begin(), header.end()), expected);
}

}  // namespace
}  // namespace mimicore
