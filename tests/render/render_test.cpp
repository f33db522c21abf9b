// Each test works in a folder of its own: ctest runs them in parallel.
#include "tools/render/render.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <numeric>
#include <random>
#include <sstream>

#include "audio/take_export.h"
#include "audio/wav_file.h"
#include "engine/biquad_filter.h"

namespace mimicore {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;
constexpr size_t kBlock = 880;

fs::path Scratch() {
  const fs::path dir = fs::path(MIMICORE_RENDER_SCRATCH) /
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

struct ToolRun {
  int rc;
  std::string out, err;
};
ToolRun Render(std::vector<std::string> args, render::IoBlockSizes io = {}) {
  std::vector<const char*> argv = {"mimicore-render"};
  for (const std::string& a : args) {
    argv.push_back(a.c_str());
  }
  std::ostringstream out, err;
  const int rc = render::RunRender(int(argv.size()), argv.data(), out, err, io);
  return {rc, out.str(), err.str()};
}

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
Samples Read(const fs::path& path) {
  Samples s;
  std::string error;
  EXPECT_TRUE(ReadWavFile(path.string().c_str(), s, error)) << path << ": " << error;
  return s;
}

// Each value little-endian in as many bytes as its pair says.
Bytes Le(const std::vector<std::pair<uint64_t, int>>& values) {
  Bytes b;
  for (auto [v, n] : values) {
    for (int i = 0; i < n; ++i) {
      b.push_back(uint8_t(v >> (8 * i)));
    }
  }
  return b;
}
// A chunk: id, size (the body's, or |declared|), body and pad byte.
Bytes Chunk(const char* id, const Bytes& body, int64_t declared = -1) {
  Bytes c(id, id + 4);
  const Bytes size = Le({{declared >= 0 ? uint64_t(declared) : body.size(), 4}});
  c.insert(c.end(), size.begin(), size.end());
  c.insert(c.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) {
    c.push_back(0);
  }
  return c;
}
Bytes Fmt(uint32_t tag = 1, uint32_t channels = 1, uint32_t rate = 44100, uint32_t bits = 16) {
  const uint32_t align = channels * bits / 8;
  return Chunk("fmt ",
               Le({{tag, 2}, {channels, 2}, {rate, 4}, {rate * align, 4}, {align, 2}, {bits, 2}}));
}
Bytes Data(const Samples& s) {
  std::vector<std::pair<uint64_t, int>> values;
  for (const int16_t v : s) {
    values.emplace_back(uint16_t(v), 2);
  }
  return Chunk("data", Le(values));
}
Bytes Riff(const std::vector<Bytes>& chunks, const char* form = "WAVE") {
  Bytes body(form, form + 4);
  for (const Bytes& c : chunks) {
    body.insert(body.end(), c.begin(), c.end());
  }
  return Chunk("RIFF", body);
}

// 440 Hz bursts on the blocks [first, last] of |on| over faint noise, |extra| samples more.
fs::path Input(const fs::path& dir, size_t blocks, std::vector<std::pair<size_t, size_t>> on,
               size_t extra = 0) {
  Samples s(blocks * kBlock + extra, 0);
  std::mt19937 rng(3);
  for (size_t i = 0; i < s.size(); ++i) {
    const bool loud = std::any_of(on.begin(), on.end(), [&](auto r) {
      return i / kBlock >= r.first && i / kBlock <= r.second;
    });
    s[i] = int16_t(loud ? 8000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * double(i) / 44100.0)
                        : double(int(rng() % 41) - 20));
  }
  const fs::path path = dir / "in.wav";
  EXPECT_TRUE(WriteWavFile(path.string().c_str(), s.data(), uint32_t(s.size())));
  return path;
}

// Speech-like: noise whose loudness swells and dips (never to silence) every
// 230 ms, rising from nothing over its first |soft| samples. |seed| makes
// each phrase its own.
Samples Phrase(size_t length, uint32_t seed, double amplitude, size_t soft = 0) {
  Samples s(length);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < length; ++i) {
    const double swell = 0.55 + 0.45 * std::sin(2.0 * std::numbers::pi * double(i) / 10143.0);
    const double rise = i < soft ? double(i) / double(soft) : 1.0;
    s[i] = int16_t(amplitude * swell * rise * (double(rng() % 20001) / 10000.0 - 1.0));
  }
  return s;
}
// |phrases| (start sample, samples) laid over faint noise, |seconds| long.
fs::path Scene(const fs::path& dir, double seconds,
               const std::vector<std::pair<size_t, Samples>>& phrases) {
  Samples s(size_t(seconds * 44100.0));
  std::mt19937 rng(5);
  std::generate(s.begin(), s.end(), [&] { return int16_t(int(rng() % 41) - 20); });
  for (const auto& [at, phrase] : phrases) {
    for (size_t i = 0; i < phrase.size() && at + i < s.size(); ++i) {
      s[at + i] = int16_t(std::clamp(int(s[at + i]) + phrase[i], -32768, 32767));
    }
  }
  fs::create_directories(dir);
  const fs::path path = dir / "scene.wav";
  EXPECT_TRUE(WriteWavFile(path.string().c_str(), s.data(), uint32_t(s.size())));
  return path;
}
std::string Field(const std::string& report, const std::string& name) {
  const size_t at = report.rfind(" " + name + "=");
  return at == std::string::npos
             ? ""
             : report.substr(at + name.size() + 2)
                   .substr(0, report.substr(at + name.size() + 2).find_first_of(" \n"));
}

