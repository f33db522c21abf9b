// The few narrow doors through which the voice engine reaches the platform.
// The Windows program, the command-line renderer and the tests each supply
// their own.
#pragma once

#include <cstdint>

namespace mimicore {

struct DisplayFrame;

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds, wrapping at 2^32 like the system tick counter.
  virtual uint32_t NowMs() = 0;
};

class PlaybackSink {
 public:
  virtual ~PlaybackSink() = default;
  // Queues |count| bytes of 16-bit mono PCM for output without waiting.
  virtual bool Write(const void* bytes, uint32_t count) = 0;
};

class DisplaySink {
 public:
  virtual ~DisplaySink() = default;
  // Called on the capture thread; the frame is only valid during the call.
  virtual void OnFrame(const DisplayFrame& frame) = 0;
};

// Where the settings panel shows the record. Positions are as the controls
// take them; the controls clamp to their own ranges.
struct ControlPositions {
  int32_t speedSlider = 0;      // Speed x 100, rounded
  int32_t thresholdSlider = 0;  // NThre
  bool echoChecked = false;
  int32_t bandPassKnob = 0;  // (Bpf - 120) / 50
  int32_t delayKnob = 0;     // Delay / 3
  int32_t decayKnob = 0;     // Decay x 100, rounded
  int32_t silenceKnob = 0;   // SilenceTime / 20
  bool echoKnobsEnabled = false;

  friend bool operator==(const ControlPositions&, const ControlPositions&) = default;
};

class ControlsView {
 public:
  virtual ~ControlsView() = default;
  // May be called on the capture thread (calibration); an implementation
  // that owns windows must hand the positions over without waiting.
  virtual void ShowSettings(const ControlPositions& positions) = 0;
};

}  // namespace mimicore
