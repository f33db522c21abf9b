#include "tools/render/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <optional>
#include <regex>
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
using testing::ScratchDir;
using testing::WriteBytes;
namespace fs = std::filesystem;

constexpr size_t kBlock = 880;

struct ToolRun {
  int rc;
  std::string out;
  std::string err;
};

ToolRun RunTool(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"mimicore-render"};
  for (const std::string& a : args) {
    argv.push_back(a.c_str());
  }
  std::ostringstream out;
  std::ostringstream err;
  const int rc = render::RunRender(int(argv.size()), argv.data(), out, err);
  return {rc, out.str(), err.str()};
}

struct TakeLine {
  int64_t number = 0;
  int64_t begin = 0;
  int64_t end = -1;  // -1: still recording
  int64_t samples = 0;
  int64_t lost = 0;
};

struct Report {
  std::vector<TakeLine> takes;
  std::map<std::string, int64_t> done;
};

// Every line must be a take line or the final done line: scripts grep them.
Report ParseReport(const std::string& out) {
  static const std::regex take(
      R"(take (\d+) begin=(\d+) end=(\d+|none) samples=(\d+)( still-recording)?( lost=(\d+))?)");
  static const std::regex done(
      R"(done takes=(\d+) input-blocks=(\d+) blocks=(\d+) played-blocks=(\d+) )"
      R"(unplayed-samples=(\d+))");
  Report r;
  std::istringstream lines(out);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(r.done.empty()) << "line after the done line: " << line;
    if (std::regex_match(line, m, take)) {
      TakeLine t;
      t.number = std::stoll(m[1]);
      t.begin = std::stoll(m[2]);
      t.end = m[3] == "none" ? -1 : std::stoll(m[3]);
      t.samples = std::stoll(m[4]);
      EXPECT_EQ(m[5].matched, t.end < 0) << line;
      t.lost = m[7].matched ? std::stoll(m[7]) : 0;
      r.takes.push_back(t);
    } else if (std::regex_match(line, m, done)) {
      r.done = {{"takes", std::stoll(m[1])},
                {"input-blocks", std::stoll(m[2])},
                {"blocks", std::stoll(m[3])},
                {"played-blocks", std::stoll(m[4])},
                {"unplayed-samples", std::stoll(m[5])}};
    } else {
      ADD_FAILURE() << "unexpected output line: " << line;
    }
  }
  EXPECT_FALSE(r.done.empty()) << "no done line in:\n" << out;
  return r;
}

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

