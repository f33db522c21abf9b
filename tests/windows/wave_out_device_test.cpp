#include "audio/wave_out_device_win.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "core/audio_block.h"
#include "tests/windows/audio_support.h"

namespace mimicore {
namespace {

constexpr uint32_t kRing = static_cast<uint32_t>(kBuffersPerDevice);

uint32_t Checksum(const char* data, uint32_t length) {
  uint32_t sum = 2166136261U;  // FNV-1a
  for (uint32_t i = 0; i < length; ++i) {
    sum = (sum ^ static_cast<uint8_t>(data[i])) * 16777619U;
  }
  return sum;
}

struct PlayLog : testing::HandlerCalls {
  static constexpr uint32_t kMaxCalls = 256;
  std::array<uint32_t, kMaxCalls> length{};
  std::array<uint32_t, kMaxCalls> checksum{};
  std::array<uint32_t, kMaxCalls> sizeArgument{};
};

PlayLog g_played;

void OnPlayed(WAVEHDR* header, uint32_t bufferSize) {
  const uint32_t call = g_played.Enter();
  if (call < PlayLog::kMaxCalls) {
    const auto length = static_cast<uint32_t>(header->dwBufferLength);
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

  std::vector<char> source_;
};

TEST_F(WaveOutDeviceTest, WritesFillTheRingInOrderAndDropOnlyWhatDoesNotFit) {
  struct Write {
    uint32_t offset, length;
    bool accepted;
  };
  // A buffer played: the source from |offset| for |length| bytes.
  struct Played {
    uint32_t offset, length;
  };
  struct Case {
    const char* name;
    std::vector<Write> writes;
    uint32_t next;
    std::vector<Played> played;
  };
  const uint32_t b = kBlockBytes;
  Case ringOnce{"each block from elsewhere, round the ring", {}, 0, {}};
  Case beyond{"beyond the ring", {{0, (kRing + 1) * b + 9, false}}, 0, {}};
  for (uint32_t k = 0; k < kRing; ++k) {
    const uint32_t offset = (k * 37 % kRing) * b;
    ringOnce.writes.push_back({offset, b, true});
    ringOnce.played.push_back({offset, b});
    beyond.played.push_back({k * b, b});
  }
  const Case cases[] = {
      {"nothing", {{0, 0, true}}, 0, {}},
      {"short", {{0, 1000, true}}, 1, {{0, 1000}}},
      {"long, spread over buffers",
       {{0, 500, true}, {500, 3 * b + 123, true}},
       5,
       {{0, 500}, {500, b}, {500 + b, b}, {500 + 2 * b, b}, {500 + 3 * b, 123}}},
      ringOnce,
      beyond,
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_played.Reset(GetCurrentThreadId());
    WaveOutDevice device;
    ASSERT_TRUE(OpenProgramRing(device));
    for (const Write& w : c.writes) {
      EXPECT_EQ(device.Write(source_.data() + w.offset, w.length), w.accepted);
    }
    EXPECT_EQ(device.NextBuffer(), c.next);
    EXPECT_TRUE(device.Close());
    ASSERT_EQ(g_played.calls.load(), c.played.size());
    for (size_t k = 0; k < c.played.size(); ++k) {
      const Played& p = c.played[k];
      EXPECT_EQ(g_played.length[k], p.length) << "buffer " << k;
      EXPECT_EQ(g_played.checksum[k], Checksum(source_.data() + p.offset, p.length)) << k;
      EXPECT_EQ(g_played.sizeArgument[k], kBlockBytes);
    }
    g_played.ExpectOneAtATimeOffTheTestThread();
  }
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
  EXPECT_FALSE(device.Write(source_.data(), 10)) << "closed";
  ASSERT_TRUE(OpenProgramRing(device));
  EXPECT_EQ(device.NextBuffer(), 3U);
  ASSERT_TRUE(device.Open(16, 1, kSampleRate, 2, kBlockBytes, &OnPlayed));
  EXPECT_EQ(device.NextBuffer(), 0U);
  ASSERT_TRUE(device.Write(source_.data(), 10));
  EXPECT_EQ(device.HeaderLength(0), 10U);
  EXPECT_TRUE(device.Close());
}

TEST_F(WaveOutDeviceTest, FailedOpensLeaveNothingAndTheDestructorPlaysWhatIsQueued) {
  const int64_t before = testing::CurrentAllocations().liveBytes;
  {
    WaveOutDevice device;
    EXPECT_FALSE(device.Open(0, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, &OnPlayed));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(device.Write(source_.data(), kBlockBytes));
    device.Close();
    EXPECT_EQ(device.BufferCount(), 0);
    EXPECT_FALSE(device.Open(16, 1, kSampleRate, 0, kBlockBytes, nullptr));
    EXPECT_FALSE(device.Open(16, 1, kSampleRate, kBuffersPerDevice, 0, nullptr));
    EXPECT_FALSE(device.Open(16, 65535, 0xFFFFFFFFU, kBuffersPerDevice, kBlockBytes, nullptr));
    EXPECT_EQ(device.BufferCount(), 0);
    ASSERT_TRUE(OpenProgramRing(device));
    ASSERT_TRUE(OpenProgramRing(device));
    ASSERT_TRUE(device.Write(source_.data(), kBlockBytes));
  }
  EXPECT_EQ(testing::CurrentAllocations().liveBytes, before);
  EXPECT_EQ(g_played.calls.load(), 1U);
}

}  // namespace
}  // namespace mimicore
