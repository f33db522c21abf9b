#include "audio/wave_in_device_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>

#include "audio/wave_format.h"
#include "audio/wave_out_device_win.h"
#include "core/audio_block.h"
#include "tests/windows/audio_support.h"

namespace mimicore {
namespace {

using testing::CurrentAllocations;
using testing::WaitFor;

constexpr int32_t kSmallRing = 8;

// The handler is a plain function, so what it saw is global.
struct CaptureLog : testing::HandlerCalls {
  static constexpr uint32_t kMaxCalls = 4096;
  void Reset(DWORD testThread) {
    HandlerCalls::Reset(testThread);
    stamp = false;
    forwardTo = nullptr;
  }
  bool stamp = false;
  WaveOutDevice* forwardTo = nullptr;
  std::array<const char*, kMaxCalls> data{};
  std::array<uint32_t, kMaxCalls> bytesRecorded{};
  std::array<uint32_t, kMaxCalls> sizeArgument{};
};

CaptureLog g_log;

void OnBlock(WAVEHDR* header, uint32_t bufferSize) {
  const uint32_t call = g_log.Enter();
  if (call < CaptureLog::kMaxCalls) {
    g_log.data[call] = header->lpData;
    g_log.bytesRecorded[call] = static_cast<uint32_t>(header->dwBytesRecorded);
    g_log.sizeArgument[call] = bufferSize;
  }
  if (g_log.stamp) {
    // The file must hold the samples as the handler left them.
    reinterpret_cast<int16_t*>(header->lpData)[0] = static_cast<int16_t>(call);
  }
  if (g_log.forwardTo != nullptr) {
    g_log.forwardTo->Write(header->lpData, bufferSize);
  }
  g_log.Leave();
}

class WaveInDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(waveInGetNumDevs(), 0U) << testing::kNoSoundHint;
    g_log.Reset(GetCurrentThreadId());
  }

  static bool Open(WaveInDevice& device, const char* file = nullptr, int32_t ring = kSmallRing,
                   BlockHandler handler = &OnBlock) {
    return device.Open(file, 16, 1, kSampleRate, ring, kBlockBytes, handler);
  }

  static void ExpectEveryBufferHandedOverOnce(const WaveInDevice& device) {
    EXPECT_EQ(g_log.calls.load(), device.ReturnedBuffers());
    EXPECT_EQ(device.QueuedBuffers(), 0);
    g_log.ExpectOneAtATimeOffTheTestThread();
  }

  // The handler saw the ring's buffers in ring order, round after round,
  // each full.
  static void ExpectRingOrder(int32_t ringSize) {
    const uint32_t calls = std::min(g_log.calls.load(), CaptureLog::kMaxCalls);
    const auto n = static_cast<uint32_t>(ringSize);
    ASSERT_GE(calls, n);
    EXPECT_EQ(std::set<const char*>(g_log.data.begin(), g_log.data.begin() + n).size(), n);
    for (uint32_t k = 0; k < calls; ++k) {
      ASSERT_EQ(g_log.data[k], g_log.data[k % n]) << "call " << k;
      ASSERT_EQ(g_log.sizeArgument[k], kBlockBytes);
      ASSERT_EQ(g_log.bytesRecorded[k], kBlockBytes);
    }
  }
};

TEST_F(WaveInDeviceTest, RingRunsInOrderDrainsOnStopAndStartsAgain) {
  WaveInDevice device;
  device.Stop();  // closed: nothing to do
  EXPECT_FALSE(device.Start());
  ASSERT_TRUE(Open(device, nullptr, kBuffersPerDevice));
  device.Stop();  // open but not running
  ASSERT_TRUE(device.Start());
  EXPECT_FALSE(device.Start()) << "a second Start would queue buffers the platform holds";
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 8; }));
  device.Stop();
  EXPECT_FALSE(device.IsRunning());
  ExpectEveryBufferHandedOverOnce(device);
  // Stop waited for the whole queue, not just what had come back by then.
  EXPECT_GE(g_log.calls.load(), static_cast<uint32_t>(kBuffersPerDevice));
  ExpectRingOrder(kBuffersPerDevice);

  const uint32_t before = g_log.calls.load();
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([&] { return g_log.calls.load() >= before + 2; }));
  EXPECT_TRUE(device.Close());
  ExpectEveryBufferHandedOverOnce(device);
  EXPECT_EQ(device.BufferCount(), 0);
  EXPECT_TRUE(device.Close());
}

