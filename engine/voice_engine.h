// The voice engine: everything that happens to one captured block, driven
// by the capture device calling OnCaptureBlock once per filled buffer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "core/audio_block.h"
#include "core/status_display.h"
#include "engine/biquad_filter.h"
#include "engine/display_frame.h"
#include "engine/echo_effect.h"
#include "engine/echo_guard.h"
#include "engine/platform.h"
#include "engine/take_ring.h"
#include "settings/engine_settings.h"

namespace mimicore {

// The record as the engine acts on it: every value that could hang, crash or
// index outside a buffer is replaced by the nearest harmless one. Values in
// the ranges the program itself produces pass unchanged.
struct EffectiveSettings {
  int32_t peakThreshold;  // at least 1
  int32_t NThre;
  int32_t SilenceTime;
  float speed;         // 0.50 .. 2.20; not a number: 1.0
  uint32_t speedStep;  // speed in 10.22 fixed point
  bool echo;
  int32_t delay;           // 0 .. 300
  float decay;             // 0 .. 1; not a number: 0
  int32_t bpf;             // 0 .. 5120; 120 or less: filter off
  int32_t oscilloDivisor;  // at least 1
  bool reverse;
  bool echoGuard;           // and a threshold above 0: every block is voice at 0
  uint32_t preRollSamples;  // 0 .. 500 ms
};
EffectiveSettings MakeEffective(const EngineSettingsValues& v);
ControlPositions PositionsFor(const EffectiveSettings& e, int32_t nthre, int32_t silenceTime);

inline constexpr int32_t kBpfOffAtOrBelow = 120;
inline constexpr int32_t kBpfMax = 5120;
inline constexpr int32_t kDisplayIntervalMs = 34;
inline constexpr int32_t kPreRollMaxMs = 500;

class VoiceEngine final : public SettingsApplier {
 public:
  // |playback|, |display| and |controls| may be null.
  VoiceEngine(EngineSettings& settings, StatusDisplay& status, Clock& clock, PlaybackSink* playback,
              DisplaySink* display, ControlsView* controls);

  // The ring is allocated once before capture starts and freed after it has
  // stopped.
  bool AllocateRing() { return ring_.Allocate(); }
  void FreeRing() { ring_.Free(); }

  // The capture thread's entry point. |samples| holds bufferBytes / 2
  // samples and is rewritten in place when the band-pass filter is on.
  void OnCaptureBlock(int16_t* samples, uint32_t bufferBytes);

  // Any thread. Shows the record on the controls and has the capture thread
  // redesign the filter before its next block.
  void ApplySettings() override;
  // Window thread: AUTOMODE press.
  void PressAutoMode() { autoModeState_.fetch_add(1); }
  // Window thread: RESET, a preset or closing cancels a calibration. Every
  // value its start replaced comes back, unless the user changed it since:
  // a calibration that is never finished must not leave the program deaf.
  // Done here rather than on the capture thread, which may take no further
  // block (shut-down) before the settings are stored.
  void ResetAutoMode();
  // Window thread: RESET. A calibration is cancelled first, so that the
  // two levels it keeps are the user's and not the calibration's.
  void ResetToDefaults() {
    ResetAutoMode();
    ResetSettings(settings_, *this);
  }
  // Window thread, once shut-down begins: from here on every block is
  // ignored, so that the blocks the capture device still hands over while it
  // closes cannot start a recording or a playback again. A calibration still
  // running is cancelled, however the program is being closed.
  void StopTakes() {
    halted_.store(true);
    recording_.store(false);
    playing_.store(false);
    ResetAutoMode();
  }

  [[nodiscard]] bool Recording() const { return recording_.load(); }
  [[nodiscard]] bool Playing() const { return playing_.load(); }
  [[nodiscard]] int32_t AutoModeState() const { return autoModeState_.load(); }
  // Whether takes are played backwards, so saved as played.
  [[nodiscard]] bool PlaysReversed() const { return settings_.Reverse.load() != 0; }
  // Blocks loud enough to be voice that the echo guard took for playback.
  [[nodiscard]] uint32_t EchoBlocks() const { return echoBlocks_.load(); }
  // Capture thread: the input position (samples since start-up) of the
  // first block recorded in the current or last take; held blocks recorded
  // later count where they were heard.
  [[nodiscard]] uint64_t TakeHeardAt() const { return takeHeardAt_; }
  // Capture thread: takes begun since start-up. Held blocks may begin and
  // end a take within one block's call.
  [[nodiscard]] uint32_t TakesBegun() const { return takesBegun_; }
  // Capture thread: blocks the echo guard holds, recorded or dropped once
  // it has judged them.
  [[nodiscard]] uint32_t HeldBlocks() const { return heldCount_; }
  [[nodiscard]] const TakeRing& Ring() const { return ring_; }