// Runs |fn| with every file limited to |bytes|, as on a nearly full disk.
void WithFileSizeLimit(rlim_t bytes, const std::function<void()>& fn) {
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = bytes;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  fn();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
}

TEST(Render, EachTakeIsSavedWhenItEndsAndPlayedOnce) {
  const fs::path dir = Scratch();
  const Samples input = Read(Input(dir, 140, {{10, 29}, {130, 139}}));
  const ToolRun run = Render(
      {(dir / "in.wav").string(), "-o", (dir / "out.wav").string(), "--takes", dir.string()});
  // Block 29 ends at 578 ms, the first block 600 ms later is 60; 139 -> 170.
  EXPECT_EQ(run.out,
            "take 1 begin=10 end=60 samples=44000\ntake 2 begin=130 end=170 samples=35200\n"
            "done takes=2 input-blocks=140 blocks=210 played-blocks=90 unplayed-samples=0\n");
  const Samples first = Read(dir / "take-001.wav");
  const Samples second = Read(dir / "take-002.wav");
  EXPECT_TRUE(std::equal(first.begin(), first.end(), input.begin() + 10 * kBlock));
  Samples tail(input.begin() + 130 * kBlock, input.end());  // then silence past the input's end
  tail.resize(second.size());
  EXPECT_EQ(second, tail);
  Samples speaker(210 * kBlock, 0);  // silent but for each take once, when it ends
  std::copy(first.begin(), first.end(), speaker.begin() + 60 * kBlock);
  std::copy(second.begin(), second.end(), speaker.begin() + 170 * kBlock);
  EXPECT_EQ(Read(dir / "out.wav"), speaker);

  const std::string in = Input(dir, 100, {{10, 29}}).string();
  fs::create_directories(dir / "cut");
  const std::pair<std::vector<std::string>, std::string> flags[] = {
      {{in, "--threshold", "0"},  // every block is voice: the take never ends
       "take 1 begin=0 end=none samples=3604480 still-recording lost=88000\ndone takes=1 "
       "input-blocks=100 blocks=4196 played-blocks=0 unplayed-samples=3604480\n"},
      {{in, "--speed", "2.20"}, "take 1 begin=10 end=60 samples=20000\n"},
      {{in, "--silence", "200"}, "take 1 begin=10 end=39 samples=25520\n"},
      {{in, "--peak", "40000"}, "done takes=0"},  // level 12 of 40000, below 40
      {{in, "--bpf", "2000"}, "done takes=0"},    // far from the tone
      {{in, "--silence", "-5", "--delay", "-1", "--speed", "-1", "--echo"}, "take 1 begin=10 "},
      {{Input(dir / "cut", 30, {{10, 29}}).string()},  // ends loud: silence follows it
       "take 1 begin=10 end=60 samples=44000\ndone takes=1 input-blocks=30 blocks=110 "},
      {{in, "--loopback", "0.5,3000", "--no-echo-guard"},  // on until the last echo is back
       "take 1 begin=10 end=60 samples=44000\ntake 2 begin=210 end=260 samples=44000\ndone takes=2 "
       "input-blocks=100 blocks=461 played-blocks=100 unplayed-samples=0 echo-blocks=0\n"},
  };
  for (const auto& [args, report] : flags) {
    EXPECT_EQ(Render(args).out.rfind(report, 0), 0U) << args.back() << ": " << report;
  }
  // The band-pass runs on from block to block without a seam: a take is its input filtered whole.
  Samples filtered = Read(in);
  BiquadFilter(FilterType::BandPass, 1.0F, 440.0F, 44100.0F, 0.4F)
      .ProcessBlock(filtered.data(), uint32_t(filtered.size()));
  ASSERT_EQ(Render({in, "--bpf", "440", "--takes", (dir / "bp").string()})
                .out.rfind("take 1 begin=10 ", 0),
            0U);
  const Samples take = Read(dir / "bp/take-001.wav");
  EXPECT_TRUE(std::equal(take.begin(), take.end(), filtered.begin() + 10 * kBlock));
}

