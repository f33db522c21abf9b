#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "audio/wave_format.h"
#include "audio/wave_in_device_win.h"
#include "audio/wave_out_device_win.h"
#include "audio/wave_ring_win.h"
#include "core/audio_block.h"

// Counted so that the tests see leaks and allocations on the audio path; the
// library's other forms of new and delete end up in these two.
std::atomic<uint64_t> g_allocations{0};
std::atomic<int64_t> g_liveBytes{0};
void* operator new(size_t size) {
  void* p = HeapAlloc(GetProcessHeap(), 0, size == 0 ? 1 : size);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  g_allocations.fetch_add(1);
  g_liveBytes.fetch_add(static_cast<int64_t>(HeapSize(GetProcessHeap(), 0, p)));
  return p;
}
void operator delete(void* p) noexcept {
  if (p != nullptr) {
    g_liveBytes.fetch_sub(static_cast<int64_t>(HeapSize(GetProcessHeap(), 0, p)));
    HeapFree(GetProcessHeap(), 0, p);
  }
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace mimicore {
namespace {

// In text mode ctest would take each line's "\r" for part of the test names it lists.
[[maybe_unused]] const int kBinaryStdout = _setmode(_fileno(stdout), _O_BINARY);

constexpr int32_t kRing = 8;

template <typename Predicate>
bool WaitFor(Predicate done) {
  for (int i = 0; i < 4000 && !done(); ++i) {
    Sleep(5);
  }
  return done();
}

// The handler must run one call at a time, off the thread driving the device.
struct CaptureLog {
  std::atomic<uint32_t> calls{0}, misfits{0};
  std::atomic<bool> inside{false};
  DWORD testThread = GetCurrentThreadId();
  const char* data[4096] = {};
  WaveOutDevice* forward = nullptr;
} g_log;

void OnBlock(WAVEHDR* header, uint32_t size) {
  if (g_log.inside.exchange(true) || GetCurrentThreadId() == g_log.testThread ||
      size != kBlockBytes || header->dwBytesRecorded != kBlockBytes) {
    g_log.misfits.fetch_add(1);
  }
  const uint32_t k = g_log.calls.load();
  g_log.data[k % 4096] = header->lpData;
  // The file must hold the samples as the handler left them.
  reinterpret_cast<int16_t*>(header->lpData)[0] = static_cast<int16_t>(k);
  if (g_log.forward != nullptr) {
    g_log.forward->Write(header->lpData, size);
  }
  g_log.inside = false;
  g_log.calls.fetch_add(1);
}

TEST(WaveDevices, CaptureHandsOverEveryBufferInRingOrderToHandlerAndFile) {
  ASSERT_GT(waveInGetNumDevs(), 0U) << "no sound server: eval \"$(scripts/test-services)\"";
  WaveOutDevice playback;
  ASSERT_TRUE(playback.Open(16, 1, kSampleRate, kBuffersPerDevice, kBlockBytes, nullptr));
  g_log.forward = &playback;
  WaveInDevice capture;
  EXPECT_FALSE(capture.Start()) << "closed";
  ASSERT_TRUE(capture.Open("capture.wav", 16, 1, kSampleRate, kRing, kBlockBytes, &OnBlock));
  ASSERT_TRUE(capture.Start());
  EXPECT_FALSE(capture.Start()) << "a second Start would queue buffers the platform holds";
  ASSERT_TRUE(WaitFor([] { return g_log.calls >= kRing; }));
  // Capture, handler and playback as the program runs them.
  const uint64_t allocations = g_allocations.load();
  ASSERT_TRUE(WaitFor([] { return g_log.calls >= 4 * kRing; }));
  EXPECT_EQ(g_allocations.load(), allocations);
  capture.Stop();
  EXPECT_EQ(capture.QueuedBuffers(), 0) << "Stop waits for the whole queue";
  for (uint32_t k = 0; k < g_log.calls && k < 4096; ++k) {
    ASSERT_EQ(g_log.data[k], g_log.data[k % kRing]) << "call " << k;
  }
  EXPECT_NE(g_log.data[0], g_log.data[kRing - 1]);
  ASSERT_TRUE(capture.Start());
  EXPECT_TRUE(capture.Close());
  EXPECT_TRUE(playback.Close());
  g_log.forward = nullptr;
  const uint32_t calls = g_log.calls.load();
  EXPECT_EQ(calls, capture.ReturnedBuffers());
  EXPECT_EQ(g_log.misfits.load(), 0U);

  std::ifstream file("capture.wav", std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
  ASSERT_EQ(bytes.size(), 44U + calls * kBlockBytes);
  const auto header = MakeWavHeader(MakePcmFormat(16, 1, kSampleRate), bytes.size());
  EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
  for (uint32_t k = 0; k < calls; ++k) {
    ASSERT_EQ(bytes[44 + k * kBlockBytes] | bytes[45 + k * kBlockBytes] << 8, int(k & 0xFFFF));
  }
}

TEST(WaveDevices, FailedOpensAndReopensLeaveNothingBehind) {
  const char sound[10] = {};
  const int64_t before = g_liveBytes.load();
  {
    WaveInDevice in;
    WaveOutDevice out;
    EXPECT_FALSE(
        in.Open("Z:\\no such folder\\take.wav", 16, 1, kSampleRate, kRing, kBlockBytes, nullptr));
    for (const auto& [bits, channels, rate, count, size] :
         {std::tuple<uint16_t, uint16_t, uint32_t, int32_t, uint32_t>{16, 1, 44100, 0, 64},
          {16, 1, 44100, -5, 64},
          {16, 1, 44100, kRing, 0},
          {0, 1, 44100, kRing, 64},
          {16, 65535, 44100, kRing, 64},
          {32, 2048, 0xFFFFFFFFU, kRing, 64}}) {
      EXPECT_FALSE(in.Open(nullptr, bits, channels, rate, count, size, nullptr));
      EXPECT_FALSE(out.Open(bits, channels, rate, count, size, nullptr));
      EXPECT_FALSE(in.Start());
      EXPECT_FALSE(out.Write(sound, 10));
    }
    // Opening again releases the old ring.
    ASSERT_TRUE(in.Open(nullptr, 16, 1, kSampleRate, kRing, kBlockBytes, nullptr));
    const int64_t bigRing = g_liveBytes.load() - before;
    ASSERT_TRUE(in.Open(nullptr, 16, 1, kSampleRate, 2, kBlockBytes, nullptr));
    EXPECT_LT(g_liveBytes.load() - before, bigRing);
    ASSERT_TRUE(out.Open(16, 1, kSampleRate, kRing, kBlockBytes, nullptr));
    ASSERT_TRUE(out.Write(sound, 10));  // played before the destructor frees the ring
  }
  EXPECT_EQ(g_liveBytes.load(), before);
}

std::vector<std::string> g_played;
void OnPlayed(WAVEHDR* header, uint32_t /*size*/) {
  g_played.emplace_back(header->lpData, header->dwBufferLength);
}

// Writes take the source one after the other; buffers play what came of it in turn.
TEST(WaveDevices, WritesFillTheRingInOrderAndNeverOverwriteABufferStillPlaying) {
  constexpr uint32_t b = kBlockBytes, kSecond = 88200;
  struct Case {
    int32_t ring;
    uint32_t size;
    std::vector<uint32_t> writes;
    bool lastAccepted;
    uint32_t next;
    std::vector<uint32_t> played;
  } cases[] = {
      {4, b, {1000}, true, 1, {1000}},
      {4, b, {500, 2 * b + 123}, true, 0, {500, b, b, 123}},
      {4, b, {4 * b + 9}, false, 0, {b, b, b, b}},  // one call fills each buffer once at most
      // The third write comes long before the first buffer has played.
      {2, kSecond, {kSecond, kSecond, kSecond}, false, 0, {kSecond, kSecond}},
  };
  std::string source(3 * kSecond, 0);
  for (size_t i = 0; i < source.size(); ++i) {
    source[i] = static_cast<char>(i * 7 + i / 251);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.writes.back());
    g_played.clear();
    WaveOutDevice device;
    ASSERT_TRUE(device.Open(16, 1, kSampleRate, c.ring, c.size, &OnPlayed));
    size_t at = 0;
    for (size_t k = 0; k < c.writes.size(); at += c.writes[k++]) {
      EXPECT_EQ(device.Write(&source[at], c.writes[k]), k + 1 < c.writes.size() || c.lastAccepted);
    }
    EXPECT_EQ(device.NextBuffer(), c.next);
    EXPECT_TRUE(device.Close());
    ASSERT_EQ(g_played.size(), c.played.size());
    at = 0;
    for (size_t k = 0; k < c.played.size(); at += c.played[k++]) {
      EXPECT_EQ(g_played[k], source.substr(at, c.played[k])) << k;
    }
  }
}

// What the devices seldom meet: a refused buffer, one still being handed
// over when it comes back, one queued again in place, a device that never answers.
TEST(WaveDevices, BuffersAreTakenBackInTheOrderTheyWereQueued) {
  WaveSlots slots;
  WAVEHDR headers[3] = {};
  ASSERT_TRUE(slots.Allocate(3));
  slots.BeginSubmit(0);
  slots.EndSubmit(0, true);
  slots.BeginSubmit(1);
  slots.EndSubmit(1, false);
  slots.BeginSubmit(2);
  EXPECT_FALSE(slots.WaitUntilAllBack(50));
  headers[0].dwFlags = headers[1].dwFlags = headers[2].dwFlags = WHDR_DONE;
  EXPECT_EQ(slots.OldestReturned(headers), 0);
  slots.NoteReturned();
  slots.BeginSubmit(0);
  slots.EndSubmit(0, true);
  EXPECT_EQ(slots.OldestReturned(headers), -1) << "buffer 2 is not the notification thread's yet";
  slots.EndSubmit(2, true);
  EXPECT_EQ(slots.OldestReturned(headers), 2);
  slots.Release(2);
  EXPECT_EQ(slots.OldestReturned(headers), 0);
  slots.Release(0);
  EXPECT_EQ(slots.Queued(), 0);
  EXPECT_TRUE(slots.WaitUntilAllBack(10));
}

// Stands for a platform call that never returns.
std::atomic<bool> g_stuck{false};
void Stuck(void* release) {
  g_stuck = true;
  WaitForSingleObject(static_cast<HANDLE>(release), INFINITE);
}

TEST(WaveDevices, FinishGivesUpOnANotificationRoutineThatNeverReturns) {
  // It outlives the test: the thread given up on still reads it.
  static NotificationThread thread;
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(thread.Begin(&Stuck, release));
  thread.Wake();
  ASSERT_TRUE(WaitFor([] { return g_stuck.load(); }));
  EXPECT_FALSE(thread.Finish(false));
  EXPECT_FALSE(thread.Begin(&Stuck, release)) << "the old thread still reads this object";
  SetEvent(release);
}

}  // namespace
}  // namespace mimicore
