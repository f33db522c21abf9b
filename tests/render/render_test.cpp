#include "tools/render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <sstream>
#include <utility>

#include "audio/wav_file.h"
#include "engine/take_ring.h"
#include "support.h"

namespace mimicore {
namespace {

using testing::Chunk;
using testing::DataChunk;
using testing::FmtBody;
using testing::PcmFmt;
using testing::Riff;
using testing::RunTool;
using testing::ScratchDir;
using testing::ToolRun;
using testing::WriteBytes;
namespace fs = std::filesystem;

constexpr size_t kBlock = 880;

std::vector<int16_t> Samples(const fs::path& path) {
  std::vector<int16_t> s;
  std::string error;
  EXPECT_TRUE(ReadWavFile(path.string().c_str(), s, error)) << path << ": " << error;
  return s;
}

void Save(const fs::path& path, const std::vector<int16_t>& s) {
  ASSERT_TRUE(WriteWavFile(path.string().c_str(), s.data(), uint32_t(s.size())));
}

bool Silent(std::vector<int16_t>::const_iterator from, std::vector<int16_t>::const_iterator to) {
  return std::all_of(from, to, [](int16_t v) { return v == 0; });
}

// Sine bursts over digital silence: every burst block is far above the
// default threshold, every other block at level 0.
std::vector<int16_t> Bursts(size_t blocks, const std::vector<std::pair<size_t, size_t>>& on) {
  std::vector<int16_t> s(blocks * kBlock, 0);
  for (const auto& [first, last] : on) {
    for (size_t i = first * kBlock; i < (last + 1) * kBlock; ++i) {
      s[i] = int16_t(8000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * double(i) / 44100.0));
    }
  }
  return s;
}

const char* const kDone1 = "done takes=1 input-blocks=100 blocks=";

TEST(RenderTakes, EachTakeIsSavedWhenItEndsOnTheBlockClock) {
  const fs::path dir = ScratchDir();
  const std::vector<int16_t> input = Bursts(200, {{10, 29}, {130, 139}});
  ASSERT_NO_FATAL_FAILURE(Save(dir / "in.wav", input));
  const ToolRun run = RunTool({(dir / "in.wav").string(), "-o", (dir / "out.wav").string(),
                               "--takes", (dir / "takes").string()});
  ASSERT_EQ(run.rc, 0) << run.err;
  // Block 29 is at 578 ms; the first block at least 600 ms later is block
  // 60 (1197 ms; block 59 is at 1177 ms). Likewise 139 (2773 ms) -> 170.
  // The second take plays on blocks 170..209; nothing is left after it.
  EXPECT_EQ(run.out,
            "take 1 begin=10 end=60 samples=44000\ntake 2 begin=130 end=170 samples=35200\n"
            "done takes=2 input-blocks=200 blocks=210 played-blocks=90 unplayed-samples=0\n");

  const std::vector<int16_t> first = Samples(dir / "takes" / "take-001.wav");
  const std::vector<int16_t> second = Samples(dir / "takes" / "take-002.wav");
  ASSERT_EQ(first.size() + second.size(), 90 * kBlock);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), input.begin() + 10 * kBlock));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), input.begin() + 130 * kBlock));
  EXPECT_EQ(render::BlockTickMs(2205), 44000U);

  // The speaker stays silent until a take ends, then plays it once, sample
  // for sample, and is silent again.
  const std::vector<int16_t> speaker = Samples(dir / "out.wav");
  ASSERT_EQ(speaker.size(), 210 * kBlock);
  const auto playedFirst = speaker.begin() + 60 * kBlock;
  const auto playedSecond = speaker.begin() + 170 * kBlock;
  EXPECT_TRUE(Silent(speaker.begin(), playedFirst));
  EXPECT_TRUE(std::equal(first.begin(), first.end(), playedFirst));
  EXPECT_TRUE(Silent(playedFirst + std::ptrdiff_t(first.size()), playedSecond));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), playedSecond));
}

