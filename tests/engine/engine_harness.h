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

// Both threads may apply settings; |onShow| acts at that instant as the window thread might.
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

// An engine with its fakes, playing into |samples|; each block takes 20 ms.
struct Rig final : PlaybackSink, DisplaySink {
  bool Write(const void* bytes, uint32_t count) override {
    const auto* s = static_cast<const int16_t*>(bytes);
    samples.insert(samples.end(), s, s + count / 2);
    return true;
  }
  void OnFrame(const DisplayFrame& frame) override {
    ++frames;
    shown = frame;
  }
  std::vector<int16_t> samples;
  int frames = 0;
  DisplayFrame shown;
  EngineSettings settings;
  StatusDisplay status;
  FakeClock clock;
  FakeControls controls;
  VoiceEngine engine{settings, status, clock, this, this, &controls};

  Rig() { engine.AllocateRing(); }
  void Block(std::vector<int16_t> samples) {
    engine.OnCaptureBlock(samples.data(), uint32_t(samples.size() * 2));
    clock.now += 20;
  }
  // |count| blocks whose mean absolute value is |amplitude|.
  void Blocks(int16_t amplitude, int count = 1) {
    std::vector<int16_t> v(880, amplitude);
    for (size_t i = 1; i < v.size(); i += 2) {
      v[i] = int16_t(-amplitude);
    }
    for (int i = 0; i < count; ++i) {
      Block(v);
    }
  }
};

}  // namespace mimicore::testing
