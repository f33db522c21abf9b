#include "audio/wave_out_device_win.h"

#include <cstring>

namespace mimicore {

WaveOutDevice::~WaveOutDevice() { Close(); }

bool WaveOutDevice::Open(uint16_t bitsPerSample, uint16_t channels, uint32_t samplesPerSecond,
                         int32_t bufferCount, uint32_t bufferSize, DoneHandler doneHandler,
                         UINT deviceId) {
  if (!CloseWithoutDraining()) {
    return false;  // the platform still holds the old buffers
  }
  doneHandler_ = doneHandler;
  const bool opened = ring_.Open(bitsPerSample, channels, samplesPerSecond, bufferCount, bufferSize,
                                 &WaveOutDevice::OnReturned, this, deviceId);
  // The cursor survives a Close, but not a smaller ring.
  if (ring_.Count() != 0 && nextBuffer_.load() >= static_cast<uint32_t>(ring_.Count())) {
    nextBuffer_.store(0);
  }
  isOpen_ = opened;
  return opened;
}

bool WaveOutDevice::Write(const void* source, uint32_t count) {
  if (count == 0) {
    return true;
  }
  if (!isOpen_ || ring_.Count() <= 0 || source == nullptr) {
    return false;
  }
  const auto ringSize = static_cast<uint32_t>(ring_.Count());
  const uint32_t bufferSize = ring_.Size();
  const auto* from = static_cast<const char*>(source);
  uint32_t next = nextBuffer_.load();
  if (next >= ringSize) {
    next = 0;
  }
  const uint32_t first = next;
  bool allQueued = true;
  while (count > 0) {
    const auto index = static_cast<int32_t>(next);
    // Waiting here would stall the capture thread; the block is dropped.
    if (!ring_.IsIdle(index)) {
      break;
    }
    const uint32_t chunk = count < bufferSize ? count : bufferSize;
    std::memcpy(ring_.Buffer(index), from, chunk);
    allQueued = ring_.Queue(index, chunk) && allQueued;
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
  ring_.Wake();
  return allQueued && count == 0;
}

bool WaveOutDevice::CloseWithoutDraining() {
  if (!ring_.CloseStep(kCloseGiveUpMs)) {
    return false;
  }
  doneHandler_ = nullptr;
  isOpen_ = false;
  return true;
}

bool WaveOutDevice::Close() {
  const bool drained = ring_.Drain();
  const bool released = ring_.Close(kShutDownGiveUpMs);
  doneHandler_ = nullptr;
  isOpen_ = false;
  return drained && released;
}

void WaveOutDevice::OnReturned(void* self, int32_t index) {
  static_cast<WaveOutDevice*>(self)->TakeBack(index);
}

void WaveOutDevice::TakeBack(int32_t index) {
  if (doneHandler_ != nullptr && !ring_.Discarding()) {
    doneHandler_(&ring_.Header(index), ring_.Size());
  }
  ring_.Unprepare(index);
  ring_.Release(index);
}

}  // namespace mimicore
