#include "tests/windows/audio_support.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> g_allocations{0};
std::atomic<int64_t> g_liveBytes{0};

// Each block carries its size in front, so that deletes without a size can
// be counted too; 16 bytes keep the block as aligned as malloc's.
constexpr size_t kPrefix = 16;

void* CountedAlloc(size_t size) {
  void* raw = std::malloc(size + kPrefix);
  if (raw == nullptr) {
    return nullptr;
  }
  *static_cast<size_t*>(raw) = size;
  g_allocations.fetch_add(1);
  g_liveBytes.fetch_add(static_cast<int64_t>(size));
  return static_cast<char*>(raw) + kPrefix;
}

void CountedFree(void* block) {
  if (block == nullptr) {
    return;
  }
  void* raw = static_cast<char*>(block) - kPrefix;
  g_liveBytes.fetch_sub(static_cast<int64_t>(*static_cast<size_t*>(raw)));
  std::free(raw);
}

}  // namespace

void* operator new(size_t size) {
  void* p = CountedAlloc(size);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, size_t) noexcept { CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }

namespace mimicore::testing {

AllocationCounts CurrentAllocations() { return {g_allocations.load(), g_liveBytes.load()}; }

std::vector<uint8_t> ScratchFile::Read() const {
  std::vector<uint8_t> bytes;
  std::FILE* f = std::fopen(path_.c_str(), "rb");
  if (f == nullptr) {
    return bytes;
  }
  uint8_t chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  std::fclose(f);
  return bytes;
}

void ExpectWavHeader(const std::vector<uint8_t>& bytes, const WavFields& expected) {
  EXPECT_EQ(Tag(bytes, 0), "RIFF");
  EXPECT_EQ(Le32(bytes, 4), expected.dataBytes + 36);
  EXPECT_EQ(Tag(bytes, 8), "WAVE");
  EXPECT_EQ(Tag(bytes, 12), "fmt ");
  EXPECT_EQ(Le32(bytes, 16), 16U);
  EXPECT_EQ(Le16(bytes, 20), 1U);
  EXPECT_EQ(Le16(bytes, 22), expected.channels);
  EXPECT_EQ(Le32(bytes, 24), expected.samplesPerSecond);
  EXPECT_EQ(Le32(bytes, 28), expected.bytesPerSecond);
  EXPECT_EQ(Le16(bytes, 32), expected.blockAlign);
  EXPECT_EQ(Le16(bytes, 34), expected.bitsPerSample);
  EXPECT_EQ(Tag(bytes, 36), "data");
  EXPECT_EQ(Le32(bytes, 40), expected.dataBytes);
}

}  // namespace mimicore::testing
