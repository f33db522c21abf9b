// The status line: a title over a large value, shown for a while over the
// live display. Written by the window thread and by the capture thread,
// read and expired by the capture thread's display update.
//
// Both texts live behind a tiny spin flag held only for a bounded copy of a
// few hundred bytes, never around anything that can block. The capture
// thread only ever *tries* the flag: when the window thread is writing at
// that very instant, the window thread's newer message simply wins, so the
// audio path never waits for the window thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace mimicore {

inline constexpr size_t kStatusTitleCapacity = 128;  // bytes, terminator included
inline constexpr size_t kStatusValueCapacity = 128;
inline constexpr int32_t kStatusShowMs = 2000;

struct StatusSnapshot {
  char title[kStatusTitleCapacity] = {};
  char value[kStatusValueCapacity] = {};
  int32_t timeMs = 0;
};

class StatusDisplay {
 public:
  // printf-style; the formatted value and the title are cut to their
  // capacity. Blocks only for the other thread's bounded copy.
  void ShowStatus(const char* title, const char* valueFormat, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;

  // Capture-thread variants: never wait. They give up when the other thread
  // is writing at this moment and report whether the message was posted.
  bool TryShow(const char* title, const char* value);
  // Shows the value only when no status value is visible right now.
  bool TryShowIfIdle(const char* title, const char* value);

  // The display contract, run once per drawn frame on the capture thread:
  // copies what is to be drawn into |out| (empty value: nothing to draw) and
  // counts the shown time down by |elapsedMs|, emptying the value once it has
  // run out. Returns false when the texts could not be read this instant;
  // |out| is then left as it was and no time is counted.
  bool TryTakeFrame(int32_t elapsedMs, StatusSnapshot& out);

  // Window-thread read, for tests and diagnostics.
  [[nodiscard]] StatusSnapshot Read() const;

 private:
  // Lets a test hold the texts as a writing window thread would.
  friend class StatusDisplayTestAccess;

  void Lock() const;
  [[nodiscard]] bool TryLock() const;
  void Unlock() const;
  void SetLocked(const char* title, const char* value);

  mutable std::atomic_flag busy_;
  StatusSnapshot state_;
};

// Copies |src| into |dst| of |capacity| bytes, cutting it to fit; always
// terminates.
void CopyBounded(char* dst, size_t capacity, const char* src);

}  // namespace mimicore
