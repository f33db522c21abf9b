#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "audio/wave_format.h"
#include "audio/wave_in_device_win.h"
#include "audio/wave_out_device_win.h"
#include "audio/wave_ring_impl_win.h"
#include "audio/wave_ring_win.h"
#include "core/audio_block.h"
#include "core/kernel_handle_win.h"

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
namespace mimicore {
namespace {
void NoteFree(void* p);
}  // namespace
}  // namespace mimicore
void operator delete(void* p) noexcept {
  if (p != nullptr) {
    mimicore::NoteFree(p);
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
    // A device gone since it was listed fails the same way; the first one
    // listed opens in its place.
    EXPECT_FALSE(
        in.Open(nullptr, 16, 1, kSampleRate, kRing, kBlockBytes, nullptr, waveInGetNumDevs()));
    EXPECT_FALSE(out.Open(16, 1, kSampleRate, kRing, kBlockBytes, nullptr, waveOutGetNumDevs()));
    // Opening again releases the old ring.
    ASSERT_TRUE(in.Open(nullptr, 16, 1, kSampleRate, kRing, kBlockBytes, nullptr, 0));
    const int64_t bigRing = g_liveBytes.load() - before;
    ASSERT_TRUE(in.Open(nullptr, 16, 1, kSampleRate, 2, kBlockBytes, nullptr));
    EXPECT_LT(g_liveBytes.load() - before, bigRing);
    ASSERT_TRUE(out.Open(16, 1, kSampleRate, kRing, kBlockBytes, nullptr, 0));
    ASSERT_TRUE(out.Write(sound, 10));  // played before the destructor frees the ring
  }
  EXPECT_EQ(g_liveBytes.load(), before);
}

std::vector<std::string> g_played;
std::atomic<size_t> g_playedCount{0};  // what the test may read while the device plays
void OnPlayed(WAVEHDR* header, uint32_t /*size*/) {
  g_played.emplace_back(header->lpData, header->dwBufferLength);
  ++g_playedCount;
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
    g_playedCount = 0;
    WaveOutDevice device;
    ASSERT_TRUE(device.Open(16, 1, kSampleRate, c.ring, c.size, &OnPlayed));
    size_t at = 0;
    for (size_t k = 0; k < c.writes.size(); at += c.writes[k++]) {
      EXPECT_EQ(device.Write(&source[at], c.writes[k]), k + 1 < c.writes.size() || c.lastAccepted);
    }
    EXPECT_EQ(device.NextBuffer(), c.next);
    // Under load the output may start late: what Close gives up on is tested elsewhere.
    ASSERT_TRUE(WaitFor([&] { return g_playedCount.load() >= c.played.size(); }));
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
  EXPECT_EQ(slots.Queued(), 2);
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
}

// Stands for a platform call that never returns.
std::atomic<bool> g_stuck{false};
void Stuck(void* release) {
  g_stuck = true;
  WaitForSingleObject(static_cast<HANDLE>(release), INFINITE);
}

TEST(WaveDevices, EndGivesUpOnANotificationRoutineThatNeverReturns) {
  // It outlives the test: the thread given up on still reads it.
  static NotificationThread thread;
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(thread.Begin(&Stuck, release));
  thread.Wake();
  ASSERT_TRUE(WaitFor([] { return g_stuck.load(); }));
  EXPECT_FALSE(thread.End(kCloseStepMs));
  EXPECT_FALSE(thread.End(kCloseStepMs)) << "asked again, it is still busy";
  thread.Orphan();
  EXPECT_FALSE(thread.Begin(&Stuck, release)) << "the old thread still reads this object";
  EXPECT_TRUE(thread.MayRun());
  SetEvent(release);
}

// Stands in for the platform's wave calls, on a clock of its own that the
// ring's waits advance: a device that gives back what it holds when reset,
// or one that never does (gone, or wedged), and a close that succeeds, says
// "still playing" a number of times or for ever, or fails otherwise.
struct FakeDevice {
  bool answers = true;
  int stillPlaying = 0;  // -1: for ever
  MMRESULT closeResult = MMSYSERR_NOERROR;
  uint64_t now = 0;
  HANDLE event = nullptr;
  std::array<WAVEHDR*, 64> held{};  // prepared, not unprepared
  std::array<void*, 64> heldData{};
  int heldFreed = 0;  // buffers freed while the device held them
} g_fake;