// A laptop hears its own speakers: one phrase is one take however loud and late it comes back,
// and a voice 6 dB over the echo during the very first playback is still a take of its own.
TEST(Render, EchoGuardAnswersOnlyTheUser) {
  const fs::path dir = Scratch();
  const Samples first = Phrase(88200, 1, 12000.0);
  const struct {
    const char* loopback;
    double gain;
    bool repeatsUnguarded;
    const char* echoBlocks;  // loud blocks taken for the echo
    const char* answer = "take 2 begin=231 end=336 samples=92400\n";
  } cases[] = {{"0.05", 0.05, false, "0"},
               {"0.6", 0.6, true, "58"},
               {"1,120", 1.0, true, "72", "take 2 begin=230 end=336 samples=93280\n"},
               {"0.4,250", 0.4, true, "43"},
               {"1.0,250", 1.0, true, "72"},
               {"0.8,19", 0.8, true, "67"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.loopback);
    const std::string alone = Scene(dir, 23.0, {{44100, first}}).string();
    const ToolRun guarded = Render({alone, "--loopback", c.loopback});
    EXPECT_EQ(Field(guarded.out, "takes"), "1") << guarded.out;
    EXPECT_EQ(std::pair(Field(guarded.out, "unplayed-samples"), Field(guarded.out, "echo-blocks")),
              std::pair(std::string("0"), std::string(c.echoBlocks)));
    const ToolRun unguarded = Render({alone, "--loopback", c.loopback, "--no-echo-guard"});
    EXPECT_EQ(Field(unguarded.out, "takes") != "1", c.repeatsUnguarded) << unguarded.out;
    EXPECT_EQ(Field(unguarded.out, "echo-blocks"), "0");
    if (!c.repeatsUnguarded) {
      continue;  // so faint an echo that 6 dB over it is no voice either
    }
    // Playback starts after 2 s of phrase and 0.6 s of silence; the user answers 1 s into it.
    const Samples second = Phrase(66150, 2, 2.0 * c.gain * 12000.0);
    const std::string both = Scene(dir, 23.0, {{44100, first}, {202860, second}}).string();
    const ToolRun bargeIn = Render({both, "--loopback", c.loopback});
    EXPECT_EQ(Field(bargeIn.out, "takes"), "2") << bargeIn.out;
    EXPECT_NE(bargeIn.out.find(c.answer), std::string::npos) << bargeIn.out;
  }
}

// Where no playback reaches the microphone the guard changes nothing, also for a voice
// over the first playback's first moments, which it holds and records late.
TEST(Render, WithoutLoopbackTheGuardChangesNoByte) {
  const fs::path dir = Scratch();
  const std::string tones = Input(dir, 200, {{10, 29}, {120, 134}}, 123).string();
  const Samples first = Phrase(88200, 1, 12000.0);
  const std::vector<std::vector<std::string>> cases = {
      {tones},
      {tones, "--echo", "--speed", "0.73", "--bpf", "440"},
      {tones, "--threshold", "0"},
      {tones, "--speed", "2.20", "--silence", "200"},
      {Scene(dir / "a", 9.0, {{4410, first}, {128000, Phrase(30000, 2, 9000.0)}}).string()},
      {Scene(dir / "b", 9.0, {{4410, first}, {121000, Phrase(8000, 3, 9000.0)}}).string(),
       "--reverse", "--pre-roll", "300"},
      // A first take shorter than the guard's reach, answered just after it has played.
      {Scene(dir / "c", 3.0, {{4410, Phrase(4400, 7, 12000.0)}, {33000, Phrase(2640, 3, 9000.0)}})
           .string(),
       "--silence", "200", "--pre-roll", "100"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.back());
    std::vector<Bytes> outputs;
    std::vector<std::string> reports;
    for (const char* guard : {"--echo", "--no-echo-guard"}) {
      fs::remove_all(dir / "takes");
      std::vector<std::string> run = args;
      run.insert(run.end(),
                 {"-o", (dir / "out.wav").string(), "--takes", (dir / "takes").string()});
      if (std::string(guard) != "--echo") {
        run.emplace_back(guard);
      }
      reports.push_back(Render(run).out);
      outputs.push_back(ReadBytes(dir / "out.wav"));
      for (const auto& take : fs::directory_iterator(dir / "takes")) {
        outputs.push_back(ReadBytes(take.path()));
      }
    }
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_TRUE(outputs.size() % 2 == 0 &&
                std::equal(outputs.begin(), outputs.begin() + std::ptrdiff_t(outputs.size() / 2),
                           outputs.begin() + std::ptrdiff_t(outputs.size() / 2)));
  }
}

