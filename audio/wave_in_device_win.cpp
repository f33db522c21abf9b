#include "audio/wave_in_device_win.h"

#include <array>

#include "audio/wave_format.h"

namespace mimicore {

WaveInDevice::~WaveInDevice() { Close(); }

bool WaveInDevice::Open(const char* fileName, uint16_t bitsPerSample, uint16_t channels,
                        uint32_t samplesPerSecond, int32_t bufferCount, uint32_t bufferSize,
                        BlockHandler handler, UINT deviceId) {
  if (!CloseWithoutDraining()) {
    return false;  // the platform still holds the old buffers
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
  if (!ring_.Open(bitsPerSample, channels, samplesPerSecond, bufferCount, bufferSize,
                  &WaveInDevice::OnReturned, this, deviceId)) {
    return false;
  }
  isOpen_ = true;
  return true;
}

bool WaveInDevice::Start() {
  if (!isOpen_ || isRunning_.load() || ring_.Wedged() || ring_.Queued() != 0) {
    return false;
  }
  // Running before the first buffer can come back, or it would not be
  // queued again.
  isRunning_.store(true);
  // Started with no buffer queued, the device would record nothing and
  // never say so.
  if (ring_.QueueAll() == 0 || waveInStart(ring_.Device()) != MMSYSERR_NOERROR) {
    isRunning_.store(false);
    ring_.ResetQueue();
    return false;
  }
  return true;
}

void WaveInDevice::Stop() {
  if (!isRunning_.exchange(false)) {
    return;
  }
  ring_.Drain();
  waveInStop(ring_.Device());
}

bool WaveInDevice::Close() {
  if (isRunning_.load()) {
    Stop();
  }
  return Closed(ring_.Close(kShutDownGiveUpMs));
}

bool WaveInDevice::CloseDiscarding() {
  if (isRunning_.exchange(false)) {
    ring_.ResetQueue();
    waveInStop(ring_.Device());
  }
  return Closed(ring_.Close(kShutDownGiveUpMs));
}

bool WaveInDevice::CloseWithoutDraining() {
  // Not running any more: what comes back is released, not queued again.
  isRunning_.store(false);
  return ring_.CloseStep(kCloseGiveUpMs) && Closed(true);
}

bool WaveInDevice::Closed(bool released) {
  bool ok = released;
  // A thread given up on may still be writing to the file.
  if (file_ != nullptr && !ring_.NotifierMayRun()) {
    ok = FinishFile() && ok;
  }
  handler_ = nullptr;
  isOpen_ = false;
  return ok;
}

void WaveInDevice::OnReturned(void* self, int32_t index) {
  static_cast<WaveInDevice*>(self)->TakeBack(index);
}

void WaveInDevice::TakeBack(int32_t index) {
  WAVEHDR* header = &ring_.Header(index);
  if (!ring_.Discarding()) {
    if (handler_ != nullptr) {
      handler_(header, ring_.Size());
    }
    if (file_ != nullptr) {
      AppendToFile(*header);
    }
  }
  if (ring_.Unprepare(index) && isRunning_.load() && !ring_.Discarding()) {
    // The same buffer goes to the end of the queue; if the platform refuses
    // it, it drops out of the ring and recording goes on with the others.
    ring_.Queue(index, ring_.Size());
  } else {
    ring_.Release(index);
  }
}

void WaveInDevice::AppendToFile(const WAVEHDR& header) {
  const uint32_t count =
      header.dwBytesRecorded <= ring_.Size() ? static_cast<uint32_t>(header.dwBytesRecorded) : 0;
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
    const WAVEFORMATEX& format = ring_.Format();
    const PcmFormat pcm =
        MakePcmFormat(format.wBitsPerSample, format.nChannels, format.nSamplesPerSec);
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
