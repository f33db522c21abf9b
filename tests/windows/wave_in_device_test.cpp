#include "audio/wave_in_device_win.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>

#include "audio/wave_out_device_win.h"
#include "core/audio_block.h"
#include "tests/windows/audio_support.h"

namespace mimicore {
namespace {

using testing::AllocationCounts;
using testing::CurrentAllocations;
using testing::Le16;
using testing::Le32;
using testing::ScratchFile;
using testing::WaitFor;

constexpr int32_t kSmallRing = 8;

// What the block handler saw. The handler is a plain function, so this is
// global; each test starts it afresh.
struct CaptureLog : testing::HandlerCalls {
  static constexpr uint32_t kMaxCalls = 4096;

  void Reset(DWORD testThread) {
    HandlerCalls::Reset(testThread);
    stamp = false;
    forwardTo = nullptr;
  }

  // Set before Start, read by the handler.
  bool stamp = false;
  WaveOutDevice* forwardTo = nullptr;
  // Written by the handler; read once the device has every buffer back.
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

  bool OpenSmall(WaveInDevice& device, const char* file = nullptr,
                 BlockHandler handler = &OnBlock) {
    return device.Open(file, 16, 1, kSampleRate, kSmallRing, kBlockBytes, handler);
  }

  static void ExpectEveryBufferHandedOverOnce(const WaveInDevice& device) {
    const uint32_t calls = g_log.calls.load();
    EXPECT_EQ(calls, device.ReturnedBuffers());
    EXPECT_EQ(device.QueuedBuffers(), 0);
    g_log.ExpectOneAtATimeOffTheTestThread();
  }

  // The handler saw the ring's buffers in ring order, round after round.
  static void ExpectRingOrder(int32_t ringSize) {
    const uint32_t calls = std::min(g_log.calls.load(), CaptureLog::kMaxCalls);
    const auto n = static_cast<uint32_t>(ringSize);
    ASSERT_GE(calls, n);
    const std::set<const char*> firstRound(g_log.data.begin(), g_log.data.begin() + n);
    EXPECT_EQ(firstRound.size(), n);
    for (uint32_t k = n; k < calls; ++k) {
      ASSERT_EQ(g_log.data[k], g_log.data[k - n]) << "call " << k;
    }
  }
};

TEST_F(WaveInDeviceTest, RunsTheRingRoundAfterRoundAndStopsWithEveryBufferBack) {
  WaveInDevice device;
  ASSERT_TRUE(OpenSmall(device));
  EXPECT_TRUE(device.IsOpen());
  EXPECT_EQ(device.QueuedBuffers(), 0);
  ASSERT_TRUE(device.Start());
  EXPECT_TRUE(device.IsRunning());
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 4 * kSmallRing; }));
  device.Stop();
  EXPECT_FALSE(device.IsRunning());
  EXPECT_TRUE(device.IsOpen());

  ExpectEveryBufferHandedOverOnce(device);
  ExpectRingOrder(kSmallRing);
  const uint32_t calls = g_log.calls.load();
  for (uint32_t k = 0; k < calls; ++k) {
    ASSERT_EQ(g_log.sizeArgument[k], kBlockBytes);
    ASSERT_EQ(g_log.bytesRecorded[k], kBlockBytes);
  }
  EXPECT_TRUE(device.Close());
  EXPECT_FALSE(device.IsOpen());
  EXPECT_EQ(device.BufferCount(), 0);
}

TEST_F(WaveInDeviceTest, TheProgramsRingDrainsCompletelyOnStop) {
  WaveInDevice device;
  ASSERT_TRUE(device.Open(nullptr, 16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, &OnBlock));
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 8; }));
  device.Stop();
  ExpectEveryBufferHandedOverOnce(device);
  // Stop waited for the whole queue, not just what had come back by then.
  EXPECT_GE(g_log.calls.load(), static_cast<uint32_t>(kBuffersPerDevice));
  ExpectRingOrder(kBuffersPerDevice);

  // A stopped device starts again with the whole ring.
  const uint32_t before = g_log.calls.load();
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([&] { return g_log.calls.load() >= before + 2; }));
  EXPECT_TRUE(device.Close());
  ExpectEveryBufferHandedOverOnce(device);
}

TEST_F(WaveInDeviceTest, BuffersCycleWithNoHandlerAndNoFile) {
  WaveInDevice device;
  ASSERT_TRUE(OpenSmall(device, nullptr, nullptr));
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([&] { return device.ReturnedBuffers() >= 3 * kSmallRing; }));
  EXPECT_GT(device.QueuedBuffers(), 0);
  device.Stop();
  EXPECT_EQ(device.QueuedBuffers(), 0);
  EXPECT_EQ(g_log.calls.load(), 0U);
  EXPECT_TRUE(device.Close());
}

