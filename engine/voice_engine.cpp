#include "engine/voice_engine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <utility>

#include "engine/calibration.h"
#include "engine/fixed_fft.h"

namespace mimicore {

namespace {

constexpr float kSpeedMin = 0.5F;
constexpr float kSpeedMax = 2.2F;
constexpr int32_t kDelayMax = 300;

int32_t RoundToInt(float v) { return static_cast<int32_t>(std::lround(v)); }

}  // namespace

EffectiveSettings MakeEffective(const EngineSettingsValues& v) {
  EffectiveSettings e{};
  e.peakThreshold = std::max(v.peakThreshold, 1);
  e.NThre = v.NThre;
  e.SilenceTime = v.SilenceTime;
  e.speed = std::isnan(v.Speed) ? 1.0F : std::clamp(v.Speed, kSpeedMin, kSpeedMax);
  e.speedStep = static_cast<uint32_t>(double(e.speed) * 4194304.0);
  e.echo = v.Echo != 0;
  e.delay = std::clamp(v.Delay, 0, kDelayMax);
  e.decay = std::isnan(v.Decay) ? 0.0F : std::clamp(v.Decay, 0.0F, 1.0F);
  e.bpf = std::clamp(v.Bpf, 0, kBpfMax);
  e.oscilloDivisor = std::max(v.oscilloDivisor, 1);
  e.reverse = v.Reverse != 0;
  e.echoGuard = false;
  e.preRollSamples = 0;
  return e;
}

ControlPositions PositionsFor(const EffectiveSettings& e, int32_t nthre, int32_t silenceTime) {
  ControlPositions p;
  p.speedSlider = RoundToInt(e.speed * 100.0F);
  p.thresholdSlider = nthre;
  p.echoChecked = e.echo;
  p.bandPassKnob = (e.bpf - 120) / 50;
  p.delayKnob = e.delay / 3;
  p.decayKnob = RoundToInt(e.decay * 100.0F);
  p.silenceKnob = silenceTime / 20;
  p.echoKnobsEnabled = e.echo;
  return p;
}

VoiceEngine::VoiceEngine(EngineSettings& settings, StatusDisplay& status, Clock& clock,
                         PlaybackSink* playback, DisplaySink* display, ControlsView* controls)
    : settings_(settings),
      status_(status),
      clock_(clock),
      playback_(playback),
      display_(display),
      controls_(controls) {
  // The spectrum's sine table is built on first use; build it here, long
  // before the capture thread draws its first spectrum.
  SineTable();
}

void VoiceEngine::ApplySettings() {
  const EngineSettingsValues v = settings_.Load();
  const EffectiveSettings e = MakeEffective(v);
  if (controls_ != nullptr) {
    controls_->ShowSettings(PositionsFor(e, v.NThre, v.SilenceTime));
  }
  redesignRequested_.store(true);
}

void VoiceEngine::RedesignFilterIfAsked(int32_t bpf) {
  // A changed frequency redesigns too, so a value set without an apply (a
  // knob turn, a preset) never runs on stale coefficients.
  if (!redesignRequested_.exchange(false) && bpf == designedBpf_) {
    return;
  }
  designedBpf_ = bpf;
  if (bpf > kBpfOffAtOrBelow) {
    bandPassFilter_.Design(FilterType::BandPass, 1.0F, float(bpf), 44100.0F, 0.4F);
  }
}

void VoiceEngine::OnCaptureBlock(int16_t* samples, uint32_t bufferBytes) {
  const uint32_t n = std::min(bufferBytes / 2U, kMaxBlockSamples);
  if (samples == nullptr || n == 0 || halted_.load()) {
    return;
  }
  EffectiveSettings e = MakeEffective(settings_.Load());
  e.echoGuard = settings_.EchoGuard.load() != 0 && e.NThre > 0;
  e.preRollSamples =
      uint32_t(std::clamp(settings_.PreRoll.load(), 0, kPreRollMaxMs)) * kSampleRate / 1000U;
  RedesignFilterIfAsked(e.bpf);

  const uint32_t now = clock_.NowMs();
  if (!started_) {
    started_ = true;
    lastVoiceTick_ = now;
    lastDrawTick_ = now;
  }
  const auto sinceDraw = static_cast<int32_t>(now - lastDrawTick_);

  uint32_t sum = 0;
  int32_t peak = 0;
  int32_t minAbs = 50000;
  if (e.bpf > kBpfOffAtOrBelow) {
    bandPassFilter_.ProcessBlock(samples, n);
  }
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t a = std::abs(int32_t{samples[i]});
    sum += uint32_t(a);
    peak = std::max(peak, a);
    minAbs = std::min(minAbs, a);
  }
  const int32_t level = int32_t((sum / n) * 100U) / e.peakThreshold;
  const uint64_t at = heard_.End();
  heard_.Append(samples, n);