TEST(RenderTakes, EachTakeIsSavedWhenItEndsOnTheBlockClock) {
  const fs::path dir = ScratchDir();
  const std::vector<int16_t> input = Bursts(200, {{10, 29}, {130, 139}});
  ASSERT_NO_FATAL_FAILURE(Save(dir / "in.wav", input));
  const ToolRun run = RunTool({(dir / "in.wav").string(), "-o", (dir / "out.wav").string(),
                               "--takes", (dir / "takes").string()});
  ASSERT_EQ(run.rc, 0) << run.err;
  const Report r = ParseReport(run.out);
  ASSERT_EQ(r.takes.size(), 2U) << run.out;

  // Block 29 is at 578 ms; the first block at least 600 ms later is block
  // 60 (1197 ms; block 59 is at 1177 ms). Likewise 139 (2773 ms) -> 170.
  EXPECT_EQ(r.takes[0].begin, 10);
  EXPECT_EQ(r.takes[0].end, 60);
  EXPECT_EQ(r.takes[0].samples, 50 * 880);
  EXPECT_EQ(r.takes[1].number, 2);
  EXPECT_EQ(r.takes[1].begin, 130);
  EXPECT_EQ(r.takes[1].end, 170);
  EXPECT_EQ(r.takes[1].samples, 40 * 880);
  // The second take plays on blocks 170..209; nothing is left after it.
  EXPECT_EQ(r.done.at("blocks"), 210);
  EXPECT_EQ(r.done.at("played-blocks"), 90);

  const std::vector<int16_t> first = Samples(dir / "takes" / "take-001.wav");
  const std::vector<int16_t> second = Samples(dir / "takes" / "take-002.wav");
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

TEST(RenderTakes, SpeedsResampleTheTakeButNotTheDecision) {
  const fs::path dir = ScratchDir();
  const std::vector<int16_t> input = Bursts(100, {{10, 29}});
  const std::string in = (dir / "in.wav").string();
  ASSERT_NO_FATAL_FAILURE(Save(in, input));
  for (auto [speed, perBlock] : {std::pair{"0.50", 1760}, {"2.20", 400}}) {
    const fs::path takes = dir / speed;
    const ToolRun run = RunTool({in, "--speed", speed, "--takes", takes.string()});
    ASSERT_EQ(run.rc, 0) << run.err;
    const Report r = ParseReport(run.out);
    ASSERT_EQ(r.takes.size(), 1U) << speed;
    EXPECT_EQ(r.takes[0].begin, 10) << speed;
    EXPECT_EQ(r.takes[0].end, 60) << speed;
    EXPECT_EQ(r.takes[0].samples, 50 * perBlock) << speed;
    const std::vector<int16_t> take = Samples(takes / "take-001.wav");
    ASSERT_EQ(int64_t(take.size()), r.takes[0].samples);
    for (size_t k = 0; k < take.size(); ++k) {
      // Within a block, output k takes input k * speed.
      const size_t block = k / size_t(perBlock);
      const auto at = size_t(
          (uint64_t(k % size_t(perBlock)) * uint64_t(double(std::stof(speed)) * 4194304.0)) >> 22);
      ASSERT_EQ(take[k], input[(10 + block) * kBlock + at]) << speed << " " << k;
    }
  }
}

TEST(RenderTakes, FlagsSteerTheEngine) {
  const fs::path dir = ScratchDir();
  const std::vector<int16_t> input = Bursts(100, {{10, 29}});
  const std::string in = (dir / "in.wav").string();
  ASSERT_NO_FATAL_FAILURE(Save(in, input));

  // 578 + 200 ms: block 39 (778 ms).
  ToolRun run = RunTool({in, "--silence", "200"});
  ASSERT_EQ(run.rc, 0) << run.err;
  Report r = ParseReport(run.out);
  ASSERT_EQ(r.takes.size(), 1U);
  EXPECT_EQ(r.takes[0].end, 39);

  // A mean of 5093 on a scale of 40000 is level 12, below the threshold of
  // 40, but above 10.
  run = RunTool({in, "--peak", "40000"});
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_TRUE(ParseReport(run.out).takes.empty());
  run = RunTool({in, "--peak", "40000", "--threshold", "10"});
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_EQ(ParseReport(run.out).takes.size(), 1U);

  // The band-pass filter rewrites what is recorded, and far from the
  // tone's 440 Hz it leaves too little of it to count as voice.
  run = RunTool({in, "--bpf", "2000"});
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_TRUE(ParseReport(run.out).takes.empty());
  run = RunTool({in, "--bpf", "440", "--takes", (dir / "bpf").string()});
  ASSERT_EQ(run.rc, 0) << run.err;
  r = ParseReport(run.out);
  ASSERT_EQ(r.takes.size(), 1U);
  const std::vector<int16_t> take = Samples(dir / "bpf" / "take-001.wav");
  ASSERT_EQ(int64_t(take.size()), r.takes[0].samples);
  EXPECT_FALSE(std::equal(take.begin(), take.end(), input.begin() + r.takes[0].begin * 880));

  // A delay setting of 100 brings the echo's first repeat 8820 samples in.
  run = RunTool(
      {in, "--echo", "--delay", "100", "--decay", "0.5", "--takes", (dir / "echo").string()});
  ASSERT_EQ(run.rc, 0) << run.err;
  r = ParseReport(run.out);
  ASSERT_EQ(r.takes.size(), 1U);
  const std::vector<int16_t> echoed = Samples(dir / "echo" / "take-001.wav");
  const auto heard = input.begin() + r.takes[0].begin * 880;
  ASSERT_EQ(int64_t(echoed.size()), r.takes[0].samples);
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
  const Report r = ParseReport(run.out);
  ASSERT_EQ(r.takes.size(), 1U);
  EXPECT_EQ(r.takes[0].end, -1);
  EXPECT_EQ(r.takes[0].samples, kRingSamples);
  EXPECT_EQ(r.takes[0].lost, 10 * 880);
  EXPECT_EQ(r.done.at("blocks"), 10 + 4096);
  EXPECT_EQ(r.done.at("played-blocks"), 0);
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
  const std::vector<std::vector<std::string>> cases = {
      {in, "--bogus"},
      {in, "-x"},
      {in, "--speed"},
      {in, "-o"},
      {in, "--takes", "--echo"},
      {in, "--speed", "0.5x"},
      {in, "--speed", " 1"},
      {in, "--speed", "1e40"},
      {in, "--decay", "nan"},
      {in, "--decay", "inf"},
      {in, "--threshold", "12abc"},
      {in, "--peak", ""},
      {in, "--delay", "1.5"},
      {in, "--silence", "99999999999"},
      {in, "--bpf", "0x10"},
      {},
      {in, in},
  };
  for (const auto& args : cases) {
    std::string joined;
    for (const auto& a : args) {
      joined += "[" + a + "] ";
    }
    SCOPED_TRACE(joined);
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.rc, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage: mimicore-render INPUT.wav"), std::string::npos) << run.err;
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
