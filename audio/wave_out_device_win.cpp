#include "audio/wave_out_device_win.h"

#include <cstring>
#include <new>

#include "audio/wave_format.h"

namespace mimicore {

WaveOutDevice::~WaveOutDevice() { Close(); }

bool WaveOutDevice::Open(uint16_t bitsPerSample, uint16_t channels, uint32_t samplesPerSecond,
                         int32_t bufferCount, uint32_t bufferSize, DoneHandler doneHandler) {
  if (isOpen_ || bufferCount_ != 0) {
    Close();
  }
  doneHandler_ = doneHandler;
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
  if (!AllocateBuffers(bufferCount, bufferSize)) {
    return false;
  }
  // The cursor survives a Close, but not a smaller ring.
  if (nextBuffer_.load() >= static_cast<uint32_t>(bufferCount_)) {
    nextBuffer_.store(0);
  }
  if (!notifier_.Begin(&WaveOutDevice::OnNotify, this)) {
    return false;
  }
  HWAVEOUT handle = nullptr;
  if (waveOutOpen(&handle, WAVE_MAPPER, &format_, reinterpret_cast<DWORD_PTR>(notifier_.Event()), 0,
                  CALLBACK_EVENT) != MMSYSERR_NOERROR) {
    return false;
  }
  handle_ = handle;
  isOpen_ = true;
  return true;
}

bool WaveOutDevice::AllocateBuffers(int32_t count, uint32_t size) {
  if (bufferCount_ != 0) {
    FreeBuffers();
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
    headers_ = new (std::nothrow) WAVEHDR[n]();
    ok = headers_ != nullptr && slots_.Allocate(count);
  }
  if (!ok) {
    bufferCount_ = count;  // so that FreeBuffers walks the partial array
    FreeBuffers();
    return false;
  }
  bufferCount_ = count;
  bufferSize_ = size;
  return true;
}

void WaveOutDevice::FreeBuffers() {
  if (buffers_ != nullptr) {
    for (int32_t i = 0; i < bufferCount_; ++i) {
      delete[] buffers_[i];
      buffers_[i] = nullptr;
    }
  }
  delete[] buffers_;
  buffers_ = nullptr;
  delete[] headers_;
  headers_ = nullptr;
  slots_.Free();
  bufferCount_ = 0;
}

void WaveOutDevice::AbandonBuffers() {
  delete[] buffers_;
  buffers_ = nullptr;
  headers_ = nullptr;
  slots_.Free();
  bufferCount_ = 0;
}

bool WaveOutDevice::QueueBuffer(WAVEHDR* header, char* data, uint32_t length) {
  const auto index = static_cast<int32_t>(header - headers_);
  slots_.BeginSubmit(index);
  header->lpData = data;
  header->dwBufferLength = length;
  header->dwBytesRecorded = 0;
  header->dwUser = reinterpret_cast<DWORD_PTR>(this);
  header->dwFlags = 0;
  bool queued = false;
  if (waveOutPrepareHeader(handle_, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
    queued = waveOutWrite(handle_, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    if (!queued) {
      waveOutUnprepareHeader(handle_, header, sizeof(WAVEHDR));
    }
  }
  slots_.EndSubmit(index, queued);
  return queued;
}

bool WaveOutDevice::Write(const void* source, uint32_t count) {
  if (count == 0) {
    return true;
  }
  if (!isOpen_ || bufferCount_ <= 0 || source == nullptr) {
    return false;
  }
  const auto ringSize = static_cast<uint32_t>(bufferCount_);
  const auto* from = static_cast<const char*>(source);
  uint32_t next = nextBuffer_.load();
  if (next >= ringSize) {
    next = 0;
  }
  const uint32_t first = next;
  bool allQueued = true;
  while (count > 0) {
    // Waiting here would stall the capture thread; the block is dropped.
    if (!slots_.IsIdle(static_cast<int32_t>(next))) {
      break;
    }
    const uint32_t chunk = count < bufferSize_ ? count : bufferSize_;
    std::memcpy(buffers_[next], from, chunk);
    allQueued = QueueBuffer(&headers_[next], buffers_[next], chunk) && allQueued;
    from += chunk;
    count -= chunk;
    next = next + 1 == ringSize ? 0 : next + 1;
    if (next == first) {
      break;
    }
  }
  nextBuffer_.store(next);
  // A buffer may have played out while it was still being handed over, when
  // the notification thread could not take it yet.
  notifier_.Wake();
  return allQueued && count == 0;
}

uint32_t WaveOutDevice::HeaderLength(int32_t index) const {
  if (index < 0 || index >= bufferCount_) {
    return 0;
  }
  return static_cast<uint32_t>(headers_[index].dwBufferLength);
}

bool WaveOutDevice::ResetQueue() {
  discarding_.store(true);
  waveOutReset(handle_);
  if (!slots_.WaitUntilAllBack(kResetWaitMs)) {
    wedged_ = true;
    return false;
  }
  return true;
}

bool WaveOutDevice::Close() {
  bool ok = true;
  if (slots_.Queued() != 0 && !slots_.WaitUntilAllBack(StallLimitMs(format_, bufferSize_))) {
    ok = false;
    ResetQueue();
  }
  if (handle_ != nullptr && !wedged_) {
    const ULONGLONG deadline = GetTickCount64() + kResetWaitMs;
    while (waveOutClose(handle_) == WAVERR_STILLPLAYING) {
      if (GetTickCount64() > deadline) {
        wedged_ = true;
        break;
      }
      Sleep(10);
    }
  }
  notifier_.Finish(/*keepEvent=*/wedged_);
  if (wedged_) {
    AbandonBuffers();
    ok = false;
  } else {
    FreeBuffers();
  }
  handle_ = nullptr;
  doneHandler_ = nullptr;
  isOpen_ = false;
  wedged_ = false;
  discarding_.store(false);
  return ok;
}

void WaveOutDevice::OnNotify(void* self) {
  auto* device = static_cast<WaveOutDevice*>(self);
  for (int32_t index = device->slots_.OldestReturned(device->headers_); index >= 0;
       index = device->slots_.OldestReturned(device->headers_)) {
    device->TakeBack(index);
  }
}

void WaveOutDevice::TakeBack(int32_t index) {
  WAVEHDR* header = &headers_[index];
  slots_.NoteReturned();
  if (doneHandler_ != nullptr && !discarding_.load()) {
    doneHandler_(header, bufferSize_);
  }
  waveOutUnprepareHeader(handle_, header, sizeof(WAVEHDR));
  slots_.Release(index);
}

}  // namespace mimicore