  const bool loud = level >= e.NThre;
  const uint64_t stamp = guard_.Stamp();
  const bool judged = e.echoGuard && guard_.InReach(stamp);
  EchoVerdict verdict = judged && loud ? guard_.Judge(sum, stamp) : EchoVerdict::kVoice;
  // Only a block that would begin a take is searched: the search is costly,
  // and a take under way is never cut short anyway (held blocks: see Hold).
  if (judged && loud && verdict == EchoVerdict::kVoice && heldCount_ == 0 && !recording_.load() &&
      CopyOfPlayback(sum, n, at, stamp)) {
    verdict = EchoVerdict::kEcho;
  }
  if (heldCount_ != 0 && !e.echoGuard) {
    ReleaseHeld(true, e);
  }
  if (heldCount_ != 0 || (judged && verdict == EchoVerdict::kUnsure && !recording_.load())) {
    Hold(sum, n, now, level, verdict, e);
  } else {
    // Counted as voice while recording unless plainly echo, so that a take
    // is never cut short by a guess.
    const bool voice = loud && verdict != EchoVerdict::kEcho;
    if (loud && !voice) {
      echoBlocks_.fetch_add(1);
    }
    if (judged) {
      guard_.Learn(sum, n, stamp, !voice);
    }
    Decide(samples, n, at, now, voice, e);
  }

  if (heldCount_ != 0 && playing_.load() && ring_.PendingBytes() <= n * 2U) {
    // Held any longer, a voice would find the playback ended where without
    // the guard it would have been played on into.
    SettleHeld(e);
  }

  if (playing_.load()) {
    const bool more =
        e.reverse ? ring_.ReadBlockReversed(feed_.data(), n) : ring_.ReadBlock(feed_.data(), n);
    if (playback_ != nullptr) {
      playback_->Write(feed_.data(), n * 2U);
    }
    if (!more) {
      playing_.store(false);
    }
    guard_.AddPlayed(feed_.data(), n);
  } else {
    guard_.AddPlayed(nullptr, n);
  }

  CalibrationStep(peak, minAbs);

  if (sinceDraw >= kDisplayIntervalMs) {
    // The calibration may have changed the scale this very block.
    const EffectiveSettings shown = MakeEffective(settings_.Load());
    UpdateDisplay(samples, n, level, sinceDraw, shown);
    lastDrawTick_ = clock_.NowMs();
  }
}

void VoiceEngine::Decide(const int16_t* samples, uint32_t n, uint64_t at, uint32_t now, bool voice,
                         const EffectiveSettings& e) {
  const auto sinceVoice = static_cast<int32_t>(now - lastVoiceTick_);
  if (voice) {
    if (!recording_.load()) {
      ring_.MarkTakeStart();
      takeHeardAt_ = at;
      ++takesBegun_;
      WritePreRoll(at, e);
    }
    lastVoiceTick_ = now;
    recording_.store(true);
    status_.TryShowIfIdle("", "REC");
  } else if (sinceVoice >= e.SilenceTime) {
    if (recording_.exchange(false)) {
      ring_.MarkTakeEnd();
    }
    if (ring_.PendingBytes() != 0) {
      // Announce only the start of a playback, not every quiet block after.
      if (!playing_.exchange(true)) {
        status_.TryShowIfIdle("", "PLAY");
      }
    }
  }

  if (recording_.load()) {
    ring_.WriteBlock(samples, n, e.speedStep, {e.echo, e.delay, e.decay}, echo_);
    recordedUpTo_ = at + n;
  }
}

void VoiceEngine::WritePreRoll(uint64_t at, const EffectiveSettings& e) {
  // Never input the previous take already holds, nor what has been
  // overwritten since.
  uint64_t from = at - std::min<uint64_t>(at, e.preRollSamples);
  from = std::max({from, recordedUpTo_, heard_.Begin()});
  if (from >= at) {
    return;
  }
  const auto count = uint32_t(at - from);
  heard_.Copy(from, count, preRoll_.data());
  ring_.WriteBlock(preRoll_.data(), count, e.speedStep, {e.echo, e.delay, e.decay}, echo_);
}