// Pre-roll keeps a soft beginning but never input the last take holds; reverse plays
// (and saves) each finished take backwards, a take begun meanwhile after it.
TEST(Render, PreRollAndReverse) {
  const fs::path dir = Scratch();
  const Samples soft = Phrase(66150, 4, 12000.0, 13230);  // 300 ms from nothing
  const fs::path scene = Scene(dir, 8.0, {{44100, soft}, {138000, Phrase(30000, 6, 12000.0)}});
  const Samples input = Read(scene);
  const auto takes = [&](std::vector<std::string> flags) {
    fs::remove_all(dir / "takes");
    flags.insert(flags.begin(), {scene.string(), "--takes", (dir / "takes").string(), "-o",
                                 (dir / "out.wav").string()});
    const ToolRun run = Render(flags);
    return std::tuple(run.out, Read(dir / "takes/take-001.wav"), Read(dir / "takes/take-002.wav"));
  };
  const auto [plain, plain1, plain2] = takes({});
  const Bytes plainSpeaker = ReadBytes(dir / "out.wav");
  EXPECT_EQ(takes({"--pre-roll", "0"}), std::tuple(plain, plain1, plain2));
  EXPECT_EQ(ReadBytes(dir / "out.wav"), plainSpeaker);
  const size_t begin1 = std::stoul(plain.substr(plain.find("begin=") + 6)) * kBlock;
  const size_t end1 = begin1 + plain1.size();
  ASSERT_GT(begin1, 44100U + 8820U) << "the threshold is reached later than 200 ms into the phrase";
  const size_t begin2 = std::stoul(plain.substr(plain.rfind("begin=") + 6)) * kBlock;
  ASSERT_LT(begin2 - end1, 8820U) << "the second take follows the first closely";

  const auto [rolled, rolled1, rolled2] = takes({"--pre-roll", "200"});
  EXPECT_EQ(
      Samples(input.begin() + std::ptrdiff_t(begin1 - 8820), input.begin() + std::ptrdiff_t(end1)),
      rolled1);
  EXPECT_EQ(Samples(input.begin() + std::ptrdiff_t(end1),
                    input.begin() + std::ptrdiff_t(begin2) + std::ptrdiff_t(plain2.size())),
            rolled2)
      << "only what the first take does not hold";
  const auto most = takes({"--pre-roll", "500"});
  EXPECT_EQ(takes({"--pre-roll", "900"}), most);
  EXPECT_EQ(std::get<1>(most).size(), plain1.size() + 22050) << "500 ms, the most";

  const auto [reversed, reversed1, reversed2] = takes({"--reverse"});
  EXPECT_EQ(reversed, plain);
  EXPECT_EQ(reversed1, Samples(plain1.rbegin(), plain1.rend()));
  EXPECT_EQ(reversed2, Samples(plain2.rbegin(), plain2.rend()));
  Samples speaker = Read(dir / "out.wav");
  const size_t played1 = end1;  // from the block on which the silence time has passed
  EXPECT_TRUE(
      std::equal(reversed1.begin(), reversed1.end(), speaker.begin() + std::ptrdiff_t(played1)));
  EXPECT_TRUE(std::equal(reversed2.begin(), reversed2.end(),
                         speaker.begin() + std::ptrdiff_t(played1 + reversed1.size())))
      << "the second take, recorded while the first played, waits for it";
}

