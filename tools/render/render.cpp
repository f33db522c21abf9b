#include "tools/render/render.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "audio/wav_file.h"
#include "core/audio_block.h"
#include "core/status_display.h"
#include "engine/platform.h"
#include "engine/take_ring.h"
#include "engine/voice_engine.h"
#include "settings/engine_settings.h"

namespace mimicore::render {

namespace {

constexpr const char* kProgram = "mimicore-render";

// The speaker heard by the microphone, as on a laptop without a headset.
struct Loopback {
  bool on = false;
  double gain = 0.0;
  uint32_t delaySamples = kBlockSamples;
};

struct Options {
  std::string input;
  std::string speakerPath;
  std::string takesDir;
  EngineSettingsValues settings = DefaultEngineSettings;
  int32_t echoGuard = 1;
  int32_t preRollMs = 0;
  Loopback loopback;
};

constexpr double kLoopbackMaxGain = 100.0;
constexpr int32_t kLoopbackMaxDelayMs = 10000;

enum class Parsed { kRun, kHelp, kBad };

struct IntFlag {
  std::string_view name;
  int32_t EngineSettingsValues::*field;
};
constexpr std::array<IntFlag, 5> kIntFlags = {{
    {"--threshold", &EngineSettingsValues::NThre},
    {"--peak", &EngineSettingsValues::peakThreshold},
    {"--silence", &EngineSettingsValues::SilenceTime},
    {"--delay", &EngineSettingsValues::Delay},
    {"--bpf", &EngineSettingsValues::Bpf},
}};

struct FloatFlag {
  std::string_view name;
  float EngineSettingsValues::*field;
};
constexpr std::array<FloatFlag, 2> kFloatFlags = {{
    {"--speed", &EngineSettingsValues::Speed},
    {"--decay", &EngineSettingsValues::Decay},
}};

void PrintUsage(std::ostream& os) {
  const EngineSettingsValues& d = DefaultEngineSettings;
  os << "usage: " << kProgram
     << " INPUT.wav [-o SPEAKER.wav] [--takes DIR] [--speed X] [--threshold PCT]\n"
        "         [--peak N] [--silence MS] [--echo] [--delay MS] [--decay X] [--bpf HZ]\n"
        "         [--reverse] [--pre-roll MS] [--no-echo-guard] [--loopback GAIN[,DELAY_MS]]\n"
        "\n"
        "Runs the voice engine on INPUT.wav (PCM, 16-bit, mono, 44100 Hz) as if it were\n"
        "the microphone, in blocks of 880 samples, and goes on with silence until the\n"
        "last take has been played (at most 4096 more blocks).\n"
        "\n"
        "  -o FILE          write the speaker signal, 880 samples per block, as a WAV file\n"
        "  --takes DIR      write every take as DIR/take-001.wav, ... (DIR is created)\n"
        "  --speed X        speed factor (default "
     << d.Speed
     << "; the engine keeps it within 0.5..2.2)\n"
        "  --threshold PCT  voice threshold, percent of the peak level (default "
     << d.NThre
     << ")\n"
        "  --peak N         peak level, the scale of the threshold (default "
     << d.peakThreshold
     << ")\n"
        "  --silence MS     quiet time that ends a take (default "
     << d.SilenceTime
     << ")\n"
        "  --echo           record with the echo on\n"
        "  --delay MS       echo delay setting (default "
     << d.Delay
     << ")\n"
        "  --decay X        echo decay, 0..1 (default "
     << d.Decay
     << ")\n"
        "  --bpf HZ         band-pass centre frequency, 120 or less: off (default "
     << d.Bpf
     << ")\n"
        "  --reverse        play every take backwards (takes are saved as played)\n"
        "  --pre-roll MS    start each take MS of input (0..500) before the block\n"
        "                   that reached the threshold (default 0)\n"
        "  --no-echo-guard  take every loud block for voice, even the speaker's own\n"
        "                   sound coming back (the guard is on by default)\n"
        "  --loopback GAIN[,DELAY_MS]\n"
        "                   add the speaker signal, times GAIN (0..100) and DELAY_MS\n"
        "                   later (at least one block, the default), to the input, as\n"
        "                   a laptop's microphone hears its speakers; the run then goes\n"
        "                   on until the last echo has died away\n"
        "  -h, --help       show this text\n"
        "\n"
        "Prints one line per take, 'take N begin=B end=E samples=S', and a final\n"
        "'done ...' line (with 'echo-blocks=N', the loud blocks the guard took for\n"
        "the speaker's echo, when there were any or a loopback is set). Exit codes: 0 done, 1 an "
        "output could not be written,\n"
        "2 bad command line or input.\n";
}

bool ParseInt(std::string_view s, int32_t& v) {
  int32_t parsed = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size()) {
    return false;
  }
  v = parsed;
  return true;
}

bool ParseFloat(std::string_view s, float& v) {
  float parsed = 0.0F;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), parsed);
  if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(parsed)) {
    return false;
  }
  v = parsed;
  return true;
}

