#include "audio/wave_ring_win.h"

#include "audio/wave_ring_impl_win.h"

namespace mimicore {

bool WaveSlots::Allocate(int32_t count) {
  Free();
  if (count <= 0) {
    return false;
  }
  slots_ = new (std::nothrow) Slot[static_cast<size_t>(count)];
  if (slots_ == nullptr) {
    return false;
  }
  count_ = count;
  queued_.store(0);
  returned_.store(0);
  return true;
}

void WaveSlots::Free() {
  delete[] slots_;
  slots_ = nullptr;
  count_ = 0;
  queued_.store(0);
}

void WaveSlots::Forget() {
  slots_ = nullptr;
  count_ = 0;
  queued_.store(0);
}

void WaveSlots::BeginSubmit(int32_t index) {
  Slot& slot = slots_[index];
  if (slot.state.load(std::memory_order_acquire) == kIdle) {
    queued_.fetch_add(1);
  }
  slot.sequence.store(nextSequence_.fetch_add(1), std::memory_order_relaxed);
  slot.state.store(kSubmitting, std::memory_order_release);
}

void WaveSlots::EndSubmit(int32_t index, bool queued) {
  if (queued) {
    slots_[index].state.store(kQueued, std::memory_order_release);
  } else {
    slots_[index].state.store(kIdle, std::memory_order_release);
    queued_.fetch_sub(1);
  }
}

void WaveSlots::Release(int32_t index) {
  slots_[index].state.store(kIdle, std::memory_order_release);
  queued_.fetch_sub(1);
}

bool WaveSlots::IsIdle(int32_t index) const {
  return slots_[index].state.load(std::memory_order_acquire) == kIdle;
}

int32_t WaveSlots::OldestReturned(WAVEHDR* headers) const {
  int32_t oldest = -1;
  uint32_t oldestSequence = 0;
  uint8_t oldestState = kIdle;
  for (int32_t i = 0; i < count_; ++i) {
    const uint8_t state = slots_[i].state.load(std::memory_order_acquire);
    if (state == kIdle) {
      continue;
    }
    const uint32_t sequence = slots_[i].sequence.load(std::memory_order_relaxed);
    // Sequence numbers wrap; the difference tells which is older.
    if (oldest < 0 || static_cast<int32_t>(sequence - oldestSequence) < 0) {
      oldest = i;
      oldestSequence = sequence;
      oldestState = state;
    }
  }
  if (oldest < 0 || oldestState != kQueued || !HeaderDone(headers[oldest])) {
    return -1;
  }
  return oldest;
}

bool HeaderDone(WAVEHDR& header) {
  std::atomic_ref<DWORD> flags(header.dwFlags);
  return (flags.load(std::memory_order_acquire) & WHDR_DONE) != 0;
}

NotificationThread::~NotificationThread() {
  // The program's devices are closed before this runs; a thread still busy
  // then is given one last chance.
  if (thread_ && !End(kCloseStepMs)) {
    Orphan();
  }
}

bool NotificationThread::Begin(Routine routine, void* context) {
  if (orphaned_ || thread_) {
    return false;
  }
  routine_ = routine;
  context_ = context;
  quit_.store(false);
  event_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!event_) {
    return false;
  }
  thread_.Reset(CreateThread(nullptr, 0, &NotificationThread::Main, this, 0, nullptr));
  if (!thread_) {
    event_.Reset();
    return false;
  }
  // The engine runs on this thread; it must keep up with the device.
  SetThreadPriority(thread_.Get(), THREAD_PRIORITY_HIGHEST);
  return true;
}

bool NotificationThread::End(uint32_t waitMs) {
  if (!thread_) {
    return !orphaned_;
  }
  quit_.store(true);
  SetEvent(event_.Get());
  if (WaitForSingleObject(thread_.Get(), waitMs) != WAIT_OBJECT_0) {
    return false;
  }
  thread_.Reset();
  return true;
}

void NotificationThread::Orphan() {
  // The thread still reads this object and waits on the event: both stay
  // as they are for as long as the process runs.
  quit_.store(true);
  thread_.Reset();
  AbandonEvent();
  orphaned_ = true;
}

void NotificationThread::Wake() const {
  if (event_) {
    SetEvent(event_.Get());
  }
}

DWORD WINAPI NotificationThread::Main(void* self) {
  auto* thread = static_cast<NotificationThread*>(self);
  for (;;) {
    WaitForSingleObject(thread->event_.Get(), INFINITE);
    if (thread->quit_.load()) {
      return 0;
    }
    thread->routine_(thread->context_);
    if (thread->quit_.load()) {
      return 0;  // given up on while in the routine: touch nothing more
    }
  }
}

template class WaveRing<WaveInCalls>;
template class WaveRing<WaveOutCalls>;

}  // namespace mimicore