 private:
  static constexpr int32_t kIdleState = 0;

  struct StatusText {
    const char* title = nullptr;
    const char* value = nullptr;  // null: nothing pending
  };

  void RedesignFilterIfAsked(int32_t bpf);
  // The voice decision and the recording for one block heard at |now| and
  // at input position |at| (steps that a held block goes through later).
  void Decide(const int16_t* samples, uint32_t n, uint64_t at, uint32_t now, bool voice,
              const EffectiveSettings& e);
  void WritePreRoll(uint64_t at, const EffectiveSettings& e);
  // |verdict| is the guard's judgement of the block, already made.
  void Hold(uint32_t sum, uint32_t n, uint32_t now, int32_t level, EchoVerdict verdict,
            const EffectiveSettings& e);
  void SettleHeld(const EffectiveSettings& e);
  // Whether a block that seems a voice is the playback come back at a delay
  // not learned yet; the guard then learns that delay.
  bool CopyOfPlayback(uint32_t sum, uint32_t n, uint64_t at, uint64_t stamp);
  void ReleaseHeld(bool voice, const EffectiveSettings& e);
  void CalibrationStep(int32_t peak, int32_t minAbs);
  // With calibrationLock_ held: the values the start replaced, put back
  // where they still hold what the start wrote. True when any came back.
  bool RestoreReplacedValues();
  void ShowPendingResult();
  void UpdateDisplay(const int16_t* samples, uint32_t n, int32_t level, int32_t sinceDraw,
                     const EffectiveSettings& e);

  EngineSettings& settings_;
  StatusDisplay& status_;
  Clock& clock_;
  PlaybackSink* playback_;
  DisplaySink* display_;
  ControlsView* controls_;

  // Shared with the window thread.
  std::atomic<bool> recording_{false};
  std::atomic<bool> playing_{false};
  std::atomic<int32_t> autoModeState_{kIdleState};
  std::atomic<bool> redesignRequested_{true};
  std::atomic<bool> halted_{false};
  // Guards the calibration's state changes and what its start replaced. The
  // capture thread only ever tries it (a busy lock moves the step to the
  // next block); the window thread waits the few instructions it is held.
  std::atomic_flag calibrationLock_;
  bool calibrationArmed_ = false;  // replaced_ holds values to put back
  EngineSettingsValues replaced_{};
  std::atomic<uint32_t> echoBlocks_{0};

  // Capture thread only.
  bool started_ = false;
  uint32_t lastVoiceTick_ = 0;
  uint32_t lastDrawTick_ = 0;
  int32_t calMax_ = 0;
  int32_t calMin_ = 0;
  int32_t designedBpf_ = 0;
  // A calibration result the status line could not take yet.
  StatusText pendingResult_;
  BiquadFilter bandPassFilter_{FilterType::BandPass, 0.5F, 3000.0F, 44100.0F, 0.5F};
  EchoEffect echo_;
  TakeRing ring_;
  EchoGuard guard_;

  // The latest filtered input, for the pre-roll and for held blocks.
  static constexpr uint32_t kPreRollMaxSamples = kPreRollMaxMs * kSampleRate / 1000;
  SampleHistory heard_;
  uint64_t recordedUpTo_ = 0;  // input position after the last block recorded
  uint64_t takeHeardAt_ = 0;
  uint32_t takesBegun_ = 0;
  struct HeldBlock {
    uint64_t at;
    uint32_t n;
    uint32_t tick;
    int32_t level;
  };
  std::array<HeldBlock, EchoGuard::kMaxHeld> held_{};
  uint32_t heldCount_ = 0;
  uint32_t heldLoudTick_ = 0;  // tick of the last loud held block
  // A held block being recorded late, and the pre-roll that may go first.
  std::array<int16_t, kMaxBlockSamples> replay_{};
  std::array<int16_t, kPreRollMaxSamples> preRoll_{};
  std::array<int16_t, kMaxBlockSamples> feed_{};
  // The bars come from a transform of each block's first 512 samples.
  static constexpr int32_t kSpectrumLog2 = 9;
  static constexpr uint32_t kSpectrumPoints = 1U << kSpectrumLog2;
  std::array<int16_t, kSpectrumPoints> spectrumRe_{};
  std::array<int16_t, kSpectrumPoints> spectrumIm_{};
  DisplayFrame frame_;
};

}  // namespace mimicore
