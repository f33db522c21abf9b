// Fakes that let a test drive the engine block by block.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/voice_engine.h"

namespace mimicore::testing {

struct FakeClock final : Clock {
  uint32_t NowMs() override { return now; }
  uint32_t now = 1000;
};

struct Sinks final : PlaybackSink, DisplaySink {
  bool Write(const void* bytes, uint32_t count) override {
    const auto* s = static_cast<const int16_t*>(bytes);
    samples.insert(samples.end(), s, s + count / 2);
    ++writes;
    return true;
  }
  void OnFrame(const DisplayFrame& f) override {
    last = f;
    ++frames;
  }
  std::vector<int16_t> samples;
  int writes = 0;
  DisplayFrame last;
  int frames = 0;
};

// Locks as a real view's hand-over would (both threads may apply settings);
// |onShow| acts at that instant, as the window thread might.
struct FakeControls final : ControlsView {
  void ShowSettings(const ControlPositions& p) override {
    if (onShow) {
      onShow();
    }
    const std::lock_guard<std::mutex> lock(mutex);
    last = p;
    ++calls;
  }
  std::function<void()> onShow;
  std::mutex mutex;
  ControlPositions last;
  int calls = 0;
};

// A block whose mean absolute value is |amplitude| (alternating sign).
inline std::vector<int16_t> Square(int16_t amplitude, uint32_t n = 880) {
  std::vector<int16_t> v(n, amplitude);
  for (uint32_t i = 1; i < n; i += 2) {
    v[i] = int16_t(-amplitude);
  }
  return v;
}

// An engine with its fakes; each block advances the clock by |stepMs|.
struct Rig {
  EngineSettings settings;
  StatusDisplay status;
  FakeClock clock;
  Sinks sink;
  FakeControls controls;
  VoiceEngine engine{settings, status, clock, &sink, &sink, &controls};
  uint32_t stepMs = 20;

  Rig() { engine.AllocateRing(); }
  void Block(std::vector<int16_t> samples) {
    engine.OnCaptureBlock(samples.data(), uint32_t(samples.size() * 2));
    clock.now += stepMs;
  }
  void Blocks(int16_t amplitude, int count = 1) {
    for (int i = 0; i < count; ++i) {
      Block(Square(amplitude));
    }
  }
  // Quiet blocks until nothing is recording, playing or waiting to play.
  void Drain() {
    for (int n = 0;
         n < 20000 && (engine.Recording() || engine.Playing() || engine.Ring().PendingBytes() != 0);
         ++n) {
      Blocks(0);
    }
  }
};

}  // namespace mimicore::testing
