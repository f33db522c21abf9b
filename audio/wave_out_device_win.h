// The playback device: a ring of buffers that Write fills in turn and queues
// to the platform's wave output, which plays them back to back.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "audio/wave_ring_win.h"

namespace mimicore {

// Called for every buffer that finished playing, in the order written, on
// the device's notification thread.
using DoneHandler = void (*)(WAVEHDR* header, uint32_t bufferSize);

class WaveOutDevice {
 public:
  WaveOutDevice() = default;
  virtual ~WaveOutDevice();
  WaveOutDevice(const WaveOutDevice&) = delete;
  WaveOutDevice& operator=(const WaveOutDevice&) = delete;

  // Allocates |bufferCount| buffers of |bufferSize| bytes and opens the
  // output |deviceId| (WAVE_MAPPER: the default one) in the given PCM format. |doneHandler| may be
  // null. Anything the device still holds is closed first. On false, what was allocated stays until
  // Close.
  bool Open(uint16_t bitsPerSample, uint16_t channels, uint32_t samplesPerSecond,
            int32_t bufferCount, uint32_t bufferSize, DoneHandler doneHandler,
            UINT deviceId = WAVE_MAPPER);
  // Copies |count| bytes into the buffers from NextBuffer() on, each at most
  // a buffer's size, and queues them; never waits. One call fills each
  // buffer at most once. A buffer the device has not finished playing is
  // never overwritten: the rest of the call is dropped there, and NextBuffer()
  // stays on that buffer. True only when every byte was queued.
  // Not to run at the same time as Open or Close.
  bool Write(const void* source, uint32_t count);
  // Waits until the queued output has played, closes the platform device and
  // releases the buffers. A device that stops answering is given up on after
  // a quarter of a second; false then, or when the platform would not give
  // its buffers back (they are then left to it rather than freed under it).
  bool Close();
  // One step of closing a device that stopped answering, for the window
  // thread: what is queued is dropped instead of being waited for, and no
  // wait lasts longer than kCloseStepMs. True once closed; false while the
  // platform still holds buffers: call again later. Only once nothing
  // writes to the device any more.
  bool CloseWithoutDraining();
  // Sets of buffers left to a platform that would not give them back.
  [[nodiscard]] uint32_t AbandonedBufferSets() const { return ring_.AbandonedSets(); }

  // The buffer the next Write fills first; kept across Close.
  [[nodiscard]] uint32_t NextBuffer() const { return nextBuffer_.load(); }
  // Buffers the platform holds now.
  [[nodiscard]] int32_t QueuedBuffers() const { return ring_.Queued(); }
  // Buffers given back by the platform since Open.
  [[nodiscard]] uint32_t ReturnedBuffers() const { return ring_.Returned(); }

 private:
  static void OnReturned(void* self, int32_t index);
  void TakeBack(int32_t index);

  WaveRing<WaveOutCalls> ring_;
  // Written by Write only; read by the tests' thread too.
  std::atomic<uint32_t> nextBuffer_{0};
  DoneHandler doneHandler_ = nullptr;
  bool isOpen_ = false;
};

}  // namespace mimicore