void VoiceEngine::Hold(uint32_t sum, uint32_t n, uint32_t now, int32_t level, EchoVerdict verdict,
                       const EffectiveSettings& e) {
  // Room for the held blocks and a whole pre-roll before the first of them.
  const uint64_t heldSamples = heldCount_ == 0 ? 0 : heard_.End() - held_[0].at;
  if (heldCount_ == EchoGuard::kMaxHeld ||
      heldSamples + n + kPreRollMaxSamples > SampleHistory::kSamples) {
    SettleHeld(e);
  }
  if (heldCount_ == 0) {
    guard_.ClearHeld();
  }
  held_[heldCount_++] = {heard_.End() - n, n, now, level};
  guard_.AddHeld(sum, n, guard_.Stamp(), heard_.End() - n, level >= e.NThre);
  if (level >= e.NThre) {
    heldLoudTick_ = now;
  }
  const bool voice = level >= e.NThre && verdict == EchoVerdict::kVoice &&
                     !CopyOfPlayback(sum, n, heard_.End() - n, guard_.Stamp());
  if (voice) {
    ReleaseHeld(true, e);
  } else if (heldCount_ == EchoGuard::kMaxHeld ||
             static_cast<int32_t>(now - heldLoudTick_) >= e.SilenceTime) {
    // Had the held blocks been taken for voice, this block would end their
    // take and may start its playback: judged now, that happens on time.
    SettleHeld(e);
  } else {
    const int32_t lag = guard_.HeldExplained(heard_);
    if (lag >= 0) {
      guard_.LearnFromHeld(lag);
      ReleaseHeld(false, e);
    }
  }
}

void VoiceEngine::SettleHeld(const EffectiveSettings& e) {
  // Judgement cannot wait for ever: what is still unexplained is taken for
  // what it seems, as it would be without the guard.
  const int32_t lag = guard_.HeldExplained(heard_);
  if (lag >= 0) {
    guard_.LearnFromHeld(lag);
  }
  ReleaseHeld(lag < 0 && !guard_.HeldAllCopies(heard_), e);
}

bool VoiceEngine::CopyOfPlayback(uint32_t sum, uint32_t n, uint64_t at, uint64_t stamp) {
  const int32_t lag = guard_.CopiedAt(heard_, at, n);
  if (lag >= 0) {
    guard_.LearnCopy(lag, sum, n, stamp);
  }
  return lag >= 0;
}

void VoiceEngine::ReleaseHeld(bool voice, const EffectiveSettings& e) {
  // Each held block goes through the decision as it would have when it was
  // heard, so that a voice's take is the same bytes as without the guard.
  const uint32_t count = std::exchange(heldCount_, 0U);
  guard_.ClearHeld();
  for (uint32_t i = 0; i < count; ++i) {
    const HeldBlock& b = held_[i];
    const bool loud = b.level >= e.NThre;
    if (loud && !voice) {
      echoBlocks_.fetch_add(1);
    }
    heard_.Copy(b.at, b.n, replay_.data());
    Decide(replay_.data(), b.n, b.at, b.tick, loud && voice, e);
  }
}

namespace {

// What a calibration starts with: no block can reach the threshold, and
// nothing colours the voice being measured.
EngineSettingsValues CalibrationStartValues(EngineSettingsValues v) {
  v.peakThreshold = 40000;
  v.NThre = 100;
  v.SilenceTime = 2000;
  v.Speed = 1.0F;
  v.Echo = 0;
  v.Bpf = 0;
  v.Reverse = 0;
  v.oscilloDivisor = 32768;
  return v;
}

// Puts |before| back only where the field still holds |written|, so that a
// value the user set meanwhile stays.
template <typename T>
bool PutBack(std::atomic<T>& field, T written, T before) {
  return field.compare_exchange_strong(written, before);
}

class SpinGuard {
 public:
  explicit SpinGuard(std::atomic_flag& flag) : flag_(flag) {
    while (flag_.test_and_set(std::memory_order_acquire)) {
      std::this_thread::yield();
    }
  }
  ~SpinGuard() { flag_.clear(std::memory_order_release); }
  SpinGuard(const SpinGuard&) = delete;
  SpinGuard& operator=(const SpinGuard&) = delete;

 private:
  std::atomic_flag& flag_;
};

}  // namespace

bool VoiceEngine::RestoreReplacedValues() {
  if (!calibrationArmed_) {
    return false;
  }
  calibrationArmed_ = false;
  const EngineSettingsValues& b = replaced_;
  const EngineSettingsValues w = CalibrationStartValues(b);
  bool any = PutBack(settings_.peakThreshold, w.peakThreshold, b.peakThreshold);
  any = PutBack(settings_.NThre, w.NThre, b.NThre) || any;
  any = PutBack(settings_.SilenceTime, w.SilenceTime, b.SilenceTime) || any;
  any = PutBack(settings_.Speed, w.Speed, b.Speed) || any;
  any = PutBack(settings_.Echo, w.Echo, b.Echo) || any;
  any = PutBack(settings_.Bpf, w.Bpf, b.Bpf) || any;
  any = PutBack(settings_.Reverse, w.Reverse, b.Reverse) || any;
  any = PutBack(settings_.oscilloDivisor, w.oscilloDivisor, b.oscilloDivisor) || any;
  return any;
}

