#include "core/status_display.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

namespace mimicore {

void CopyBounded(char* dst, size_t capacity, const char* src) {
  if (capacity == 0) {
    return;
  }
  if (src == nullptr) {
    dst[0] = '\0';
    return;
  }
  size_t n = strnlen(src, capacity - 1);
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

void StatusDisplay::Lock() const {
  while (busy_.test_and_set(std::memory_order_acquire)) {
    // The holder only copies a few hundred bytes; yield rather than burn the
    // core if it was preempted inside.
    std::this_thread::yield();
  }
}

bool StatusDisplay::TryLock() const { return !busy_.test_and_set(std::memory_order_acquire); }

void StatusDisplay::Unlock() const { busy_.clear(std::memory_order_release); }

void StatusDisplay::SetLocked(const char* title, const char* value) {
  CopyBounded(state_.value, sizeof state_.value, value);
  CopyBounded(state_.title, sizeof state_.title, title);
  state_.timeMs = kStatusShowMs;
}

void StatusDisplay::ShowStatus(const char* title, const char* valueFormat, ...) {
  char value[kStatusValueCapacity];
  value[0] = '\0';
  if (valueFormat != nullptr) {
    va_list args;
    va_start(args, valueFormat);
    // vsnprintf cuts a longer text to the buffer and terminates it. (The
    // analyser misreads va_start on this ABI.)
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    std::vsnprintf(value, sizeof value, valueFormat, args);
    va_end(args);
  }
  Lock();
  SetLocked(title, value);
  Unlock();
}

bool StatusDisplay::TryShow(const char* title, const char* value) {
  if (!TryLock()) {
    return false;
  }
  SetLocked(title, value);
  Unlock();
  return true;
}

bool StatusDisplay::TryShowIfIdle(const char* title, const char* value) {
  if (!TryLock()) {
    return false;
  }
  bool idle = state_.value[0] == '\0';
  if (idle) {
    SetLocked(title, value);
  }
  Unlock();
  return idle;
}

bool StatusDisplay::TryTakeFrame(int32_t elapsedMs, StatusSnapshot& out) {
  if (!TryLock()) {
    return false;
  }
  out = state_;
  if (state_.value[0] != '\0') {
    // Saturating: a hostile clock jump must not wrap the counter.
    int64_t left = int64_t{state_.timeMs} - int64_t{elapsedMs};
    if (left < 0) {
      state_.timeMs = 0;
      state_.value[0] = '\0';
    } else {
      state_.timeMs = static_cast<int32_t>(left);
    }
  }
  Unlock();
  return true;
}

StatusSnapshot StatusDisplay::Read() const {
  Lock();
  StatusSnapshot copy = state_;
  Unlock();
  return copy;
}

}  // namespace mimicore
