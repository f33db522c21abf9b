#include "tests/windows/audio_support.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> g_allocations{0};
std::atomic<int64_t> g_liveBytes{0};

// The size goes in front, so that unsized deletes count too; 16 bytes keep
// malloc's alignment.
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

}  // namespace mimicore::testing