void NoteFree(void* p) {
  g_fake.heldFreed +=
      static_cast<int>(std::count(g_fake.heldData.begin(), g_fake.heldData.end(), p));
}

struct FakeCalls {
  using Handle = HWAVEOUT;
  static MMRESULT Open(Handle* handle, auto, auto, DWORD_PTR event, auto...) {
    *handle = reinterpret_cast<Handle>(1);
    g_fake.event = reinterpret_cast<HANDLE>(event);
    return MMSYSERR_NOERROR;
  }
  static MMRESULT Prepare(Handle, WAVEHDR* header, UINT) {
    const auto slot = std::find(g_fake.held.begin(), g_fake.held.end(), nullptr);
    if (slot == g_fake.held.end()) {
      return MMSYSERR_NOMEM;
    }
    *slot = header;
    g_fake.heldData[slot - g_fake.held.begin()] = header->lpData;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
  }
  static MMRESULT Submit(Handle, WAVEHDR* header, UINT) {
    header->dwFlags |= WHDR_INQUEUE;
    return MMSYSERR_NOERROR;
  }
  static MMRESULT Unprepare(Handle, WAVEHDR* header, UINT) {
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
      return WAVERR_STILLPLAYING;
    }
    const auto slot = std::find(g_fake.held.begin(), g_fake.held.end(), header);
    if (slot != g_fake.held.end()) {
      g_fake.heldData[slot - g_fake.held.begin()] = *slot = nullptr;
    }
    header->dwFlags &= ~DWORD{WHDR_PREPARED};
    return MMSYSERR_NOERROR;
  }
  static MMRESULT Reset(Handle) {
    for (WAVEHDR* header : g_fake.held) {
      if (header != nullptr && g_fake.answers) {
        header->dwFlags = (header->dwFlags & ~DWORD{WHDR_INQUEUE}) | WHDR_DONE;
      }
    }
    return MMSYSERR_NOERROR;
  }
  static MMRESULT Close(Handle) {
    if (g_fake.stillPlaying != 0) {
      g_fake.stillPlaying -= g_fake.stillPlaying > 0 ? 1 : 0;
      return WAVERR_STILLPLAYING;
    }
    if (g_fake.closeResult == MMSYSERR_NOERROR) {  // the platform's word: it holds nothing more
      g_fake.held = {};
      g_fake.heldData = {};
    }
    return g_fake.closeResult;
  }
  static uint64_t Now() { return g_fake.now; }
  static void Pause(uint32_t ms) { g_fake.now += ms; }
};

void ReleaseBuffer(void* ring, int32_t index) {
  static_cast<WaveRing<FakeCalls>*>(ring)->Release(index);
}

// Opens and queues every buffer as a device does; false when the ring refused.
bool OpenAndQueue(WaveRing<FakeCalls>& ring) {
  return ring.Open(16, 1, kSampleRate, kRing, kBlockBytes, &ReleaseBuffer, &ring) &&
         ring.QueueAll() == kRing;
}

int64_t HeldBytes() {
  int64_t bytes = 0;
  for (void* data : g_fake.heldData) {
    bytes += data != nullptr ? int64_t(HeapSize(GetProcessHeap(), 0, data)) : 0;
  }
  return bytes;
}

// The window thread closes in steps, one a look (every half second); no step
// waits longer than kCloseStepMs. Returns the number of steps.
int CloseByLooks(WaveRing<FakeCalls>& ring, uint64_t& longestStep) {
  for (int steps = 1;; ++steps) {
    const uint64_t began = g_fake.now;
    const bool closed = ring.CloseStep(kCloseGiveUpMs);
    longestStep = std::max(longestStep, g_fake.now - began);
    if (closed || steps == 40) {
      return steps;
    }
    g_fake.now += 500;
  }
}