void VoiceEngine::ResetAutoMode() {
  bool restored = false;
  {
    const SpinGuard guard(calibrationLock_);
    autoModeState_.store(kIdleState);
    restored = RestoreReplacedValues();
  }
  if (restored) {
    ApplySettings();
  }
}

void VoiceEngine::CalibrationStep(int32_t peak, int32_t minAbs) {
  const int32_t state = autoModeState_.load();
  if (state != kAutoStart && state != kAutoFinish) {
    if (state == kAutoMeasuring) {
      status_.TryShow(kCalibrationPrompt, " ");
      calMax_ = std::max(calMax_, peak);
      calMin_ = std::min(calMin_, minAbs);
    } else {
      ShowPendingResult();
    }
    return;
  }
  // The window thread is cancelling this instant: the step waits for the
  // next block, which then sees what the cancel left.
  if (calibrationLock_.test_and_set(std::memory_order_acquire)) {
    return;
  }
  bool apply = false;
  if (autoModeState_.load() == kAutoStart) {
    const EngineSettingsValues before = settings_.Load();
    // A start that follows an unfinished one keeps what came before both.
    if (!calibrationArmed_) {
      replaced_ = before;
      calibrationArmed_ = true;
    }
    settings_.Store(CalibrationStartValues(before));
    calMax_ = 0;
    calMin_ = 50000;
    pendingResult_ = {};  // a new measurement outdates an unshown result
    // A press that arrived meanwhile moves it on further instead of being
    // lost.
    int32_t expected = kAutoStart;
    while (!autoModeState_.compare_exchange_weak(expected, expected + 1)) {
    }
    apply = true;
  } else if (autoModeState_.load() == kAutoFinish) {
    const CalibrationResult r = FinishCalibration(calMax_, calMin_);
    EngineSettingsValues v = settings_.Load();
    v.Bpf = 0;
    v.peakThreshold = r.peakThreshold;
    v.oscilloDivisor = r.oscilloDivisor;
    v.Speed = 1.0F;
    v.Echo = 0;
    v.Reverse = 0;
    v.SilenceTime = DefaultEngineSettings.SilenceTime;
    v.NThre = r.NThre;
    settings_.Store(v);
    calibrationArmed_ = false;  // finished: the results are the settings now
    int32_t expected = kAutoFinish;
    autoModeState_.compare_exchange_strong(expected, kIdleState);
    pendingResult_ = r.measured ? StatusText{"", "OK!"} : StatusText{kCalibrationNothingHeard, " "};
    apply = true;
  }
  calibrationLock_.clear(std::memory_order_release);
  // Outside the lock: showing the values reaches the window thread, which
  // may be waiting for it.
  if (apply) {
    ApplySettings();
  }
  ShowPendingResult();
}

void VoiceEngine::ShowPendingResult() {
  // The window thread may be writing a status this very instant; the result
  // then waits for a later block rather than being lost.
  if (pendingResult_.value != nullptr &&
      status_.TryShow(pendingResult_.title, pendingResult_.value)) {
    pendingResult_ = {};
  }
}

void VoiceEngine::UpdateDisplay(const int16_t* samples, uint32_t n, int32_t level,
                                int32_t sinceDraw, const EffectiveSettings& e) {
  if (display_ == nullptr) {
    // Nothing shows the picture (the command-line renderer), so the
    // transform is skipped, but the status texts still age.
    status_.TryTakeFrame(sinceDraw, frame_.status);
    return;
  }
  DisplayFrame& f = frame_;
  f.meterSegments = MeterSegments(level);
  f.traceCount = ComputeTrace(samples, n, e.oscilloDivisor, f.trace);

  // Every transform starts from the block's first 512 samples and zero
  // imaginary parts, so no earlier output leaks into this frame's bars.
  const uint32_t copied = std::min(n, kSpectrumPoints);
  std::copy_n(samples, copied, spectrumRe_.begin());
  std::fill(spectrumRe_.begin() + copied, spectrumRe_.begin() + kSpectrumPoints, int16_t{0});
  std::fill(spectrumIm_.begin(), spectrumIm_.begin() + kSpectrumPoints, int16_t{0});
  const int32_t r = FixedFft(spectrumRe_.data(), spectrumIm_.data(), kSpectrumLog2, 0);
  ComputeBars(spectrumIm_.data(), r, e.oscilloDivisor, f.barHeights);

  // When the window thread is writing the status this instant, the frame
  // keeps the texts it had and the time is counted on the next frame.
  status_.TryTakeFrame(sinceDraw, f.status);
  f.statusVisible = f.status.value[0] != '\0';
  f.valueTop = kStatusTextBox.top + (f.status.title[0] != '\0' ? 2 : 0);

  if (display_ != nullptr) {
    display_->OnFrame(f);
  }
}

}  // namespace mimicore