// Bad input exits 2 (a bad command line with the usage after the reason), an output that cannot
// be written 1, before anything is rendered; values at the ends of their ranges are taken.
TEST(Render, BadInputCommandLinesAndUnwritableOutputs) {
  const fs::path dir = Scratch();
  const std::string in = Input(dir, 3, {}).string();
  const std::string speaker = (dir / "speaker.wav").string();
  struct Case {
    std::vector<std::string> args;
    int rc;
    std::string says;  // the first line after "mimicore-render: ", or the output's start
    bool usage = false;
  };
  // A flag's value refused: the flag, the value and what was expected, then the usage.
  const auto refused = [&](const std::string& flag, const std::string& value, const char* wanted) {
    return Case{
        {in, flag, value}, 2, "bad value for " + flag + ": '" + value + "' (" + wanted + ")", true};
  };
  const char* const number = "a finite number is expected";
  const char* const whole = "a whole number is expected";
  const char* const loopback =
      "GAIN from 0 to 100, then optionally a comma and DELAY_MS from 0 to 10000";
  const Case cases[] = {
      {{(dir / "none.wav").string(), "-o", speaker},
       2,
       (dir / "none.wav: cannot open: No such file or directory").string()},
      {{"/dev/zero", "-o", speaker}, 2, "/dev/zero: empty file"},
      {{"--", "-x.wav"}, 2, "-x.wav: cannot open: No such file or directory"},
      {{"-", "-o", speaker}, 2, "-: cannot open: No such file or directory"},
      {{}, 2, "no input file", true},
      {{in, "--bogus"}, 2, "unknown option '--bogus'", true},
      {{in, in}, 2, "more than one input file: '" + in + "'", true},
      {{in, "-o"}, 2, "missing value for -o", true},
      {{in, "--takes", "-t"}, 2, "missing value for --takes", true},
      {{in, "--speed"}, 2, "missing value for --speed", true},
      refused("--speed", "0.5x", number),
      refused("--decay", "nan", number),
      refused("--peak", "", whole),
      refused("--threshold", "1.5", whole),
      refused("--pre-roll", "1e3", "a whole number of milliseconds is expected"),
      refused("--loopback", "1,x", loopback),
      refused("--loopback", "-0.5", loopback),
      refused("--loopback", "100.01", loopback),
      refused("--loopback", "0.5,-1", loopback),
      refused("--loopback", "0.5,10001", loopback),
      {{in, "-o", (dir / "no-dir" / "out.wav").string()},
       1,
       "cannot write " + (dir / "no-dir" / "out.wav").string()},
      {{in, "--takes", in}, 1, "cannot create directory " + in + ": Not a directory"},
      {{in, "--loopback", "100,10000"}, 0, "done takes=0 input-blocks=3 blocks=3 "},
      {{in, "--loopback", "0,0"}, 0, "done takes=0 input-blocks=3 blocks=3 "},
      {{"-h", "--bogus"}, 0, "usage: mimicore-render INPUT.wav"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Render(c.args);
    EXPECT_EQ(run.rc, c.rc) << c.says;
    if (c.rc == 0) {
      EXPECT_EQ(run.out.rfind(c.says, 0), 0U) << run.out;
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "mimicore-render: " + c.says);
      EXPECT_EQ(run.err.find("\nusage: mimicore-render INPUT.wav") != std::string::npos, c.usage)
          << run.err;
      EXPECT_EQ(run.out, "") << c.says;
    }
    EXPECT_FALSE(fs::exists(speaker)) << c.says;
  }
  EXPECT_EQ(Read(in).size(), 3 * kBlock) << "the input survives";
}

// Pieces of any size, outputs over the input or among the takes: the same bytes.
TEST(Render, OutputsAreTheSameBytesWhateverThePiecesAndPlaces) {
  const fs::path dir = Scratch();
  const fs::path input = Input(dir, 200, {{10, 29}, {120, 134}}, 123);
  const auto render = [&](const fs::path& base, const char* inAt, const char* speakerAt,
                          render::IoBlockSizes io) {
    fs::create_directories(base / "takes");
    fs::copy_file(input, base / inAt);
    const ToolRun run =
        Render({(base / inAt).string(), "-o", (base / speakerAt).string(), "--takes",
                (base / "takes").string(), "--echo", "--speed", "0.73", "--bpf", "440"},
               io);
    return std::tuple(run.rc, run.out, ReadBytes(base / speakerAt),
                      ReadBytes(base / "takes/take-001.wav"),
                      ReadBytes(base / "takes/take-002.wav"));
  };
  const auto whole = render(dir / "whole", "in.wav", "speaker.wav", {1U << 22U, 1U << 22U});
  ASSERT_EQ(std::get<1>(whole).rfind("take 1", 0), 0U);
  EXPECT_TRUE(render(dir / "a", "in.wav", "speaker.wav", {1000, 333}) == whole);
  EXPECT_TRUE(render(dir / "b", "in.wav", "speaker.wav", {1, 7}) == whole);
  EXPECT_TRUE(render(dir / "c", "in.wav", "in.wav", {879, 881}) == whole);
  EXPECT_TRUE(render(dir / "d", "takes/take-001.wav", "speaker.wav", {}) == whole);
}

