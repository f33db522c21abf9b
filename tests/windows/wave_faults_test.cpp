// Devices that stop answering, and header flags read atomically.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>

#include "audio/wave_in_device_win.h"
#include "audio/wave_out_device_win.h"
#include "audio/wave_ring_win.h"
#include "core/audio_block.h"
#include "tests/windows/audio_support.h"

namespace mimicore {
namespace {

struct Stuck {
  HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

// Stands for a platform call that does not return.
void StuckRoutine(void* context) {
  auto* stuck = static_cast<Stuck*>(context);
  SetEvent(stuck->entered);
  WaitForSingleObject(stuck->release, INFINITE);
}

void NoRoutine(void* /*context*/) {}

TEST(NotificationThread, FinishGivesUpOnARoutineThatNeverReturns) {
  // Both outlive the test: the thread that is given up on still reads them.
  static Stuck stuck;
  static NotificationThread thread;
  ASSERT_TRUE(thread.Begin(&StuckRoutine, &stuck));
  thread.Wake();
  ASSERT_EQ(WaitForSingleObject(stuck.entered, 20000), WAIT_OBJECT_0);

  EXPECT_FALSE(thread.Finish(false));
  EXPECT_TRUE(thread.Orphaned());
  EXPECT_FALSE(thread.Begin(&NoRoutine, nullptr)) << "the old thread still reads this object";
  SetEvent(stuck.release);
}

TEST(WaveRing, HeadersKeepTheFlagsAlignedForAtomicAccess) {
  ASSERT_GT(waveOutGetNumDevs(), 0U) << testing::kNoSoundHint;
  for (const int32_t count : {1, 3, 5, 64}) {
    WaveRing<WaveOutCalls> ring;
    ASSERT_TRUE(ring.Open(16, 1, kSampleRate, count, kBlockBytes, nullptr, nullptr)) << count;
    for (int32_t i = 0; i < count; ++i) {
      const auto at = reinterpret_cast<uintptr_t>(&ring.Header(i).dwFlags);
      EXPECT_EQ(at % std::atomic_ref<DWORD>::required_alignment, 0U) << count << " " << i;
    }
    EXPECT_TRUE(ring.Close());
  }
}

std::atomic<uint32_t> g_blocks{0};
void CountBlock(WAVEHDR* /*header*/, uint32_t /*bufferSize*/) { g_blocks.fetch_add(1); }

// The way back from a lost device: closed at once, then opened and running
// again, as often as it takes.
TEST(LostDevices, DevicesClosedWithoutDrainingOpenAndRunAgain) {
  ASSERT_GT(waveInGetNumDevs(), 0U) << testing::kNoSoundHint;
  WaveInDevice capture;
  WaveOutDevice playback;
  std::array<char, kBlockBytes * 3> sound{};
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(playback.Open(16, 1, kSampleRate, 8, kBlockBytes, nullptr)) << round;
    ASSERT_TRUE(capture.Open(nullptr, 16, 1, kSampleRate, 8, kBlockBytes, &CountBlock)) << round;
    const uint32_t before = g_blocks.load();
    ASSERT_TRUE(capture.Start()) << round;
    EXPECT_TRUE(playback.Write(sound.data(), sound.size())) << round;
    EXPECT_TRUE(testing::WaitFor([&] { return g_blocks.load() >= before + 3; })) << round;

    EXPECT_TRUE(capture.CloseWithoutDraining()) << round;
    EXPECT_TRUE(playback.CloseWithoutDraining()) << round;
    EXPECT_FALSE(capture.IsOpen());
    EXPECT_FALSE(capture.HandlerMayRun()) << "the handler's data are the caller's again";
    EXPECT_EQ(capture.QueuedBuffers(), 0);
    EXPECT_EQ(playback.QueuedBuffers(), 0);
  }
}

}  // namespace
}  // namespace mimicore
