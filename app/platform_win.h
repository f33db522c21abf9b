// The engine's doors to the platform, as the Windows program opens them.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <objbase.h>

#include <array>

#include "audio/wave_out_device_win.h"
#include "core/audio_block.h"
#include "engine/platform.h"

namespace mimicore {

class TickClock final : public Clock {
 public:
  uint32_t NowMs() override { return GetTickCount(); }
};

// The engine sends one block out for every block in, so the output is only
// ever one block ahead of the device: the least delay in a capture block
// would run it dry and cut a gap into the take. When the device has nothing
// queued (a playback starts, or it did run dry), a few blocks of silence go
// first and keep it that far ahead from then on.
class WaveOutPlayback final : public PlaybackSink {
 public:
  static constexpr uint32_t kLeadBlocks = 3;

  explicit WaveOutPlayback(WaveOutDevice& device) : device_(device) {}
  bool Write(const void* bytes, uint32_t count) override {
    if (device_.QueuedBuffers() == 0) {
      static constexpr std::array<uint8_t, kLeadBlocks * kBlockBytes> kSilence{};
      device_.Write(kSilence.data(), uint32_t(kSilence.size()));
    }
    return device_.Write(bytes, count);
  }

 private:
  WaveOutDevice& device_;
};

// A message box that stays until the user answers it. Destroying
// half-made windows posts WM_QUIT, which would end the box's own message
// loop at once; the program is ending anyway, so a queued one is dropped.
inline void ShowErrorBox(const char* text, const char* caption) {
  MSG quit;
  while (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE) {
  }
  MessageBoxA(GetFocus(), text, caption, MB_OK);
}

// COM, apartment-threaded, on the window thread for the program's
// lifetime: the shell's ShellExecuteEx (F1) may load extensions that need
// it.
class ComApartment {
 public:
  ComApartment()
      : initialised_(
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
  }
  ~ComApartment() {
    if (initialised_) {
      CoUninitialize();
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialised_;
};

}  // namespace mimicore