bool ParseLoopback(std::string_view s, Loopback& loopback) {
  const size_t comma = s.find(',');
  float gain = 0.0F;
  int32_t delayMs = 0;
  if (!ParseFloat(s.substr(0, comma), gain) || gain < 0.0F || double(gain) > kLoopbackMaxGain ||
      (comma != std::string_view::npos &&
       (!ParseInt(s.substr(comma + 1), delayMs) || delayMs < 0 || delayMs > kLoopbackMaxDelayMs))) {
    return false;
  }
  loopback.on = true;
  loopback.gain = double(gain);
  // A block's output depends on its input, so its sound can come back one
  // block later at the earliest.
  loopback.delaySamples =
      std::max(kBlockSamples, uint32_t(uint64_t(delayMs) * kSampleRate / 1000U));
  return true;
}

Parsed ParseArgs(int argc, const char* const* argv, Options& o, std::string& problem) {
  bool optionsEnded = false;
  bool haveInput = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
    const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (!isOption) {
      if (haveInput) {
        problem = "more than one input file: '" + std::string(arg) + "'";
        return Parsed::kBad;
      }
      o.input = arg;
      haveInput = true;
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      return Parsed::kHelp;
    }
    if (arg == "--echo" || arg == "--reverse" || arg == "--no-echo-guard") {
      (arg == "--echo"      ? o.settings.Echo
       : arg == "--reverse" ? o.settings.Reverse
                            : o.echoGuard) = arg == "--no-echo-guard" ? 0 : 1;
      continue;
    }

    const auto intFlag = std::find_if(kIntFlags.begin(), kIntFlags.end(),
                                      [&](const IntFlag& f) { return f.name == arg; });
    const auto floatFlag = std::find_if(kFloatFlags.begin(), kFloatFlags.end(),
                                        [&](const FloatFlag& f) { return f.name == arg; });
    const bool pathFlag = arg == "-o" || arg == "--takes";
    const bool ownFlag = arg == "--pre-roll" || arg == "--loopback";
    if (intFlag == kIntFlags.end() && floatFlag == kFloatFlags.end() && !pathFlag && !ownFlag) {
      problem = "unknown option '" + std::string(arg) + "'";
      return Parsed::kBad;
    }
    // A path that starts with a dash is far more likely a forgotten value
    // than a file name; "./-name" still reaches such a file.
    if (i + 1 >= argc || argv[i + 1] == nullptr ||
        (pathFlag && argv[i + 1][0] == '-' && argv[i + 1][1] != '\0')) {
      problem = "missing value for " + std::string(arg);
      return Parsed::kBad;
    }
    const std::string_view value = argv[++i];
    if (arg == "--pre-roll") {
      if (!ParseInt(value, o.preRollMs)) {
        problem = "bad value for --pre-roll: '" + std::string(value) +
                  "' (a whole number of milliseconds is expected)";
        return Parsed::kBad;
      }
    } else if (arg == "--loopback") {
      if (!ParseLoopback(value, o.loopback)) {
        problem = "bad value for --loopback: '" + std::string(value) +
                  "' (GAIN from 0 to 100, then optionally a comma and DELAY_MS from 0 to 10000)";
        return Parsed::kBad;
      }
    } else if (pathFlag) {
      (arg == "-o" ? o.speakerPath : o.takesDir) = value;
    } else if (intFlag != kIntFlags.end()) {
      if (!ParseInt(value, o.settings.*(intFlag->field))) {
        problem = "bad value for " + std::string(arg) + ": '" + std::string(value) +
                  "' (a whole number is expected)";
        return Parsed::kBad;
      }
    } else if (!ParseFloat(value, o.settings.*(floatFlag->field))) {
      problem = "bad value for " + std::string(arg) + ": '" + std::string(value) +
                "' (a finite number is expected)";
      return Parsed::kBad;
    }
  }
  if (!haveInput) {
    problem = "no input file";
    return Parsed::kBad;
  }
  return Parsed::kRun;
}