TEST(RenderTakes, FlagsSteerTheEngine) {
  const fs::path dir = ScratchDir();
  const std::vector<int16_t> input = Bursts(100, {{10, 29}});
  const std::string in = (dir / "in.wav").string();
  ASSERT_NO_FATAL_FAILURE(Save(in, input));
  const std::string none = "done takes=0 input-blocks=100 blocks=100 played-blocks=0 ";
  const std::string plain = "take 1 begin=10 end=60 samples=44000\n" + std::string(kDone1) +
                            "110 played-blocks=50 unplayed-samples=0\n";
  const struct {
    std::vector<std::string> flags;
    std::string report;
  } cases[] = {
      // The speed resamples the take but leaves the decision alone.
      {{"--speed", "2.20"},
       "take 1 begin=10 end=60 samples=20000\n" + std::string(kDone1) + "100 played-blocks=23 "},
      // 578 + 200 ms: block 39 (778 ms).
      {{"--silence", "200"},
       "take 1 begin=10 end=39 samples=25520\n" + std::string(kDone1) + "100 played-blocks=29 "},
      // A mean of 5093 on a scale of 40000 is level 12: below 40, above 10.
      {{"--peak", "40000"}, none},
      {{"--peak", "40000", "--threshold", "10"}, plain},
      // Far from the tone's 440 Hz the band-pass leaves too little for voice.
      {{"--bpf", "2000"}, none},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {in};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.rc, 0) << run.err;
    EXPECT_EQ(run.out.rfind(c.report, 0), 0U) << c.flags[0] << ":\n" << run.out;
  }

  // Near it, the band-pass rewrites what is recorded.
  ToolRun run = RunTool({in, "--bpf", "440", "--takes", (dir / "bpf").string()});
  EXPECT_EQ(run.out, plain);
  const std::vector<int16_t> take = Samples(dir / "bpf" / "take-001.wav");
  ASSERT_EQ(take.size(), 50 * kBlock);
  EXPECT_FALSE(std::equal(take.begin(), take.end(), input.begin() + 10 * kBlock));

  // A delay setting of 100 brings the echo's first repeat 8820 samples in.
  run = RunTool(
      {in, "--echo", "--delay", "100", "--decay", "0.5", "--takes", (dir / "echo").string()});
  EXPECT_EQ(run.out, plain);
  const std::vector<int16_t> echoed = Samples(dir / "echo" / "take-001.wav");
  const auto heard = input.begin() + 10 * kBlock;
  ASSERT_EQ(echoed.size(), 50 * kBlock);
  EXPECT_TRUE(std::equal(echoed.begin(), echoed.begin() + 8820, heard));
  EXPECT_NE(echoed[8820], heard[8820]);
}

TEST(RenderTakes, TakeStillRecordingAtTheLimitIsSavedAsTheWholeRing) {
  // Threshold 0: every block is voice, so the take never ends and the
  // trailing silence runs to its limit, by then more than the ring holds.
  const fs::path dir = ScratchDir();
  ASSERT_NO_FATAL_FAILURE(Save(dir / "in.wav", Bursts(10, {{2, 3}})));
  const ToolRun run =
      RunTool({(dir / "in.wav").string(), "--threshold", "0", "--takes", (dir / "takes").string()});
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_EQ(run.out,
            "take 1 begin=0 end=none samples=3604480 still-recording lost=8800\n"
            "done takes=1 input-blocks=10 blocks=4106 played-blocks=0 unplayed-samples=3604480\n");
  EXPECT_EQ(fs::file_size(dir / "takes" / "take-001.wav"), 44U + 2U * kRingSamples);
}