TEST_F(WaveInDeviceTest, BuffersCycleWithNoHandlerAndNoFile) {
  WaveInDevice device;
  ASSERT_TRUE(Open(device, nullptr, kSmallRing, nullptr));
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([&] { return device.ReturnedBuffers() >= 3 * kSmallRing; }));
  device.Stop();
  EXPECT_EQ(device.QueuedBuffers(), 0);
  EXPECT_TRUE(device.Close());
}

TEST_F(WaveInDeviceTest, WavFileHoldsEverythingRecordedAsTheHandlerLeftIt) {
  testing::ScratchFile file;
  WaveInDevice device;
  g_log.stamp = true;
  ASSERT_TRUE(Open(device, file.Path()));
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 2 * kSmallRing; }));
  ASSERT_TRUE(device.Close());
  ExpectEveryBufferHandedOverOnce(device);

  const std::vector<uint8_t> bytes = file.Read();
  const uint32_t calls = g_log.calls.load();
  ASSERT_EQ(bytes.size(), 44U + calls * kBlockBytes);
  const auto header = MakeWavHeader(MakePcmFormat(16, 1, kSampleRate), bytes.size());
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
  for (uint32_t k = 0; k < calls; ++k) {
    ASSERT_EQ(testing::Le16(bytes, 44 + size_t{k} * kBlockBytes), k) << "block " << k;
  }
}

TEST_F(WaveInDeviceTest, FileThatCannotBeWrittenIsReportedByClose) {
  WaveInDevice device;
  // Z: is the host's root under Wine; writes to this device fail.
  if (!Open(device, "Z:\\dev\\full")) {
    device.Close();
    GTEST_SKIP() << "no full device to write to here";
  }
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 4 * kSmallRing; }));
  EXPECT_FALSE(device.Close());
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(WaveInDeviceTest, FailedOpensAndReopensLeaveNothingBehind) {
  testing::ScratchFile file;
  const int64_t before = CurrentAllocations().liveBytes;
  {
    WaveInDevice device;
    EXPECT_FALSE(Open(device, "Z:\\no such folder\\take.wav"));
    EXPECT_FALSE(Open(device, nullptr, 0));
    EXPECT_FALSE(Open(device, nullptr, -5));
    EXPECT_FALSE(device.Open(nullptr, 16, 1, kSampleRate, kSmallRing, 0, &OnBlock));
    EXPECT_EQ(device.BufferCount(), 0);
    // A format no driver takes fails after the buffers were allocated.
    EXPECT_FALSE(device.Open(nullptr, 0, 1, kSampleRate, kSmallRing, kBlockBytes, &OnBlock));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(device.Start());
    device.Close();
    EXPECT_EQ(device.BufferCount(), 0);

    // Opening again releases the old ring and finishes the old file.
    ASSERT_TRUE(Open(device, file.Path()));
    const int64_t bigRing = CurrentAllocations().liveBytes - before;
    ASSERT_TRUE(Open(device, nullptr, 2));
    EXPECT_LT(CurrentAllocations().liveBytes - before, bigRing);
    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 6; }));
    device.Stop();
    ExpectRingOrder(2);
    EXPECT_TRUE(device.Close());
  }
  EXPECT_EQ(CurrentAllocations().liveBytes, before);
  const std::vector<uint8_t> bytes = file.Read();
  ASSERT_EQ(bytes.size(), 44U);
  EXPECT_EQ(testing::Le32(bytes, 4), 36U);
  EXPECT_EQ(testing::Le32(bytes, 40), 0U);
}

// Capture thread -> handler -> playback device, as the program runs.
TEST_F(WaveInDeviceTest, TheAudioPathAllocatesNothing) {
  WaveOutDevice playback;
  ASSERT_TRUE(playback.Open(16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, nullptr));
  g_log.forwardTo = &playback;
  WaveInDevice device;
  ASSERT_TRUE(Open(device));
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= kSmallRing; }));
  const uint32_t callsBefore = g_log.calls.load();
  const uint64_t allocationsBefore = CurrentAllocations().allocations;
  ASSERT_TRUE(WaitFor([&] { return g_log.calls.load() >= callsBefore + 3 * kSmallRing; }));
  EXPECT_EQ(CurrentAllocations().allocations, allocationsBefore);
  EXPECT_TRUE(device.Close());
  EXPECT_TRUE(playback.Close());
  EXPECT_GT(playback.ReturnedBuffers(), 3U * kSmallRing);
}

}  // namespace
}  // namespace mimicore