TEST(Render, SpeakerFileFailingMidRunIsRemovedAndExitsOne) {
  const fs::path dir = Scratch();
  const std::string in = Input(dir, 100, {}).string();
  const std::string out = (dir / "out.wav").string();
  ToolRun run;
  WithFileSizeLimit(100000, [&] { run = Render({in, "-o", out}, {1000, 333}); });
  EXPECT_EQ(run.rc, 1);
  EXPECT_NE(run.err.find("cannot write " + out), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(out));
  // Written over the input at the end, small enough to go out only in the close's flush.
  fs::create_directories(dir / "small");
  const std::string small = Input(dir / "small", 2, {}).string();
  WithFileSizeLimit(1000, [&] { run = Render({small, "-o", small}); });
  EXPECT_EQ(std::pair(run.rc, run.err),
            std::pair(1, "mimicore-render: cannot write " + small + "\n"));
  EXPECT_EQ(Render({in, "-o", "/dev/full"}).rc, 1);
  EXPECT_TRUE(fs::exists("/dev/full")) << "a device is never removed";
  // A take that cannot be saved (its name is taken by a folder) stops the run there.
  fs::create_directories(dir / "t" / "take-001.wav");
  run = Render({Input(dir / "t", 100, {{10, 29}}).string(), "--takes", (dir / "t").string()});
  EXPECT_EQ(
      std::tuple(run.rc, run.out, run.err),
      std::tuple(1, std::string(),
                 "mimicore-render: cannot write " + (dir / "t/take-001.wav").string() + "\n"));
  WavFileWriter nothing;  // nothing appended: no file
  EXPECT_FALSE(!nothing.Open(out.c_str(), false) || nothing.Open(out.c_str(), false) ||
               nothing.Finish());
  EXPECT_FALSE(fs::exists(out));
}

TEST(WavFile, WritesTheExactLayoutOrNothing) {
  const std::string path = (Scratch() / "take.wav").string();
  const Samples samples = {0x1234, -2, 0, -32768, 32767};
  ASSERT_TRUE(WriteWavFile(path.c_str(), samples.data(), uint32_t(samples.size())));
  EXPECT_EQ(ReadBytes(path), Riff({Fmt(), Data(samples)}));
  fs::remove(path);
  const Samples many(100003, 7);
  EXPECT_FALSE(WriteWavFile(path.c_str(), nullptr, 1) ||
               WriteWavFile(path.c_str(), many.data(), 0) ||
               WriteWavFile(path.c_str(), many.data(), kWavMaxSamples + 1));
  bool written = true;
  WithFileSizeLimit(1000, [&] { written = WriteWavFile(path.c_str(), many.data(), 880); });
  EXPECT_FALSE(written);
  EXPECT_FALSE(fs::exists(path)) << "a short file is removed";
}

// Saving over a file: the old one stays byte for byte unless a complete new one replaces it.
TEST(WavFile, SavingOverAFileReplacesItOnlyWhole) {
  const fs::path dir = Scratch();
  const std::string path = (dir / "take.wav").string();
  const Bytes old = {'o', 'l', 'd'};
  const Samples many(100003, 7);
  const auto refuse = [](const char*, const char*) { return false; };
  for (int round = 0; round < 3; ++round) {
    WriteBytes(path, old);
    bool written = true;
    if (round == 0) {
      WithFileSizeLimit(1000,
                        [&] { written = WriteWavFileReplacing(path.c_str(), many.data(), 880); });
    } else if (round == 1) {
      written = WriteWavFileReplacing(path.c_str(), many.data(), 880, refuse);
    } else {
      written = WriteWavFileReplacing(path.c_str(), many.data(), 880);
    }
    EXPECT_EQ(written, round == 2);
    EXPECT_EQ(ReadBytes(path), round == 2 ? Riff({Fmt(), Data(Samples(880, 7))}) : old) << round;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "no temporary file is left, round " << round;
  }
  // Leftovers of interrupted saves: a hundred of them leave no name to write to; any fewer do.
  for (int n = 0; n < 100; ++n) {
    WriteBytes(dir / ("~mimicore-save-" + std::to_string(n) + ".tmp"), old);
    EXPECT_EQ(WriteWavFileReplacing(path.c_str(), many.data(), 880), n < 99) << n;
  }
  EXPECT_EQ(ReadBytes(dir / "~mimicore-save-99.tmp"), old);
  EXPECT_FALSE(WriteWavFileReplacing((dir / "no" / "x.wav").string().c_str(), many.data(), 1) ||
               WriteWavFileReplacing("", many.data(), 1));
}