TEST_F(WaveInDeviceTest, StopAndStartOnlyActInTheRightState) {
  WaveInDevice device;
  device.Stop();  // closed: nothing to do
  EXPECT_FALSE(device.Start());
  EXPECT_FALSE(device.IsRunning());

  ASSERT_TRUE(OpenSmall(device));
  device.Stop();  // open but not running
  EXPECT_TRUE(device.IsOpen());
  EXPECT_EQ(device.BufferCount(), kSmallRing);
  EXPECT_EQ(device.QueuedBuffers(), 0);
  EXPECT_EQ(device.ReturnedBuffers(), 0U);

  ASSERT_TRUE(device.Start());
  EXPECT_FALSE(device.Start()) << "a second Start would queue buffers the platform holds";
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= kSmallRing; }));
  device.Stop();
  const uint32_t calls = g_log.calls.load();
  device.Stop();
  EXPECT_EQ(g_log.calls.load(), calls);
  ExpectEveryBufferHandedOverOnce(device);
  EXPECT_TRUE(device.Close());
  EXPECT_TRUE(device.Close());  // closing twice is harmless
}

TEST_F(WaveInDeviceTest, WavFileHoldsEverythingRecordedAsTheHandlerLeftIt) {
  ScratchFile file;
  WaveInDevice device;
  g_log.stamp = true;
  ASSERT_TRUE(OpenSmall(device, file.Path()));
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 2 * kSmallRing; }));
  ASSERT_TRUE(device.Close());
  ExpectEveryBufferHandedOverOnce(device);

  const std::vector<uint8_t> bytes = file.Read();
  const uint32_t calls = g_log.calls.load();
  const uint32_t n = calls * kBlockBytes;
  ASSERT_EQ(bytes.size(), 44U + n);
  testing::ExpectWavHeader(bytes, {.channels = 1,
                                   .samplesPerSecond = 44100,
                                   .bytesPerSecond = 88200,
                                   .blockAlign = 2,
                                   .bitsPerSample = 16,
                                   .dataBytes = n});
  for (uint32_t k = 0; k < calls; ++k) {
    ASSERT_EQ(Le16(bytes, 44 + size_t{k} * kBlockBytes), k) << "block " << k;
  }
}

TEST_F(WaveInDeviceTest, FileThatCannotBeWrittenIsReportedByClose) {
  WaveInDevice device;
  // Z: is the root of the host's file system under Wine; writes to this
  // device fail with "no space left".
  if (!OpenSmall(device, "Z:\\dev\\full")) {
    device.Close();
    GTEST_SKIP() << "no full device to write to here";
  }
  ASSERT_TRUE(device.Start());
  ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 4 * kSmallRing; }));
  EXPECT_FALSE(device.Close());
  EXPECT_FALSE(device.IsOpen());
}

TEST_F(WaveInDeviceTest, CloseAfterAFailedOpenLeavesNothingBehind) {
  const AllocationCounts before = CurrentAllocations();
  {
    WaveInDevice device;
    EXPECT_FALSE(OpenSmall(device, "Z:\\no such folder\\take.wav"));
    EXPECT_FALSE(device.IsOpen());
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.BufferCount(), 0);
    EXPECT_FALSE(device.Start());
  }
  {
    // A format no driver takes fails after the buffers were allocated.
    WaveInDevice device;
    EXPECT_FALSE(device.Open(nullptr, 0, 1, kSampleRate, kSmallRing, kBlockBytes, &OnBlock));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.BufferCount(), kSmallRing);
    EXPECT_FALSE(device.Start());
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.BufferCount(), 0);
  }
  {
    WaveInDevice device;
    EXPECT_FALSE(device.Open(nullptr, 16, 1, kSampleRate, 0, kBlockBytes, &OnBlock));
    EXPECT_FALSE(device.Open(nullptr, 16, 1, kSampleRate, -5, kBlockBytes, &OnBlock));
    EXPECT_FALSE(device.Open(nullptr, 16, 1, kSampleRate, kSmallRing, 0, &OnBlock));
    EXPECT_EQ(device.BufferCount(), 0);
  }
  EXPECT_EQ(CurrentAllocations().liveBytes, before.liveBytes);
  EXPECT_EQ(g_log.calls.load(), 0U);
}

TEST_F(WaveInDeviceTest, OpeningAgainReleasesTheOldRingAndFinishesTheOldFile) {
  ScratchFile file;
  const AllocationCounts before = CurrentAllocations();
  {
    WaveInDevice device;
    ASSERT_TRUE(OpenSmall(device, file.Path()));
    const int64_t bigRing = CurrentAllocations().liveBytes - before.liveBytes;
    ASSERT_TRUE(device.Open(nullptr, 16, 1, kSampleRate, 2, kBlockBytes, &OnBlock));
    EXPECT_EQ(device.BufferCount(), 2);
    EXPECT_LT(CurrentAllocations().liveBytes - before.liveBytes, bigRing);

    ASSERT_TRUE(device.Start());
    ASSERT_TRUE(WaitFor([] { return g_log.calls.load() >= 6; }));
    device.Stop();
    ExpectRingOrder(2);
    EXPECT_TRUE(device.Close());
  }
  EXPECT_EQ(CurrentAllocations().liveBytes, before.liveBytes);
  const std::vector<uint8_t> bytes = file.Read();
  ASSERT_EQ(bytes.size(), 44U);
  EXPECT_EQ(Le32(bytes, 4), 36U);
  EXPECT_EQ(Le32(bytes, 40), 0U);
}

// Capture thread -> handler -> playback device, as the program runs.
TEST_F(WaveInDeviceTest, TheAudioPathAllocatesNothing) {
  WaveOutDevice playback;
  ASSERT_TRUE(playback.Open(16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, nullptr));
  g_log.forwardTo = &playback;
  WaveInDevice device;
  ASSERT_TRUE(OpenSmall(device));
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
