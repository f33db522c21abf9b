// What the wave device tests share.
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

// Counted by this test program's replaced global operator new/delete.
struct AllocationCounts {
  uint64_t allocations;
  int64_t liveBytes;
};
AllocationCounts CurrentAllocations();

// The timeout only keeps a broken device from hanging the test.
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

// A temporary file name unique to this test and process, removed again.
class ScratchFile {
 public:
  ScratchFile() {
    char dir[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, dir);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string(dir) + "mimicore-" + info->name() + "-" +
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

// A device's handler must run one call at a time, never on the thread that
// drives the device.
struct HandlerCalls {
  void Reset(DWORD testThread) {
    calls = 0;
    overlaps = 0;
    onTestThread = 0;
    inside = false;
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
  void Leave() {
    inside = false;
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

inline uint32_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8U;
}
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return Le16(b, at) | Le16(b, at + 2) << 16U;
}

}  // namespace mimicore::testing