// What a close frees is what the platform gave back: all of it once the
// device is closed, only the returned buffers when it would not close.
TEST(WaveDevices, ClosingFreesOnlyWhatThePlatformGaveBackAndNeverWaitsLong) {
  constexpr int kForEver = -1;
  const struct Case {
    const char* what;
    bool answers;
    int stillPlaying;
    MMRESULT closeResult;
    bool leftToDevice;  // buffers and event abandoned (bounded, counted)
    int steps;
  } cases[] = {
      {"answers, closes", true, 0, MMSYSERR_NOERROR, false, 1},
      {"answers, closes after a while", true, 12, MMSYSERR_NOERROR, false, 3},
      {"gone: nothing back, but closed", false, 0, MMSYSERR_NOERROR, false, 1},
      {"wedged: nothing back, never closes", false, kForEver, MMSYSERR_NOERROR, true, 5},
      {"answers, close fails", true, 0, MMSYSERR_ERROR, true, 1},
      {"nothing back, close fails", false, 0, MMSYSERR_NODRIVER, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_fake.answers = c.answers;
    g_fake.stillPlaying = c.stillPlaying;
    g_fake.closeResult = c.closeResult;
    const int64_t bytes = g_liveBytes.load();
    const int32_t handles = LiveKernelHandles();
    uint64_t longest = 0;
    {
      WaveRing<FakeCalls> ring;
      ASSERT_TRUE(OpenAndQueue(ring));
      const HANDLE event = g_fake.event;
      EXPECT_EQ(CloseByLooks(ring, longest), c.steps);
      EXPECT_TRUE(ring.Closed());
      EXPECT_EQ(ring.AbandonedSets(), c.leftToDevice ? 1U : 0U);
      EXPECT_EQ(g_fake.heldFreed, 0);
      EXPECT_EQ(g_liveBytes.load() - bytes, HeldBytes());
      EXPECT_EQ(HeldBytes() != 0, c.leftToDevice && !c.answers);
      DWORD flags = 0;
      EXPECT_EQ(GetHandleInformation(event, &flags) != FALSE, c.leftToDevice)
          << "the event is closed once no device can signal it, and only then";
    }
    EXPECT_LE(longest, kCloseStepMs);
    EXPECT_EQ(LiveKernelHandles(), handles);
    g_fake.held = {};
    g_fake.heldData = {};
  }
}

// Give-up and reopen, twenty times: a device that comes back leaks nothing;
// one that never gives its buffers back costs at most kMaxAbandonedSets sets,
// after which the ring keeps its last one and refuses to open.
TEST(WaveDevices, GiveUpAndReopenCyclesLeakNothingOrABoundedCountedSet) {
  for (const bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "answers" : "never answers");
    g_fake = {};
    g_fake.answers = answers;
    g_fake.stillPlaying = answers ? 0 : -1;
    const int64_t bytes = g_liveBytes.load();
    const int32_t handles = LiveKernelHandles();
    uint64_t longest = 0;
    int opened = 0;
    int64_t setBytes = 0;
    WaveRing<FakeCalls> ring;
    for (int cycle = 0; cycle < 20; ++cycle) {
      const uint64_t began = g_fake.now;
      const bool open = OpenAndQueue(ring);
      longest = std::max(longest, g_fake.now - began);
      opened += open ? 1 : 0;
      if (open && cycle == 0) {
        setBytes = g_liveBytes.load() - bytes;
      }
      CloseByLooks(ring, longest);
      if (answers) {
        ASSERT_EQ(g_liveBytes.load(), bytes) << cycle;
        ASSERT_EQ(LiveKernelHandles(), handles) << cycle;
      }
    }
    EXPECT_LE(longest, kCloseStepMs);
    EXPECT_EQ(ring.AbandonedSets(), answers ? 0U : kMaxAbandonedSets);
    EXPECT_EQ(opened, answers ? 20 : int(kMaxAbandonedSets) + 1);
    EXPECT_LE(g_liveBytes.load() - bytes, (answers ? 0 : kMaxAbandonedSets + 1) * setBytes);
    EXPECT_EQ(g_fake.heldFreed, 0);
    EXPECT_EQ(ring.Close(kShutDownGiveUpMs), answers) << "at shut-down the last set is held still";
  }
  g_fake = {};
}

}  // namespace
}  // namespace mimicore
