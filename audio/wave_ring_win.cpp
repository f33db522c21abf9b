#include "audio/wave_ring_win.h"

#include <new>

#include "audio/wave_format.h"

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

bool WaveSlots::WaitUntilAllBack(uint32_t stallMs) const {
  uint32_t lastReturned = returned_.load();
  ULONGLONG lastProgress = GetTickCount64();
  while (queued_.load() > 0) {
    const uint32_t returned = returned_.load();
    const ULONGLONG now = GetTickCount64();
    if (returned != lastReturned) {
      lastReturned = returned;
      lastProgress = now;
    } else if (now - lastProgress > stallMs) {
      return false;
    }
    Sleep(2);
  }
  return true;
}

bool HeaderDone(WAVEHDR& header) {
  std::atomic_ref<DWORD> flags(header.dwFlags);
  return (flags.load(std::memory_order_acquire) & WHDR_DONE) != 0;
}

bool NotificationThread::Begin(Routine routine, void* context) {
  if (orphaned_ || !Finish(false)) {
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

bool NotificationThread::Finish(bool keepEvent) {
  if (orphaned_) {
    return false;
  }
  if (thread_) {
    quit_.store(true);
    SetEvent(event_.Get());
    const bool ended = WaitForSingleObject(thread_.Get(), kFinishWaitMs) == WAIT_OBJECT_0;
    thread_.Reset();
    if (!ended) {
      // The thread still reads this object and waits on the event: both
      // stay as they are for as long as the process runs.
      orphaned_ = true;
      return false;
    }
  }
  if (keepEvent) {
    (void)event_.Release();
  }
  event_.Reset();
  return true;
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

uint32_t StallLimitMs(const WAVEFORMATEX& format, uint32_t bufferSize) {
  constexpr uint64_t kMarginMs = 2000;
  const uint64_t bytesPerSecond = format.nAvgBytesPerSec == 0 ? 1 : format.nAvgBytesPerSec;
  const uint64_t bufferMs = uint64_t{bufferSize} * 1000 / bytesPerSecond;
  const uint64_t limit = kMarginMs + bufferMs;
  return limit > 0xFFFFFFFFU ? 0xFFFFFFFFU : static_cast<uint32_t>(limit);
}

template <typename Calls>
bool WaveRing<Calls>::Open(uint16_t bitsPerSample, uint16_t channels, uint32_t samplesPerSecond,
                           int32_t count, uint32_t size, TakeBack takeBack, void* owner) {
  if (notifier_.Orphaned()) {
    return false;  // its old thread may still read every member
  }
  takeBack_ = takeBack;
  owner_ = owner;
  const PcmFormat pcm = MakePcmFormat(bitsPerSample, channels, samplesPerSecond);
  format_ = WAVEFORMATEX{};
  if (!pcm.valid) {
    return false;
  }
  format_.wFormatTag = WAVE_FORMAT_PCM;
  format_.nChannels = pcm.channels;
  format_.nSamplesPerSec = pcm.samplesPerSecond;
  format_.nAvgBytesPerSec = pcm.bytesPerSecond;
  format_.nBlockAlign = pcm.blockAlign;
  format_.wBitsPerSample = pcm.bitsPerSample;
  if (!Allocate(count, size)) {
    return false;
  }
  if (!notifier_.Begin(&WaveRing::OnNotify, this)) {
    return false;
  }
  Handle handle = nullptr;
  if (Calls::Open(&handle, WAVE_MAPPER, &format_, reinterpret_cast<DWORD_PTR>(notifier_.Event()), 0,
                  CALLBACK_EVENT) != MMSYSERR_NOERROR) {
    return false;
  }
  handle_ = handle;
  return true;
}

template <typename Calls>
bool WaveRing<Calls>::Allocate(int32_t count, uint32_t size) {
  if (count_ != 0) {
    Free();
  }
  if (count <= 0 || size == 0) {
    return false;
  }
  const auto n = static_cast<size_t>(count);
  buffers_ = new (std::nothrow) char*[n]();
  bool ok = buffers_ != nullptr;
  for (size_t i = 0; ok && i < n; ++i) {
    buffers_[i] = new (std::nothrow) char[size];
    ok = buffers_[i] != nullptr;
  }
  if (ok) {
    headers_ = new (std::align_val_t{kHeaderAlignment}, std::nothrow) WAVEHDR[n]();
    ok = headers_ != nullptr && slots_.Allocate(count);
  }
  if (!ok) {
    count_ = count;  // so that Free walks the partial array
    Free();
    return false;
  }
  count_ = count;
  size_ = size;
  return true;
}

template <typename Calls>
void WaveRing<Calls>::Free() {
  if (buffers_ != nullptr) {
    for (int32_t i = 0; i < count_; ++i) {
      delete[] buffers_[i];
      buffers_[i] = nullptr;
    }
  }
  delete[] buffers_;
  buffers_ = nullptr;
  // WAVEHDR has no destructor: the aligned array is plain storage.
  ::operator delete[](headers_, std::align_val_t{kHeaderAlignment});
  headers_ = nullptr;
  slots_.Free();
  count_ = 0;
}

template <typename Calls>
void WaveRing<Calls>::Abandon() {
  delete[] buffers_;
  buffers_ = nullptr;
  headers_ = nullptr;
  slots_.Free();
  count_ = 0;
}

template <typename Calls>
void WaveRing<Calls>::Orphan() {
  buffers_ = nullptr;
  headers_ = nullptr;
  slots_.Forget();
  count_ = 0;
}

template <typename Calls>
bool WaveRing<Calls>::Queue(int32_t index, uint32_t length) {
  WAVEHDR* header = &headers_[index];
  slots_.BeginSubmit(index);
  header->lpData = buffers_[index];
  header->dwBufferLength = length;
  header->dwBytesRecorded = 0;
  header->dwUser = reinterpret_cast<DWORD_PTR>(owner_);
  header->dwFlags = 0;
  bool queued = false;
  if (Calls::Prepare(handle_, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
    queued = Calls::Submit(handle_, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    if (!queued) {
      Calls::Unprepare(handle_, header, sizeof(WAVEHDR));
    }
  }
  slots_.EndSubmit(index, queued);
  return queued;
}

template <typename Calls>
int32_t WaveRing<Calls>::QueueAll() {
  discarding_.store(false);
  int32_t queued = 0;
  for (int32_t i = 0; i < count_; ++i) {
    queued += Queue(i, size_) ? 1 : 0;
  }
  return queued;
}

template <typename Calls>
bool WaveRing<Calls>::Unprepare(int32_t index) {
  return Calls::Unprepare(handle_, &headers_[index], sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

template <typename Calls>
bool WaveRing<Calls>::Drain() {
  if (slots_.WaitUntilAllBack(StallLimitMs(format_, size_))) {
    return true;
  }
  ResetQueue();
  return false;
}

template <typename Calls>
bool WaveRing<Calls>::ResetQueue() {
  discarding_.store(true);
  const bool reset = Calls::Reset(handle_) == MMSYSERR_NOERROR;
  if (!slots_.WaitUntilAllBack(reset ? kResetWaitMs : kRefusedResetWaitMs)) {
    wedged_ = true;
    return false;
  }
  return true;
}

template <typename Calls>
bool WaveRing<Calls>::Close() {
  if (!wedged_ && slots_.Queued() != 0) {
    ResetQueue();
  }
  if (handle_ != nullptr) {
    // A closed handle is the platform's word that it holds no buffer any
    // more, even one it never gave back (a device that went away): then
    // they are ours to free. Still held, they are waited for, unless they
    // have been already.
    const ULONGLONG deadline = GetTickCount64() + (wedged_ ? 0 : kResetWaitMs);
    MMRESULT closed = Calls::Close(handle_);
    while (closed == WAVERR_STILLPLAYING && GetTickCount64() <= deadline) {
      Sleep(10);
      closed = Calls::Close(handle_);
    }
    wedged_ = closed == WAVERR_STILLPLAYING;
  }
  const bool ended = notifier_.Finish(/*keepEvent=*/wedged_);
  const bool released = !wedged_ && ended;
  if (!ended) {
    Orphan();
  } else if (released) {
    Free();
  } else {
    Abandon();
  }
  handle_ = nullptr;
  wedged_ = false;
  discarding_.store(false);
  return released;
}

template <typename Calls>
void WaveRing<Calls>::OnNotify(void* self) {
  auto* ring = static_cast<WaveRing*>(self);
  for (int32_t index = ring->slots_.OldestReturned(ring->headers_); index >= 0;
       index = ring->slots_.OldestReturned(ring->headers_)) {
    ring->slots_.NoteReturned();
    ring->takeBack_(ring->owner_, index);
  }
}

template class WaveRing<WaveInCalls>;
template class WaveRing<WaveOutCalls>;

}  // namespace mimicore