// Enter: the take is saved under the chosen name (".wav" added where the file's own name has
// no type), as it is played; the status says how it went, nothing for a cancelled dialog.
TEST(TakeExport, SavesTheLastTakeUnderItsNameOrSaysWhyNot) {
  const fs::path dir = Scratch();
  struct Chooser final : SaveFileChooser {
    Choice Choose(char* path, size_t capacity) override {
      ++asked;
      std::strncpy(path, name.c_str(), capacity);  // may fill it unterminated
      return choice;
    }
    std::string name;
    Choice choice = Choice::kChosen;
    int asked = 0;
  };
  TakeRing ring;
  ASSERT_TRUE(ring.Allocate());
  EchoEffect echo;
  Samples take(880);
  std::iota(take.begin(), take.end(), int16_t{-400});
  ring.WriteBlock(take.data(), 880, 4194304, {}, echo);
  const std::string fits = dir.string() + std::string(254 - dir.string().size(), '/') + "z";
  const auto none = [](size_t) { return std::unique_ptr<int16_t[]>(); };
  using enum SaveOutcome;
  const struct {
    std::string name, file;  // file: "" when nothing may be written
    SaveOutcome outcome;
    bool reversed = false;
    Choice choice = Choice::kChosen;
    SampleAllocator allocate = AllocateSamples;
  } cases[] = {{"a", "a.wav", kSaved},
               {"b.x/c", "b.x/c.wav", kSaved, true},
               {"d.raw", "d.raw", kSaved},
               {fits, fits + ".wav", kSaved},
               {fits + "z", "", kNotSaved},
               {"", "", kNotSaved},
               {std::string(300, 'h'), "", kNotSaved},
               {"e", "", kNotSaved, false, Choice::kChosen, none},
               {"f", "", kNotSaved, false, Choice::kFailed},
               {"g", "", kCancelled, false, Choice::kCancelled}};
  fs::create_directories(dir / "b.x");
  for (const auto& c : cases) {
    Chooser chooser;
    chooser.name = c.name.empty() || c.name[0] == '/' ? c.name : (dir / c.name).string();
    chooser.choice = c.choice;
    StatusDisplay status;
    EXPECT_EQ(SaveLastTake(ring, chooser, status, c.allocate, c.reversed), c.outcome) << c.name;
    EXPECT_STREQ(status.Read().title, c.outcome == kSaved      ? "SAVED"
                                      : c.outcome == kNotSaved ? "NOT SAVED!"
                                                               : "")
        << c.name;
    if (!c.file.empty()) {
      const fs::path file = c.file[0] == '/' ? fs::path(c.file) : dir / c.file;
      EXPECT_EQ(Read(file), c.reversed ? Samples(take.rbegin(), take.rend()) : take) << c.name;
      fs::remove(file);
    }
  }
  EXPECT_TRUE(fs::is_empty(dir / "b.x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  TakeRing empty;
  empty.Allocate();
  Chooser never;
  StatusDisplay status;
  EXPECT_EQ(SaveLastTake(empty, never, status), SaveOutcome::kNotSaved);
  EXPECT_EQ(never.asked, 0) << "nothing recorded: no dialog";
}

// The whole-file and the streaming reader give the same samples or the same message.
TEST(WavFile, ReadersAgreeAndNameWhatIsWrong) {
  const Samples s = {1, -1, 300, -32768};
  const Bytes data = Data(s);
  Bytes unpadded = Riff({Fmt(), data, Chunk("note", {'x'})});  // its pad never written
  unpadded.pop_back();
  unpadded[4] = uint8_t(unpadded[4] - 1);
  Bytes riffTooLong = Riff({Fmt(), data});
  riffTooLong[5] = 1;
  std::vector<Bytes> tiny(100000, Chunk("pad ", {}));
  tiny.push_back(Fmt());
  tiny.push_back(data);
  const Bytes good = Riff({Chunk("LIST", {1, 0, 3}), data, Fmt()});
  // An extensible fmt body: cbSize, valid bits, the subformat's tag and the PCM GUID's tail.
  const auto ext = [](uint64_t cb, uint64_t valid, uint64_t sub, uint64_t tail = 0x719B3800AA00) {
    return Chunk("fmt ", Le({{0xFFFE, 2},
                             {1, 2},
                             {44100, 4},
                             {88200, 4},
                             {2, 2},
                             {16, 2},
                             {cb, 2},
                             {valid, 2},
                             {4, 4},
                             {sub, 2},
                             {0x0080001000000000, 8},
                             {tail, 6}}));
  };
  const auto fmt = [](uint64_t byteRate, uint64_t align) {
    return Chunk("fmt ", Le({{1, 2}, {1, 2}, {44100, 4}, {byteRate, 4}, {align, 2}, {16, 2}}));
  };
  std::vector<std::pair<Bytes, const char*>> files = {
      {good, ""},
      {unpadded, ""},
      {Riff(tiny), ""},
      {Riff({ext(22, 16, 1), data}), ""},
      {{}, "empty file"},
      {{'h', 'i', '\n'}, "not a RIFF file"},
      {{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W'}, "truncated RIFF header"},
      {{'R', 'I', 'F', 'F', 3, 0, 0, 0, 'W', 'A', 'V', 'E'}, "RIFF chunk too small"},
      {riffTooLong, "truncated RIFF chunk (300 bytes declared, 44 present)"},
      {Riff({Fmt(), data}, "AVI "), "RIFF file is not WAVE (form type 'AVI ')"},
      {Riff({Fmt(3), data}), "not PCM (format tag 0x0003)"},
      {Riff({Fmt(1, 2), data}), "2 channels, only mono is accepted"},
      {Riff({Fmt(1, 1, 48000), data}), "48000 Hz, only 44100 Hz is accepted"},
      {Riff({Fmt(1, 1, 44100, 8), data}), "8-bit samples, only 16-bit is accepted"},
      {Riff({fmt(88200, 4), data}), "block alignment 4, expected 2"},
      {Riff({fmt(88201, 2), data}), "byte rate 88201, expected 88200"},
      {Riff({ext(21, 16, 1), data}), "extensible fmt chunk too short"},
      {Riff({ext(22, 16, 3), data}), "not PCM (extensible format with another subformat)"},
      {Riff({ext(22, 16, 1, 0x719B3800AA01), data}),
       "not PCM (extensible format with another subformat)"},
      {Riff({ext(22, 24, 1), data}), "24 valid bits per sample, only 16 is accepted"},
      {Riff({data}), "no fmt chunk"},
      {Riff({Fmt()}), "no data chunk"},
      {Riff({Fmt(), data, Fmt()}), "more than one fmt chunk"},
      {Riff({data, Fmt(), data}), "more than one data chunk"},
      {Riff({Fmt(), data, {'a', 'b', 'c', 'd', 'e', 'f', 'g'}}),
       "truncated chunk header at byte 52"},
      {Riff({Chunk("fmt ", {1, 0, 1, 0}), data}), "fmt chunk too short (4 bytes, need 16)"},
      {Riff({Fmt(), Chunk("data", {1, 2, 3})}), "data chunk ends in a partial sample (3 bytes)"},
      {Riff({Fmt(), Chunk("data", {})}), "no samples in the data chunk"},
      {Riff({Fmt(), Chunk("data", {1, 2}, 0xFFFFFFFF)}),
       "truncated 'data' chunk (4294967295 bytes declared, 2 present)"},
      {Riff({Fmt(), data, Chunk("\x01\n\x7F ", {}, 99)}),
       "truncated '??? ' chunk (99 bytes declared, 0 present)"}};
  for (size_t cut = 0; cut < good.size(); ++cut) {
    files.emplace_back(Bytes(good.begin(), good.begin() + std::ptrdiff_t(cut)), nullptr);
  }
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    files.emplace_back(good, nullptr);
    files.back().first[rng() % 64] = uint8_t(rng() % 4 == 0 ? rng() : rng() % 64);
  }
  using Verdict = std::pair<Samples, std::string>;
  const std::string path = (Scratch() / "f.wav").string();
  for (const auto& [bytes, says] : files) {
    WriteBytes(path, bytes);
    Verdict whole;
    Verdict streamed;
    ReadWavFile(path.c_str(), whole.first, whole.second);
    WavFileReader reader(3);
    std::array<int16_t, 5> piece{};
    size_t n = 0;
    if (reader.Open(path.c_str(), false, streamed.second)) {
      while (reader.Read(piece.data(), piece.size(), n, streamed.second) && n > 0) {
        streamed.first.insert(streamed.first.end(), piece.begin(),
                              piece.begin() + std::ptrdiff_t(n));
      }
    }
    ASSERT_EQ(streamed.second.empty() ? streamed : Verdict({}, streamed.second), whole) << says;
    if (says != nullptr) {
      EXPECT_EQ(whole.first, *says == 0 ? s : Samples{}) << says;
      EXPECT_EQ(whole.second, says);
    }
  }
  // A file cut short after it was checked: the samples gone are an error, not silence.
  WriteBytes(path, Riff({Fmt(), Data(Samples(30000, 5))}));
  WavFileReader cut(1000);
  std::string error;
  ASSERT_TRUE(cut.Open(path.c_str(), false, error));
  fs::resize_file(path, 9000);
  Samples rest(700);
  size_t n = 1;
  bool read = true;
  while (n > 0 && (read = cut.Read(rest.data(), rest.size(), n, error))) {
  }
  std::vector<int16_t> none(3, 7);  // what a failed read leaves: nothing
  std::string noName;
  EXPECT_FALSE(ReadWavFile(nullptr, none, noName));
  EXPECT_EQ(std::pair(noName, none.size()), std::pair(std::string("no file name"), size_t{0}));
  EXPECT_EQ(std::pair(read, error),
            std::pair(false, std::string("cannot read: the file became shorter")));
}

}  // namespace
}  // namespace mimicore
