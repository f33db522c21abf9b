// What the wave device tests share: an allocation counter, a bounded wait,
// scratch files, the handler-call and WAV header checks, and the hint shown
// when the machine has no sound server.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace mimicore::testing {

// Counted by the replaced global operator new/delete of this test program,
// on every thread.
struct AllocationCounts {
  uint64_t allocations;
  int64_t liveBytes;
};
AllocationCounts CurrentAllocations();

// Polls |done| until it holds or |timeoutMs| has passed. The timeout only
// keeps a broken device from hanging the test; nothing is measured.
template <typename Predicate>
bool WaitFor(Predicate done, uint32_t timeoutMs = 20000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > deadline) {
      return false;
    }
    Sleep(5);
  }
  return true;
}

inline constexpr const char* kNoSoundHint =
    "no wave device: the tests need the sound server of scripts/test-services "
    "(eval \"$(scripts/test-services)\" before ctest)";

// A file name in the temporary folder, unique to this test and process;
// removed again by the destructor.
class ScratchFile {
 public:
  ScratchFile() {
    char dir[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, dir);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string(dir) + "mimicore-" + info->test_suite_name() + "-" + info->name() + "-" +
            std::to_string(GetCurrentProcessId()) + ".wav";
    DeleteFileA(path_.c_str());
  }
  ~ScratchFile() { DeleteFileA(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  [[nodiscard]] const char* Path() const { return path_.c_str(); }
  [[nodiscard]] std::vector<uint8_t> Read() const;

 private:
  std::string path_;
};

// What the tests of both devices ask of a device's handler calls: one at a
// time, and never on the thread that drives the device. Each test resets it.
struct HandlerCalls {
  void Reset(DWORD testThread) {
    calls.store(0);
    overlaps.store(0);
    onTestThread.store(0);
    inside.store(false);
    mainThread = testThread;
  }
  // At the top of the handler: the number of this call, counted from 0.
  uint32_t Enter() {
    if (inside.exchange(true)) {
      overlaps.fetch_add(1);
    }
    if (GetCurrentThreadId() == mainThread) {
      onTestThread.fetch_add(1);
    }
    return calls.load();
  }
  // At the end of the handler.
  void Leave() {
    inside.store(false);
    calls.fetch_add(1);
  }
  void ExpectOneAtATimeOffTheTestThread() const {
    EXPECT_EQ(overlaps.load(), 0U);
    EXPECT_EQ(onTestThread.load(), 0U);
  }

  std::atomic<uint32_t> calls{0};
  std::atomic<uint32_t> overlaps{0};
  std::atomic<uint32_t> onTestThread{0};
  std::atomic<bool> inside{false};
  DWORD mainThread = 0;
};

// The fields of a 44-byte PCM WAV header as a test expects them.
struct WavFields {
  uint32_t channels;
  uint32_t samplesPerSecond;
  uint32_t bytesPerSecond;
  uint32_t blockAlign;
  uint32_t bitsPerSample;
  uint64_t dataBytes;
};
// Checks the header at the start of |bytes| field by field; the RIFF size
// is the data size plus 36.
void ExpectWavHeader(const std::vector<uint8_t>& bytes, const WavFields& expected);

inline uint32_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8U;
}
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return Le16(b, at) | Le16(b, at + 2) << 16U;
}
inline std::string Tag(const std::vector<uint8_t>& b, size_t at) {
  return {reinterpret_cast<const char*>(b.data() + at), 4};
}

}  // namespace mimicore::testing
