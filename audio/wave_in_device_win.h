// The capture device: keeps the platform's wave input recording without a
// pause through a ring of buffers, hands every filled buffer to one block
// handler and, if asked, appends it to a WAV file.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "audio/wave_ring_win.h"

namespace mimicore {

// Called for every filled buffer, one at a time and in recording order, on
// the device's notification thread. |bufferSize| is the configured buffer
// size. The handler may rewrite the samples in place but nothing else in
// the header.
using BlockHandler = void (*)(WAVEHDR* header, uint32_t bufferSize);

class WaveInDevice {
 public:
  WaveInDevice() = default;
  virtual ~WaveInDevice();
  WaveInDevice(const WaveInDevice&) = delete;
  WaveInDevice& operator=(const WaveInDevice&) = delete;

  // Allocates |bufferCount| buffers of |bufferSize| bytes and opens the
  // input |deviceId| (WAVE_MAPPER: the default one) in the given PCM format. |fileName| (may be
  // null) receives everything recorded as a WAV file; |handler| may be null. Anything the device
  // still holds is closed first. On false, what was allocated or opened stays until Close.
  bool Open(const char* fileName, uint16_t bitsPerSample, uint16_t channels,
            uint32_t samplesPerSecond, int32_t bufferCount, uint32_t bufferSize,
            BlockHandler handler, UINT deviceId = WAVE_MAPPER);
  // Queues every buffer and starts recording. False when the device is not
  // open, already running, the platform takes none of the buffers or
  // refuses to start.
  bool Start();
  // Lets every queued buffer fill and reach the handler, then stops. A device
  // that gives nothing back for a quarter of a second is given up on; what it still
  // held is then dropped, not handed over.
  void Stop();
  // Stops if running, closes the platform device, releases the buffers and
  // completes the file, within a few hundred milliseconds beyond the drain.
  // False when the file could not be written completely or the platform
  // would not give its buffers back (they are then left to it rather than
  // freed under it).
  bool Close();
  // Close for a shut-down whose handler ignores every block: the queued
  // buffers are given back at once instead of being filled first (a full
  // queue takes about 1.3 s to fill), and no longer reach the handler.
  bool CloseDiscarding();
  // One step of closing a device that stopped answering, for the window
  // thread: what it holds is dropped instead of being waited for, and no
  // wait lasts longer than kCloseStepMs. True once closed (the file, if any,
  // completed); false while the platform still holds buffers: call again
  // later. The handler no longer runs once HandlerMayRun() is false, even
  // before the device is closed.
  bool CloseWithoutDraining();
  // Sets of buffers left to a platform that would not give them back.
  [[nodiscard]] uint32_t AbandonedBufferSets() const { return ring_.AbandonedSets(); }

  // Buffers the platform holds now.
  [[nodiscard]] int32_t QueuedBuffers() const { return ring_.Queued(); }
  // Buffers given back by the platform since Open.
  [[nodiscard]] uint32_t ReturnedBuffers() const { return ring_.Returned(); }
  // The handler may be called now or later; false once Close has ended the
  // notification thread, after which the handler's data are the caller's.
  [[nodiscard]] bool HandlerMayRun() const { return ring_.NotifierMayRun(); }

 private:
  bool FinishFile();
  // Once the ring is closed; |released| as the ring said.
  bool Closed(bool released);
  void AppendToFile(const WAVEHDR& header);

  static void OnReturned(void* self, int32_t index);
  void TakeBack(int32_t index);

  WaveRing<WaveInCalls> ring_;
  std::FILE* file_ = nullptr;
  BlockHandler handler_ = nullptr;
  bool isOpen_ = false;
  std::atomic<bool> isRunning_{false};
  // Notification thread only, until it has ended.
  bool fileFailed_ = false;
  uint64_t fileBytes_ = 0;
};

}  // namespace mimicore
