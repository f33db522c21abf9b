#include "audio/wave_in_device_win.h"

#include <array>
#include <new>

#include "audio/wave_format.h"

namespace mimicore {

WaveInDevice::~WaveInDevice() { Close(); }

bool WaveInDevice::Open(const char* fileName, uint16_t bitsPerSample, uint16_t channels,
                        uint32_t samplesPerSecond, int32_t bufferCount, uint32_t bufferSize,
                        BlockHandler handler) {
  if (isOpen_ || bufferCount_ != 0 || file_ != nullptr) {
    Close();
  }
  handler_ = handler;
  if (fileName != nullptr) {
    file_ = std::fopen(fileName, "wb");
    if (file_ == nullptr) {
      return false;
    }
    // Room for the header, which FinishFile writes once the length is known.
    const std::array<uint8_t, kWavHeaderSize> reserved{};
    fileFailed_ = std::fwrite(reserved.data(), 1, reserved.size(), file_) != reserved.size();
    fileBytes_ = 0;
  }
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
  if (!notifier_.Begin(&WaveInDevice::OnNotify, this)) {
    return false;
  }
  HWAVEIN handle = nullptr;
  if (waveInOpen(&handle, WAVE_MAPPER, &format_, reinterpret_cast<DWORD_PTR>(notifier_.Event()), 0,
                 CALLBACK_EVENT) != MMSYSERR_NOERROR) {
    return false;
  }
  handle_ = handle;
  isOpen_ = true;
  return true;
}

bool WaveInDevice::AllocateBuffers(int32_t count, uint32_t size) {
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

void WaveInDevice::FreeBuffers() {
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

void WaveInDevice::AbandonBuffers() {
  delete[] buffers_;
  buffers_ = nullptr;
  headers_ = nullptr;
  slots_.Free();
  bufferCount_ = 0;
}

bool WaveInDevice::QueueBuffer(WAVEHDR* header, char* data) {
  const auto index = static_cast<int32_t>(header - headers_);
  slots_.BeginSubmit(index);
  header->lpData = data;
  header->dwBufferLength = bufferSize_;
  header->dwBytesRecorded = 0;
  header->dwUser = reinterpret_cast<DWORD_PTR>(this);
  header->dwFlags = 0;
  bool queued = false;
  if (waveInPrepareHeader(handle_, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR) {
    queued = waveInAddBuffer(handle_, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    if (!queued) {
      waveInUnprepareHeader(handle_, header, sizeof(WAVEHDR));
    }
  }
  slots_.EndSubmit(index, queued);
  return queued;
}

bool WaveInDevice::Start() {
  if (!isOpen_ || isRunning_.load() || wedged_ || slots_.Queued() != 0) {
    return false;
  }
  discarding_.store(false);
  // Running before the first buffer can come back, or it would not be
  // queued again.
  isRunning_.store(true);
  for (int32_t i = 0; i < bufferCount_; ++i) {
    QueueBuffer(&headers_[i], buffers_[i]);
  }
  if (waveInStart(handle_) != MMSYSERR_NOERROR) {
    isRunning_.store(false);
    ResetQueue();
    return false;
  }
  return true;
}

void WaveInDevice::Stop() {
  if (!isRunning_.exchange(false)) {
    return;
  }
  if (!slots_.WaitUntilAllBack(StallLimitMs(format_, bufferSize_))) {
    ResetQueue();
  }
  waveInStop(handle_);
}

bool WaveInDevice::ResetQueue() {
  discarding_.store(true);
  waveInReset(handle_);
  if (!slots_.WaitUntilAllBack(kResetWaitMs)) {
    wedged_ = true;
    return false;
  }
  return true;
}

bool WaveInDevice::Close() {
  bool ok = true;
  if (isRunning_.load()) {
    Stop();
  }
  if (!wedged_ && slots_.Queued() != 0) {
    ResetQueue();
  }
  if (handle_ != nullptr && !wedged_) {
    const ULONGLONG deadline = GetTickCount64() + kResetWaitMs;
    while (waveInClose(handle_) == WAVERR_STILLPLAYING) {
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
  if (file_ != nullptr) {
    ok = FinishFile() && ok;
  }
  handle_ = nullptr;
  handler_ = nullptr;
  isOpen_ = false;
  wedged_ = false;
  discarding_.store(false);
  return ok;
}

void WaveInDevice::OnNotify(void* self) {
  auto* device = static_cast<WaveInDevice*>(self);
  for (int32_t index = device->slots_.OldestReturned(device->headers_); index >= 0;
       index = device->slots_.OldestReturned(device->headers_)) {
    device->TakeBack(index);
  }
}

void WaveInDevice::TakeBack(int32_t index) {
  WAVEHDR* header = &headers_[index];
  slots_.NoteReturned();
  if (!discarding_.load()) {
    if (handler_ != nullptr) {
      handler_(header, bufferSize_);
    }
    if (file_ != nullptr) {
      AppendToFile(*header);
    }
  }
  const bool unprepared =
      waveInUnprepareHeader(handle_, header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
  if (unprepared && isRunning_.load() && !discarding_.load()) {
    // The same buffer goes to the end of the queue; if the platform refuses
    // it, it drops out of the ring and recording goes on with the others.
    QueueBuffer(header, header->lpData);
  } else {
    slots_.Release(index);
  }
}

void WaveInDevice::AppendToFile(const WAVEHDR& header) {
  const uint32_t count =
      header.dwBytesRecorded <= bufferSize_ ? static_cast<uint32_t>(header.dwBytesRecorded) : 0;
  if (fileFailed_ || count == 0) {
    return;
  }
  // The RIFF sizes are 32-bit: a recording that would outgrow them ends
  // there, and Close reports it.
  if (fileBytes_ + count > kWavMaxDataBytes) {
    fileFailed_ = true;
    return;
  }
  if (std::fwrite(header.lpData, 1, count, file_) != count) {
    fileFailed_ = true;
    return;
  }
  fileBytes_ += count;
}

bool WaveInDevice::FinishFile() {
  bool ok = !fileFailed_;
  int64_t length = -1;
  if (_fseeki64(file_, 0, SEEK_END) == 0) {
    length = _ftelli64(file_);
  }
  if (length >= static_cast<int64_t>(kWavHeaderSize) &&
      length - static_cast<int64_t>(kWavHeaderSize) <= static_cast<int64_t>(kWavMaxDataBytes)) {
    const PcmFormat pcm =
        MakePcmFormat(format_.wBitsPerSample, format_.nChannels, format_.nSamplesPerSec);
    const auto header = MakeWavHeader(pcm, static_cast<uint64_t>(length));
    ok = _fseeki64(file_, 0, SEEK_SET) == 0 &&
         std::fwrite(header.data(), 1, header.size(), file_) == header.size() && ok;
  } else {
    ok = false;
  }
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  fileFailed_ = false;
  fileBytes_ = 0;
  return ok;
}

}  // namespace mimicore