// The engine's only sense of time: the start of the block being handed over.
class BlockClock final : public Clock {
 public:
  void SetBlock(uint64_t block) { now_ = BlockTickMs(block); }
  uint32_t NowMs() override { return now_; }

 private:
  uint32_t now_ = 0;
};

// Collects what the engine sends to the speaker during one block.
class BlockSink final : public PlaybackSink {
 public:
  void BeginBlock() {
    block_.fill(0);
    filled_ = 0;
    written_ = false;
  }

  bool Write(const void* bytes, uint32_t count) override {
    written_ = true;
    if (bytes == nullptr) {
      return false;
    }
    const uint32_t offered = count / 2U;
    const uint32_t fits = std::min(offered, kBlockSamples - filled_);
    std::memcpy(block_.data() + filled_, bytes, size_t{fits} * sizeof(int16_t));
    filled_ += fits;
    return fits == offered;
  }

  [[nodiscard]] const std::array<int16_t, kBlockSamples>& Block() const { return block_; }
  [[nodiscard]] bool Written() const { return written_; }

 private:
  std::array<int16_t, kBlockSamples> block_{};
  uint32_t filled_ = 0;
  bool written_ = false;
};

// Follows the engine's recording flag and saves every take the moment its
// recording ends, before a later take can overwrite it in the ring.
class TakeSaver {
 public:
  TakeSaver(const VoiceEngine& engine, std::string dir, std::string speakerPath, std::ostream& out,
            std::ostream& err)
      : engine_(engine),
        ring_(engine.Ring()),
        dir_(std::move(dir)),
        speakerPath_(std::move(speakerPath)),
        out_(out),
        err_(err) {}

  // Called after every block with the flag before and after the block and
  // the samples the block appended to the ring. False when a take could
  // not be saved.
  bool AfterBlock(uint64_t block, bool wasRecording, bool isRecording, uint64_t appended) {
    // Blocks the echo guard held are recorded late, a whole take of them
    // perhaps within one block, and begin where they were heard.
    const bool began = engine_.TakesBegun() != takesSeen_;
    takesSeen_ = engine_.TakesBegun();
    if (began) {
      current_ = Open{++count_, std::min(block, engine_.TakeHeardAt() / kBlockSamples), 0};
    }
    if (current_) {
      current_->recorded += appended;
    }
    if ((wasRecording || began) && !isRecording && current_) {
      return Finish(block);
    }
    return true;
  }

  // A take that is still recording when the run stops.
  bool FinishRunning() { return !current_ || Finish(std::nullopt); }

  [[nodiscard]] int Count() const { return count_; }

 private:
  struct Open {
    int number;
    uint64_t begin;
    uint64_t recorded;
  };

  bool Finish(std::optional<uint64_t> end) {
    const Open take = *current_;
    current_.reset();

    // The same snapshot and copy as the program's export: a take that
    // outgrew the ring has lost its head, and what survives is the whole
    // ring, oldest sample first.
    const TakeSnapshot last = ring_.LastTake();
    const auto length = int32_t(last.count);

    std::string saved;
    if (!dir_.empty()) {
      std::array<char, 32> name{};
      std::snprintf(name.data(), name.size(), "take-%03d.wav", take.number);
      saved = (std::filesystem::path(dir_) / name.data()).string();
      // The speaker file, still being written, replaces a take saved under
      // its name at the end anyway; writing the take there would only
      // corrupt it.
      std::error_code ec;
      const bool isSpeaker =
          !speakerPath_.empty() && std::filesystem::equivalent(saved, speakerPath_, ec);
      // One buffer for every take: it never needs more than the ring.
      samples_.resize(static_cast<size_t>(length));
      if (!isSpeaker && !ring_.CopyTake(last, samples_.data())) {
        err_ << kProgram << ": cannot write " << saved << '\n';
        return false;
      }
      if (engine_.PlaysReversed()) {
        std::reverse(samples_.begin(), samples_.end());
      }
      if (!isSpeaker && !WriteWavFile(saved.c_str(), samples_.data(), uint32_t(length))) {
        err_ << kProgram << ": cannot write " << saved << '\n';
        return false;
      }
    }

    out_ << "take " << take.number << " begin=" << take.begin << " end=";
    if (end) {
      out_ << *end;
    } else {
      out_ << "none";
    }
    out_ << " samples=" << length;
    if (!end) {
      out_ << " still-recording";
    }
    if (take.recorded > uint64_t(kRingSamples)) {
      out_ << " lost=" << (take.recorded - uint64_t(kRingSamples));
    }
    out_ << '\n';
    return true;
  }