TEST(RenderCommandLine, BadInputExitsTwoWithOneLineNamingTheProblem) {
  const fs::path dir = ScratchDir();
  const auto data = DataChunk(std::vector<int16_t>(2000, 100));
  auto cut = Riff({PcmFmt(), data});
  cut.resize(cut.size() - 100);
  std::vector<uint8_t> shortFmt = FmtBody(1, 1, 44100, 16);
  shortFmt.resize(10);
  struct Case {
    const char* name;
    std::optional<std::vector<uint8_t>> bytes;  // none: the file does not exist
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"missing", std::nullopt, "cannot open"},
      {"text", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}, "not a RIFF file"},
      {"avi", Riff({PcmFmt(), data}, "AVI "), "not WAVE"},
      {"stereo", Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16)), data}), "2 channels"},
      {"8bit", Riff({Chunk("fmt ", FmtBody(1, 1, 44100, 8)), data}), "8-bit"},
      {"48k", Riff({Chunk("fmt ", FmtBody(1, 1, 48000, 16)), data}), "48000 Hz"},
      {"float", Riff({Chunk("fmt ", FmtBody(3, 1, 44100, 16)), data}), "not PCM"},
      {"shortfmt", Riff({Chunk("fmt ", shortFmt, 16)}), "truncated 'fmt ' chunk"},
      {"cutdata", cut, "truncated 'data' chunk"},
      {"bigdata", Riff({PcmFmt(), Chunk("data", {1, 2, 3, 4}, 1000000)}), "truncated 'data' chunk"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / (std::string(c.name) + ".wav");
    if (c.bytes) {
      WriteBytes(path, *c.bytes);
    }
    const fs::path speaker = dir / (std::string(c.name) + "-speaker.wav");
    const ToolRun run = RunTool({path.string(), "-o", speaker.string()});
    EXPECT_EQ(run.rc, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(path.string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(speaker));
  }
}

TEST(RenderCommandLine, MalformedCommandLinesExitTwoWithTheUsage) {
  const fs::path dir = ScratchDir();
  const std::string in = (dir / "in.wav").string();
  ASSERT_NO_FATAL_FAILURE(Save(in, Bursts(3, {})));
  // Command lines split at ';', their arguments at '|'; IN is the input.
  const std::string cases =
      "IN|--bogus;IN|-x;IN|--speed;IN|-o;IN|--takes|--echo;IN|--speed|0.5x;IN|--speed| 1;"
      "IN|--speed|1e40;IN|--decay|nan;IN|--decay|inf;IN|--threshold|12abc;IN|--peak|;"
      "IN|--delay|1.5;IN|--silence|99999999999;IN|--bpf|0x10;;IN|IN";
  std::vector<std::string> args;
  for (size_t at = 0, next = 0; at <= cases.size(); at = next + 1) {
    next = std::min(cases.find_first_of(";|", at), cases.size());
    const std::string arg = cases.substr(at, next - at);
    if (!(arg.empty() && args.empty() && next < cases.size() && cases[next] == ';')) {
      args.push_back(arg == "IN" ? in : arg);
    }
    if (next < cases.size() && cases[next] == '|') {
      continue;
    }
    std::string joined;
    for (const auto& a : args) {
      joined += "[" + a + "] ";
    }
    SCOPED_TRACE(joined);
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.rc, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: mimicore-render INPUT.wav"), std::string::npos) << run.err;
    args.clear();
  }

  const ToolRun help = RunTool({"--help"});
  EXPECT_EQ(help.rc, 0);
  EXPECT_NE(help.out.find("usage: mimicore-render INPUT.wav"), std::string::npos);
  EXPECT_EQ(help.err, "");

  // Negative numbers are values, not flags; the engine keeps them harmless.
  const ToolRun negative = RunTool({in, "--silence", "-5", "--delay", "-1", "--speed", "-1"});
  EXPECT_EQ(negative.rc, 0) << negative.err;
}

TEST(RenderCommandLine, OutputThatCannotBeWrittenExitsOne) {
  const fs::path dir = ScratchDir();
  const std::string in = (dir / "in.wav").string();
  ASSERT_NO_FATAL_FAILURE(Save(in, Bursts(60, {{5, 10}})));

  const fs::path nowhere = dir / "no-such-dir" / "out.wav";
  ToolRun run = RunTool({in, "-o", nowhere.string()});
  EXPECT_EQ(run.rc, 1);
  EXPECT_NE(run.err.find(nowhere.string()), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("done"), std::string::npos) << run.out;

  // --takes naming a file, not a folder.
  run = RunTool({in, "--takes", in});
  EXPECT_EQ(run.rc, 1);
  EXPECT_NE(run.err.find(in), std::string::npos) << run.err;
  EXPECT_EQ(Samples(in).size(), 60 * kBlock) << "the input must survive";
}

}  // namespace
}  // namespace mimicore
