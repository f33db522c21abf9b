#include "audio/wave_out_device_win.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "core/audio_block.h"
#include "tests/windows/audio_support.h"

namespace mimicore {
namespace {

using testing::AllocationCounts;
using testing::CurrentAllocations;

constexpr uint32_t kRing = static_cast<uint32_t>(kBuffersPerDevice);

uint32_t Checksum(const char* data, uint32_t length) {
  uint32_t sum = 2166136261U;  // FNV-1a
  for (uint32_t i = 0; i < length; ++i) {
    sum = (sum ^ static_cast<uint8_t>(data[i])) * 16777619U;
  }
  return sum;
}

// What the done handler saw, in the order it saw it.
struct PlayLog : testing::HandlerCalls {
  static constexpr uint32_t kMaxCalls = 256;

  // Written by the handler; read after Close.
  std::array<const char*, kMaxCalls> data{};
  std::array<uint32_t, kMaxCalls> length{};
  std::array<uint32_t, kMaxCalls> checksum{};
  std::array<uint32_t, kMaxCalls> sizeArgument{};
};

PlayLog g_played;

void OnPlayed(WAVEHDR* header, uint32_t bufferSize) {
  const uint32_t call = g_played.Enter();
  if (call < PlayLog::kMaxCalls) {
    const auto length = static_cast<uint32_t>(header->dwBufferLength);
    g_played.data[call] = header->lpData;
    g_played.length[call] = length;
    g_played.checksum[call] = Checksum(header->lpData, length);
    g_played.sizeArgument[call] = bufferSize;
  }
  g_played.Leave();
}

class WaveOutDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(waveOutGetNumDevs(), 0U) << testing::kNoSoundHint;
    g_played.Reset(GetCurrentThreadId());
    source_.resize(size_t{kRing + 2} * kBlockBytes);
    for (size_t i = 0; i < source_.size(); ++i) {
      source_[i] = static_cast<char>(i * 7 + i / 251);
    }
  }

  bool OpenProgramRing(WaveOutDevice& device) {
    return device.Open(16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, &OnPlayed);
  }

  // After Close: the buffers played in the order written, each holding the
  // source from |offsets[k]| for |lengths[k]| bytes.
  void ExpectPlayed(const std::vector<uint32_t>& offsets, const std::vector<uint32_t>& lengths) {
    ASSERT_EQ(g_played.calls.load(), offsets.size());
    for (size_t k = 0; k < offsets.size(); ++k) {
      EXPECT_EQ(g_played.length[k], lengths[k]) << "buffer " << k;
      EXPECT_EQ(g_played.checksum[k], Checksum(source_.data() + offsets[k], lengths[k]))
          << "buffer " << k;
      EXPECT_EQ(g_played.sizeArgument[k], kBlockBytes);
    }
    g_played.ExpectOneAtATimeOffTheTestThread();
  }

  std::vector<char> source_;
};

TEST_F(WaveOutDeviceTest, WriteOfNothingQueuesNothing) {
  WaveOutDevice device;
  ASSERT_TRUE(OpenProgramRing(device));
  EXPECT_TRUE(device.Write(source_.data(), 0));
  EXPECT_TRUE(device.Write(nullptr, 0));
  EXPECT_EQ(device.NextBuffer(), 0U);
  EXPECT_EQ(device.QueuedBuffers(), 0);
  EXPECT_TRUE(device.Close());
  EXPECT_EQ(device.ReturnedBuffers(), 0U);
  ExpectPlayed({}, {});
}

TEST_F(WaveOutDeviceTest, ShortWriteQueuesOneBufferOfExactlyThatLength) {
  WaveOutDevice device;
  ASSERT_TRUE(OpenProgramRing(device));
  EXPECT_TRUE(device.Write(source_.data(), 1000));
  EXPECT_EQ(device.NextBuffer(), 1U);
  EXPECT_EQ(device.HeaderLength(0), 1000U);
  EXPECT_EQ(device.HeaderLength(1), 0U);
  EXPECT_TRUE(device.Close());
  ExpectPlayed({0}, {1000});
}

TEST_F(WaveOutDeviceTest, BlockWritesGoRoundTheRing) {
  WaveOutDevice device;
  ASSERT_TRUE(OpenProgramRing(device));
  std::vector<uint32_t> offsets;
  std::vector<uint32_t> lengths;
  for (uint32_t k = 0; k < kRing; ++k) {
    // Each block from a different place, so that a mix-up shows.
    const uint32_t offset = (k * 37 % kRing) * kBlockBytes;
    ASSERT_TRUE(device.Write(source_.data() + offset, kBlockBytes)) << "block " << k;
    EXPECT_EQ(device.NextBuffer(), (k + 1) % kRing);
    EXPECT_EQ(device.HeaderLength(static_cast<int32_t>(k)), kBlockBytes);
    offsets.push_back(offset);
    lengths.push_back(kBlockBytes);
  }
  EXPECT_EQ(device.NextBuffer(), 0U);
  EXPECT_TRUE(device.Close());
  ExpectPlayed(offsets, lengths);
}