  const VoiceEngine& engine_;
  const TakeRing& ring_;
  std::string dir_;
  std::string speakerPath_;
  std::vector<int16_t> samples_;
  std::ostream& out_;
  std::ostream& err_;
  std::optional<Open> current_;
  int count_ = 0;
  uint32_t takesSeen_ = 0;
};

bool Busy(const VoiceEngine& engine) {
  return engine.Recording() || engine.Playing() || engine.Ring().PendingBytes() != 0 ||
         engine.HeldBlocks() != 0;
}

// The speaker's sound on its way back into the microphone.
class LoopbackLine {
 public:
  explicit LoopbackLine(const Loopback& loopback)
      : loopback_(loopback), line_(loopback.on ? loopback.delaySamples : 0U, 0) {}

  // Adds what the microphone hears of the speaker to the block at input
  // position |at|, saturating.
  void Mix(uint64_t at, int16_t* samples) const {
    if (!loopback_.on) {
      return;
    }
    for (uint32_t i = 0; i < kBlockSamples; ++i) {
      const int16_t back = line_[size_t((at + i) % line_.size())];
      const auto heard = int32_t(samples[i]) + int32_t(loopback_.gain * double(back));
      samples[i] = int16_t(std::clamp(heard, -32768, 32767));
    }
  }

  // What the speaker played during the block at input position |at|.
  void Played(uint64_t at, const int16_t* samples) {
    if (!loopback_.on) {
      return;
    }
    for (uint32_t i = 0; i < kBlockSamples; ++i) {
      line_[size_t((at + i) % line_.size())] = samples[i];
      if (samples[i] != 0) {
        lastSound_ = at + i + 1;
      }
    }
  }

  // Whether some of the speaker's sound is still to come back after |at|.
  [[nodiscard]] bool Pending(uint64_t at) const {
    return loopback_.on && lastSound_ != 0 && lastSound_ + line_.size() > at;
  }

 private:
  const Loopback& loopback_;
  std::vector<int16_t> line_;
  uint64_t lastSound_ = 0;  // input position after the last sound played
};

// Whether |path| names the folder |dir| names (an empty parent is the
// current folder).
bool InFolder(const std::string& path, const std::string& dir) {
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (parent.empty()) {
    parent = ".";
  }
  std::error_code ec;
  return std::filesystem::equivalent(parent, dir, ec);
}

