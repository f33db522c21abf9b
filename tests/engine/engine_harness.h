// Small fakes that let a test drive the engine block by block.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/platform.h"
#include "engine/voice_engine.h"

namespace mimicore::testing {

class FakeClock final : public Clock {
 public:
  uint32_t NowMs() override { return now; }
  uint32_t now = 1000;
};

class CollectingSink final : public PlaybackSink {
 public:
  bool Write(const void* bytes, uint32_t count) override {
    const auto* s = static_cast<const int16_t*>(bytes);
    samples.insert(samples.end(), s, s + count / 2);
    ++writes;
    lastCount = count;
    return true;
  }
  std::vector<int16_t> samples;
  int writes = 0;
  uint32_t lastCount = 0;
};

class FrameSink final : public DisplaySink {
 public:
  void OnFrame(const DisplayFrame& f) override {
    last = f;
    ++frames;
  }
  DisplayFrame last;
  int frames = 0;
};

// Both threads may apply settings (the capture thread while calibrating), so
// the fake takes a lock as a real view's hand-over would. |onShow| lets a
// test act at that instant, as the window thread might.
class FakeControls final : public ControlsView {
 public:
  void ShowSettings(const ControlPositions& p) override {
    if (onShow) {
      onShow();
    }
    std::lock_guard<std::mutex> lock(mutex);
    last = p;
    ++calls;
  }
  std::function<void()> onShow;
  std::mutex mutex;
  ControlPositions last;
  int calls = 0;
};

// An engine with its fakes; each Block() advances the clock by |stepMs|.
struct Rig {
  EngineSettings settings;
  StatusDisplay status;
  FakeClock clock;
  CollectingSink sink;
  FrameSink frames;
  FakeControls controls;
  VoiceEngine engine{settings, status, clock, &sink, &frames, &controls};
  uint32_t stepMs = 20;

  Rig() { engine.AllocateRing(); }

  void Block(std::vector<int16_t> samples) {
    engine.OnCaptureBlock(samples.data(), uint32_t(samples.size() * 2));
    clock.now += stepMs;
  }
  void Block(int16_t value) { Block(std::vector<int16_t>(880, value)); }
  // Quiet blocks until nothing is recording, playing or waiting to play.
  int Drain(int maxBlocks = 20000) {
    int n = 0;
    while (n < maxBlocks &&
           (engine.Recording() || engine.Playing() || engine.Ring().PendingBytes() != 0)) {
      Block(int16_t{0});
      ++n;
    }
    return n;
  }
};

// A block whose mean absolute value is |amplitude| (alternating sign).
inline std::vector<int16_t> Square(int16_t amplitude, uint32_t n = 880) {
  std::vector<int16_t> v(n);
  for (uint32_t i = 0; i < n; ++i) {
    v[i] = (i % 2 == 0) ? amplitude : int16_t(-amplitude);
  }
  return v;
}

}  // namespace mimicore::testing
