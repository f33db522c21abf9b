// The wave ring's member functions, for wave_ring_win.cpp (the platform's
// calls) and for tests that stand in for the platform.
#pragma once

#include <new>

#include "audio/wave_format.h"
#include "audio/wave_ring_win.h"

namespace mimicore {

template <typename Calls>
bool WaveRing<Calls>::Open(uint16_t bitsPerSample, uint16_t channels, uint32_t samplesPerSecond,
                           int32_t count, uint32_t size, TakeBack takeBack, void* owner,
                           UINT deviceId) {
  if (notifier_.Orphaned() || !CloseStep(kCloseGiveUpMs)) {
    return false;  // an old thread may still read every member, or buffers are still held
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
  if (Calls::Open(&handle, deviceId, &format_, reinterpret_cast<DWORD_PTR>(notifier_.Event()), 0,
                  CALLBACK_EVENT) != MMSYSERR_NOERROR) {
    return false;
  }
  handle_ = handle;
  return true;
}

template <typename Calls>
bool WaveRing<Calls>::Allocate(int32_t count, uint32_t size) {
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
    count_ = buffers_ != nullptr ? count : 0;  // so that Free walks the partial array
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
  bool allBack = true;
  for (int32_t i = 0; i < count_; ++i) {
    if (slots_.IsIdle(i)) {
      delete[] buffers_[i];
    } else {
      allBack = false;  // the platform may still write to it, or read it
    }
  }
  if (allBack) {
    ::operator delete[](headers_, std::align_val_t{kHeaderAlignment});
  }
  delete[] buffers_;
  buffers_ = nullptr;
  headers_ = nullptr;
  slots_.Free();
  count_ = 0;
  notifier_.AbandonEvent();
  ++abandoned_;
}

template <typename Calls>
void WaveRing<Calls>::Orphan() {
  notifier_.Orphan();
  buffers_ = nullptr;
  headers_ = nullptr;
  slots_.Forget();
  count_ = 0;
}

template <typename Calls>
bool WaveRing<Calls>::Queue(int32_t index, uint32_t length) {
  WAVEHDR* header = &headers_[index];
  if (slots_.Queued() == 0) {
    lastProgress_.store(Calls::Now());  // the device owes an answer from now on
  }
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
bool WaveRing<Calls>::WaitUntilAllBack(uint64_t stallMs, uint64_t limitMs) {
  const uint64_t began = Calls::Now();
  while (slots_.Queued() > 0) {
    const uint64_t now = Calls::Now();
    const uint64_t progress = lastProgress_.load();
    if (now - began >= limitMs || (now >= progress && now - progress >= stallMs)) {
      return false;
    }
    Calls::Pause(2);
  }
  return true;
}

template <typename Calls>
bool WaveRing<Calls>::Drain() {
  if (closing_) {
    return false;  // nothing hands buffers over any more
  }
  // A buffer takes its own length to fill or play before it can come back.
  const uint64_t bytesPerSecond = format_.nAvgBytesPerSec == 0 ? 1 : format_.nAvgBytesPerSec;
  const uint64_t bufferMs = uint64_t{size_} * 1000 / bytesPerSecond;
  const uint64_t queueMs = uint64_t(slots_.Queued() > 0 ? slots_.Queued() : 0) * bufferMs;
  if (WaitUntilAllBack(bufferMs + kDrainStallMs, queueMs + kDrainStallMs)) {
    return true;
  }
  ResetQueue();
  return false;
}

template <typename Calls>
bool WaveRing<Calls>::ResetQueue() {
  discarding_.store(true);
  Calls::Reset(handle_);
  lastProgress_.store(Calls::Now());
  // A device that answers gives everything back at once; one that does not
  // is dealt with by the close.
  if (!WaitUntilAllBack(kCloseStepMs, kCloseStepMs)) {
    wedged_ = true;
    return false;
  }
  return true;
}

template <typename Calls>
bool WaveRing<Calls>::TakeBackUntil(uint64_t until) {
  for (;;) {
    for (int32_t index = slots_.OldestReturned(headers_); index >= 0;
         index = slots_.OldestReturned(headers_)) {
      if (!Unprepare(index)) {
        break;  // still the platform's
      }
      slots_.NoteReturned();
      slots_.Release(index);
    }
    const uint64_t now = Calls::Now();
    if (slots_.Queued() == 0 || now >= until) {
      return slots_.Queued() == 0;
    }
    Calls::Pause(static_cast<uint32_t>(until - now < 2 ? until - now : 2));
  }
}

template <typename Calls>
bool WaveRing<Calls>::CloseStep(uint32_t giveUpMs) {
  if (!closing_) {
    if (Closed()) {
      notifier_.CloseEvent();
      return true;
    }
    closing_ = true;
    resetSent_ = false;
    closeBegan_ = Calls::Now();
    discarding_.store(true);
  }
  const uint64_t now = Calls::Now();
  const uint64_t stepEnd = now + kCloseStepMs;
  const bool dueToGiveUp = now - closeBegan_ >= giveUpMs;
  // No buffer is handed over from here on: what the platform gives back
  // now is taken back on this thread.
  if (!notifier_.End(kCloseStepMs)) {
    if (!dueToGiveUp) {
      return false;
    }
    Orphan();
    handle_ = nullptr;  // the stuck thread may still use it
    return EndClose();
  }
  if (handle_ != nullptr) {
    if (!resetSent_) {
      resetSent_ = true;
      Calls::Reset(handle_);
    }
    (void)TakeBackUntil(stepEnd);
    MMRESULT closed = Calls::Close(handle_);
    for (uint64_t at = Calls::Now(); closed == WAVERR_STILLPLAYING && at < stepEnd;
         at = Calls::Now()) {
      Calls::Pause(static_cast<uint32_t>(stepEnd - at < 10 ? stepEnd - at : 10));
      (void)TakeBackUntil(Calls::Now());
      closed = Calls::Close(handle_);
    }
    if (closed != MMSYSERR_NOERROR) {
      // Any other answer ends the retry: the device may still hold buffers
      // and signal the event, so only what it gave back is freed.
      const bool retry = closed == WAVERR_STILLPLAYING && !dueToGiveUp;
      if (retry || abandoned_ >= kMaxAbandonedSets) {
        return false;
      }
      handle_ = nullptr;
      Abandon();
      return EndClose();
    }
    // A closed handle is the platform's word that it holds no buffer any
    // more, even one it never gave back (a device that went away).
    handle_ = nullptr;
  }
  Free();
  notifier_.CloseEvent();
  return EndClose();
}

template <typename Calls>
bool WaveRing<Calls>::EndClose() {
  closing_ = false;
  wedged_ = false;
  discarding_.store(false);
  return true;
}

template <typename Calls>
bool WaveRing<Calls>::Close(uint32_t giveUpMs) {
  const uint32_t abandonedBefore = abandoned_;
  const bool orphanedBefore = notifier_.Orphaned();
  while (!CloseStep(giveUpMs)) {
    if (closing_ && abandoned_ >= kMaxAbandonedSets &&
        Calls::Now() - closeBegan_ >= uint64_t{giveUpMs}) {
      return false;  // held for good: it keeps its buffers
    }
  }
  return abandoned_ == abandonedBefore && notifier_.Orphaned() == orphanedBefore;
}

template <typename Calls>
void WaveRing<Calls>::OnNotify(void* self) {
  auto* ring = static_cast<WaveRing*>(self);
  for (int32_t index = ring->slots_.OldestReturned(ring->headers_); index >= 0;
       index = ring->slots_.OldestReturned(ring->headers_)) {
    ring->slots_.NoteReturned();
    ring->lastProgress_.store(Calls::Now());
    ring->takeBack_(ring->owner_, index);
  }
}

}  // namespace mimicore