int Render(const Options& o, const IoBlockSizes& io, std::ostream& out, std::ostream& err) {
  const bool keepSpeaker = !o.speakerPath.empty();
  // An input that this run's outputs may overwrite is read whole first, as
  // is a pipe; everything else is read block by block as the run goes.
  std::error_code same;
  const bool speakerIsInput =
      keepSpeaker && std::filesystem::equivalent(o.input, o.speakerPath, same);
  const bool inputAmongTakes = !o.takesDir.empty() && InFolder(o.input, o.takesDir);
  WavFileReader input(io.readSamples);
  std::string problem;
  if (!input.Open(o.input.c_str(), speakerIsInput || inputAmongTakes, problem)) {
    err << kProgram << ": " << o.input << ": " << problem << '\n';
    return kExitBadInput;
  }
  if (!o.takesDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(o.takesDir, ec);
    if (ec || !std::filesystem::is_directory(o.takesDir, ec)) {
      err << kProgram << ": cannot create directory " << o.takesDir << ": "
          << (ec ? ec.message() : std::string("not a directory")) << '\n';
      return kExitOutputFailed;
    }
  }

  EngineSettings settings(o.settings);
  settings.EchoGuard = o.echoGuard;
  settings.PreRoll = o.preRollMs;
  StatusDisplay status;
  BlockClock clock;
  BlockSink sink;
  auto engine = std::make_unique<VoiceEngine>(settings, status, clock, &sink, nullptr, nullptr);
  if (!engine->AllocateRing()) {
    err << kProgram << ": not enough memory for the take ring\n";
    return kExitOutputFailed;
  }
  TakeSaver takes(*engine, o.takesDir, o.speakerPath, out, err);
  LoopbackLine loopback(o.loopback);

  // Written as the run goes, except over the input, which is replaced only
  // once the run has succeeded.
  WavFileWriter speaker(io.writeSamples);
  if (keepSpeaker && !speaker.Open(o.speakerPath.c_str(), speakerIsInput)) {
    err << kProgram << ": cannot write " << o.speakerPath << '\n';
    return kExitOutputFailed;
  }
  const uint64_t inputBlocks = (input.SampleCount() + kBlockSamples - 1) / kBlockSamples;
  uint64_t playedBlocks = 0;
  uint64_t block = 0;
  std::array<int16_t, kBlockSamples> samples{};
  for (;; ++block) {
    if (block < inputBlocks) {
      size_t n = 0;
      if (!input.Read(samples.data(), samples.size(), n, problem)) {
        err << kProgram << ": " << o.input << ": " << problem << '\n';
        return kExitBadInput;
      }
      std::fill(samples.begin() + std::ptrdiff_t(n), samples.end(), int16_t{0});
    } else {
      if (block - inputBlocks >= kMaxTrailingBlocks ||
          !(Busy(*engine) || loopback.Pending(block * kBlockSamples))) {
        break;
      }
      // The engine may have filtered the previous block in place.
      samples.fill(0);
    }
    loopback.Mix(block * kBlockSamples, samples.data());
    clock.SetBlock(block);
    sink.BeginBlock();
    const bool wasRecording = engine->Recording();
    const int32_t writeBefore = engine->Ring().WritePos();
    engine->OnCaptureBlock(samples.data(), kBlockBytes);
    const auto appended =
        uint64_t((engine->Ring().WritePos() - writeBefore + kRingSamples) % kRingSamples);
    if (!takes.AfterBlock(block, wasRecording, engine->Recording(), appended)) {
      return kExitOutputFailed;
    }
    if (sink.Written()) {
      ++playedBlocks;
    }
    loopback.Played(block * kBlockSamples, sink.Block().data());
    if (keepSpeaker) {
      if ((block + 1) * uint64_t{kBlockSamples} > kWavMaxSamples) {
        err << kProgram << ": " << o.speakerPath << ": speaker signal too long for a WAV file\n";
        return kExitOutputFailed;
      }
      if (!speaker.Append(sink.Block().data(), kBlockSamples)) {
        err << kProgram << ": cannot write " << o.speakerPath << '\n';
        return kExitOutputFailed;
      }
    }
  }
  if (!takes.FinishRunning()) {
    return kExitOutputFailed;
  }
  if (keepSpeaker && !speaker.Finish()) {
    err << kProgram << ": cannot write " << o.speakerPath << '\n';
    return kExitOutputFailed;
  }
  out << "done takes=" << takes.Count() << " input-blocks=" << inputBlocks << " blocks=" << block
      << " played-blocks=" << playedBlocks
      << " unplayed-samples=" << engine->Ring().PendingBytes() / 2U;
  if (engine->EchoBlocks() != 0 || o.loopback.on) {
    out << " echo-blocks=" << engine->EchoBlocks();
  }
  out << '\n';
  return kExitOk;
}

}  // namespace

uint32_t BlockTickMs(uint64_t block) {
  return static_cast<uint32_t>(block * uint64_t{kBlockSamples} * 1000U / kSampleRate);
}

int RunRender(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
              const IoBlockSizes& io) {
  Options options;
  std::string problem;
  switch (ParseArgs(argc, argv, options, problem)) {
    case Parsed::kHelp:
      PrintUsage(out);
      return kExitOk;
    case Parsed::kBad:
      err << kProgram << ": " << problem << '\n';
      PrintUsage(err);
      return kExitBadInput;
    case Parsed::kRun:
      break;
  }
  try {
    return Render(options, io, out, err);
  } catch (const std::bad_alloc&) {
    err << kProgram << ": not enough memory\n";
    return kExitOutputFailed;
  }
}

}  // namespace mimicore::render