TEST_F(WaveOutDeviceTest, LongWriteSpreadsOverSuccessiveBuffers) {
  WaveOutDevice device;
  ASSERT_TRUE(OpenProgramRing(device));
  ASSERT_TRUE(device.Write(source_.data(), 500));
  ASSERT_TRUE(device.Write(source_.data() + 500, 3 * kBlockBytes + 123));
  EXPECT_EQ(device.NextBuffer(), 5U);
  EXPECT_EQ(device.HeaderLength(1), kBlockBytes);
  EXPECT_EQ(device.HeaderLength(3), kBlockBytes);
  EXPECT_EQ(device.HeaderLength(4), 123U);
  EXPECT_TRUE(device.Close());
  ExpectPlayed({0, 500, 500 + kBlockBytes, 500 + 2 * kBlockBytes, 500 + 3 * kBlockBytes},
               {500, kBlockBytes, kBlockBytes, kBlockBytes, 123});
}

TEST_F(WaveOutDeviceTest, WriteBeyondTheRingFillsEachBufferOnceAndDropsTheRest) {
  WaveOutDevice device;
  ASSERT_TRUE(OpenProgramRing(device));
  EXPECT_FALSE(device.Write(source_.data(), (kRing + 1) * kBlockBytes + 9)) << "bytes were dropped";
  EXPECT_EQ(device.NextBuffer(), 0U);
  std::vector<uint32_t> offsets;
  for (uint32_t k = 0; k < kRing; ++k) {
    EXPECT_EQ(device.HeaderLength(static_cast<int32_t>(k)), kBlockBytes);
    offsets.push_back(k * kBlockBytes);
  }
  EXPECT_TRUE(device.Close());
  ExpectPlayed(offsets, std::vector<uint32_t>(kRing, kBlockBytes));
}

TEST_F(WaveOutDeviceTest, ABufferStillPlayingIsNeverOverwritten) {
  // Two buffers of one second each: the third write comes long before the
  // first buffer has played.
  constexpr uint32_t kSecond = 88200;
  std::vector<char> source(3 * kSecond);
  for (size_t i = 0; i < source.size(); ++i) {
    source[i] = static_cast<char>(i / kSecond + 1);
  }
  WaveOutDevice device;
  ASSERT_TRUE(device.Open(16, 1, kSampleRate, 2, kSecond, &OnPlayed));
  ASSERT_TRUE(device.Write(source.data(), kSecond));
  ASSERT_TRUE(device.Write(source.data() + kSecond, kSecond));
  EXPECT_FALSE(device.Write(source.data() + 2 * kSecond, kSecond));
  EXPECT_EQ(device.NextBuffer(), 0U) << "the next write goes to the buffer still playing";
  EXPECT_TRUE(device.Close());
  ASSERT_EQ(g_played.calls.load(), 2U);
  EXPECT_EQ(g_played.checksum[0], Checksum(source.data(), kSecond));
  EXPECT_EQ(g_played.checksum[1], Checksum(source.data() + kSecond, kSecond));
}

TEST_F(WaveOutDeviceTest, CursorSurvivesCloseButNotASmallerRing) {
  WaveOutDevice device;
  EXPECT_FALSE(device.Write(source_.data(), 10)) << "closed";
  ASSERT_TRUE(OpenProgramRing(device));
  ASSERT_TRUE(device.Write(source_.data(), 3 * kBlockBytes));
  EXPECT_TRUE(device.Close());
  EXPECT_EQ(device.NextBuffer(), 3U);
  EXPECT_FALSE(device.Write(source_.data(), 10)) << "closed";
  EXPECT_EQ(device.NextBuffer(), 3U);

  ASSERT_TRUE(OpenProgramRing(device));
  EXPECT_EQ(device.NextBuffer(), 3U);
  ASSERT_TRUE(device.Open(16, 1, kSampleRate, 2, kBlockBytes, &OnPlayed));
  EXPECT_EQ(device.NextBuffer(), 0U);
  ASSERT_TRUE(device.Write(source_.data(), 10));
  EXPECT_EQ(device.HeaderLength(0), 10U);
  EXPECT_TRUE(device.Close());
}

TEST_F(WaveOutDeviceTest, CloseAfterAFailedOpenLeavesNothingBehind) {
  const AllocationCounts before = CurrentAllocations();
  {
    WaveOutDevice device;
    EXPECT_FALSE(device.Open(0, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, &OnPlayed));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.BufferCount(), kBuffersPerDevice);
    EXPECT_FALSE(device.Write(source_.data(), kBlockBytes));
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.BufferCount(), 0);
    EXPECT_FALSE(device.Open(16, 1, kSampleRate, 0, kBlockBytes, nullptr));
    EXPECT_FALSE(device.Open(16, 1, kSampleRate, kBuffersPerDevice, 0, nullptr));
    EXPECT_FALSE(device.Open(16, 65535, 0xFFFFFFFFU, kBuffersPerDevice, kBlockBytes, nullptr));
    EXPECT_EQ(device.BufferCount(), 0);
  }
  {
    WaveOutDevice device;
    ASSERT_TRUE(OpenProgramRing(device));
    ASSERT_TRUE(OpenProgramRing(device));
    ASSERT_TRUE(device.Write(source_.data(), kBlockBytes));
    // The destructor closes, after the queued block has played.
  }
  EXPECT_EQ(CurrentAllocations().liveBytes, before.liveBytes);
  EXPECT_EQ(g_played.calls.load(), 1U);
}

}  // namespace
}  // namespace mimicore
