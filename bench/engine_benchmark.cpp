// OnCaptureBlock per block, reported as a real-time factor: how many blocks'
// worth of audio the engine handles in the time one block lasts.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "engine/fixed_fft.h"
#include "engine/voice_engine.h"

namespace mimicore {
namespace {

class SteppedClock final : public Clock {
 public:
  uint32_t NowMs() override { return now; }
  uint32_t now = 0;
};

class NullPlayback final : public PlaybackSink {
 public:
  bool Write(const void* bytes, uint32_t count) override {
    benchmark::DoNotOptimize(bytes);
    benchmark::DoNotOptimize(count);
    return true;
  }
};

class NullDisplay final : public DisplaySink {
 public:
  void OnFrame(const DisplayFrame& frame) override {
    benchmark::DoNotOptimize(&frame);
    ++frames;
  }
  int64_t frames = 0;
};

std::vector<int16_t> Tone(double hz, double amplitude) {
  std::vector<int16_t> v(kBlockSamples);
  for (size_t i = 0; i < v.size(); ++i) {
    v[i] = int16_t(amplitude * std::sin(2.0 * std::numbers::pi * hz * double(i) / kSampleRate));
  }
  return v;
}

void Run(benchmark::State& state, const EngineSettingsValues& values, bool talkAndPlay,
         int32_t preRollMs = 0) {
  EngineSettings settings(values);
  settings.PreRoll = preRollMs;
  StatusDisplay status;
  SteppedClock clock;
  NullPlayback playback;
  NullDisplay display;
  VoiceEngine engine(settings, status, clock, &playback, &display, nullptr);
  if (!engine.AllocateRing()) {
    state.SkipWithError("no memory for the take ring");
    return;
  }
  const std::vector<int16_t> voice = Tone(1000.0, 20000.0);
  const std::vector<int16_t> quiet(kBlockSamples, 0);
  std::vector<int16_t> block(kBlockSamples);
  auto feed = [&](const std::vector<int16_t>& src) {
    std::memcpy(block.data(), src.data(), kBlockBytes);
    engine.OnCaptureBlock(block.data(), kBlockBytes);
    clock.now += 20;  // a display frame on every second block
  };
  if (talkAndPlay) {
    // A first take, then its playback, then talking on top of it: from here
    // on every block records and plays.
    for (int i = 0; i < 20; ++i) {
      feed(voice);
    }
    while (!engine.Playing()) {
      feed(quiet);
    }
    // Over the first moments of the first playback the echo guard may hold
    // the voice before it records it.
    for (int i = 0; i < 64 && !(engine.Recording() && engine.Playing()); ++i) {
      feed(voice);
    }
    if (!(engine.Recording() && engine.Playing())) {
      state.SkipWithError("could not reach recording during playback");
      return;
    }
  }
  const std::vector<int16_t>& input = talkAndPlay ? voice : quiet;
  const auto begin = std::chrono::steady_clock::now();
  for (auto _ : state) {
    feed(input);
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - begin;
  if (talkAndPlay && !(engine.Recording() && engine.Playing())) {
    state.SkipWithError("left recording during playback");
  }
  const double blockSeconds = double(kBlockSamples) / double(kSampleRate);
  // Against the wall clock, not CPU time: the audio does not wait.
  state.counters["realtime_factor"] =
      benchmark::Counter(double(state.iterations()) * blockSeconds / wall.count());
  state.counters["frames_per_block"] =
      benchmark::Counter(double(display.frames) / double(state.iterations()));
}

void BM_OnCaptureBlock_EverythingOn(benchmark::State& state) {
  EngineSettingsValues v = DefaultEngineSettings;
  v.Bpf = 1000;
  v.Echo = 1;
  v.Speed = 0.5F;
  v.NThre = 10;
  // The echo guard is on by default; with a pre-roll every take starts
  // from the recent input as well.
  Run(state, v, true, 200);
}

void BM_OnCaptureBlock_Defaults(benchmark::State& state) {
  Run(state, DefaultEngineSettings, false);
}

BENCHMARK(BM_OnCaptureBlock_EverythingOn);
BENCHMARK(BM_OnCaptureBlock_Defaults);

}  // namespace
}  // namespace mimicore

namespace mimicore {
namespace {

void BM_FixedFft512(benchmark::State& state) {
  std::array<int16_t, 512> re{};
  std::array<int16_t, 512> im{};
  for (auto _ : state) {
    for (size_t i = 0; i < re.size(); ++i) {
      re[i] = int16_t((i * 7919) & 0x3FFF);
    }
    im.fill(0);
    benchmark::DoNotOptimize(FixedFft(re.data(), im.data(), 9, 0));
  }
}
BENCHMARK(BM_FixedFft512);

void BM_BandPass880(benchmark::State& state) {
  BiquadFilter f(FilterType::BandPass, 1.0F, 1000.0F, 44100.0F, 0.4F);
  std::vector<int16_t> block(kBlockSamples, 1000);
  for (auto _ : state) {
    f.ProcessBlock(block.data(), kBlockSamples);
    benchmark::DoNotOptimize(block.data());
  }
}
BENCHMARK(BM_BandPass880);

}  // namespace
}  // namespace mimicore

BENCHMARK_MAIN();
