// The renderer reads its input and writes the speaker file piece by piece;
// whatever the pieces, and wherever the files lie, the bytes must be those
// of the whole file read and written at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>
#include <sstream>
#include <thread>

#include "audio/wav_file.h"
#include "support.h"
#include "tools/render/render.h"

namespace mimicore {
namespace {

using testing::Chunk;
using testing::DataChunk;
using testing::PcmFmt;
using testing::ReadBytes;
using testing::Riff;
using testing::RunTool;
using testing::ScratchDir;
using testing::ToolRun;
using testing::WriteBytes;
namespace fs = std::filesystem;

// Two tone bursts over faint noise, not a whole number of blocks long, with
// the echo, a speed off the grid and the band-pass on: every path through
// the engine, two takes and a trailing playback.
const std::vector<std::string> kEverythingOn = {"--echo", "--speed", "0.73", "--bpf", "440"};

fs::path MakeInput(const fs::path& dir) {
  std::vector<int16_t> s(200 * 880 + 123);
  std::mt19937 rng(3);
  for (size_t i = 0; i < s.size(); ++i) {
    const size_t block = i / 880;
    const bool loud = (block >= 10 && block < 30) || (block >= 120 && block < 135);
    const double tone =
        loud ? 8000.0 * std::sin(2.0 * std::numbers::pi * 440.0 * double(i) / 44100.0) : 0.0;
    s[i] = int16_t(tone + double(int(rng() % 41) - 20));
  }
  const fs::path path = dir / "in.wav";
  EXPECT_TRUE(WriteWavFile(path.string().c_str(), s.data(), uint32_t(s.size())));
  return path;
}

// What a run leaves: its report, the speaker file and every take.
struct Outputs {
  std::string report;
  std::vector<uint8_t> speaker;
  std::vector<std::vector<uint8_t>> takes;
  bool operator==(const Outputs&) const = default;
};

Outputs Collect(const ToolRun& run, const fs::path& speaker, const fs::path& takes) {
  EXPECT_EQ(run.rc, 0) << run.err;
  Outputs o{run.out, ReadBytes(speaker), {}};
  for (int n = 1; fs::exists(takes / ("take-00" + std::to_string(n) + ".wav")); ++n) {
    o.takes.push_back(ReadBytes(takes / ("take-00" + std::to_string(n) + ".wav")));
  }
  return o;
}

Outputs RenderTo(const fs::path& input, const fs::path& dir, render::IoBlockSizes io) {
  std::vector<std::string> args = {input.string(), "-o", (dir / "speaker.wav").string(), "--takes",
                                   (dir / "takes").string()};
  args.insert(args.end(), kEverythingOn.begin(), kEverythingOn.end());
  return Collect(RunTool(args, io), dir / "speaker.wav", dir / "takes");
}

TEST(RenderStreaming, AnyPieceSizeGivesTheBytesOfTheWholeFile) {
  const fs::path dir = ScratchDir();
  const fs::path input = MakeInput(dir);
  // Pieces larger than either file: one read and one write of everything.
  const Outputs whole = RenderTo(input, dir / "whole", {1U << 22U, 1U << 22U});
  ASSERT_EQ(whole.takes.size(), 2U) << whole.report;
  ASSERT_GT(whole.speaker.size(), 44U + 2U * 200U * 880U);

  const std::vector<render::IoBlockSizes> pieces = {{1000, 333}, {879, 881}, {1, 7}, {}};
  for (const render::IoBlockSizes& io : pieces) {
    SCOPED_TRACE(std::to_string(io.readSamples) + "/" + std::to_string(io.writeSamples));
    const fs::path out = dir / ("p" + std::to_string(io.readSamples));
    EXPECT_TRUE(RenderTo(input, out, io) == whole);
  }
}

TEST(RenderStreaming, OutputsOverTheInputOrEachOtherEndAsIfWrittenAfterTheRun) {
  const fs::path dir = ScratchDir();
  const fs::path input = MakeInput(dir);
  const Outputs plain = RenderTo(input, dir / "plain", {});
  ASSERT_EQ(plain.takes.size(), 2U);

  struct Case {
    const char* name;
    const char* inputAt;    // where the input is copied, under the case's folder
    const char* speakerAt;  // the speaker file's path, likewise
  };
  const Case cases[] = {
      {"speaker over the input", "in.wav", "in.wav"},
      {"input among the takes", "takes/take-001.wav", "speaker.wav"},
      {"speaker among the takes", "in.wav", "takes/take-002.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path base = dir / fs::path(c.name).filename();
    fs::create_directories(base / "takes");
    fs::copy_file(input, base / c.inputAt);
    std::vector<std::string> args = {(base / c.inputAt).string(), "-o",
                                     (base / c.speakerAt).string(), "--takes",
                                     (base / "takes").string()};
    args.insert(args.end(), kEverythingOn.begin(), kEverythingOn.end());
    const ToolRun run = RunTool(args, {1000, 333});
    ASSERT_EQ(run.rc, 0) << run.err;
    EXPECT_EQ(run.out, plain.report);
    EXPECT_EQ(ReadBytes(base / c.speakerAt), plain.speaker);
    if (std::string(c.speakerAt) != "takes/take-002.wav") {
      EXPECT_EQ(ReadBytes(base / "takes/take-002.wav"), plain.takes[1]);
    }
    EXPECT_EQ(ReadBytes(base / "takes/take-001.wav"), plain.takes[0]);
  }
}

TEST(RenderStreaming, PipesAreReadAndWrittenWhole) {
  const fs::path dir = ScratchDir();
  const fs::path input = MakeInput(dir);
  const Outputs plain = RenderTo(input, dir / "plain", {});
  const fs::path inPipe = dir / "in.pipe";
  const fs::path outPipe = dir / "out.pipe";
  ASSERT_EQ(mkfifo(inPipe.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(outPipe.c_str(), 0600), 0);

  const std::vector<uint8_t> inBytes = ReadBytes(input);
  std::thread feeder([&] { WriteBytes(inPipe, inBytes); });
  std::vector<uint8_t> speaker;
  std::thread drain([&] { speaker = ReadBytes(outPipe); });
  std::vector<std::string> args = {inPipe.string(), "-o", outPipe.string()};
  args.insert(args.end(), kEverythingOn.begin(), kEverythingOn.end());
  const ToolRun run = RunTool(args, {1000, 333});
  if (run.rc != 0) {
    // The speaker pipe may never have been opened: let the reader go.
    const int fd = open(outPipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
      close(fd);
    }
  }
  feeder.join();
  drain.join();
  ASSERT_EQ(run.rc, 0) << run.err;
  EXPECT_EQ(run.out, plain.report);
  EXPECT_EQ(speaker, plain.speaker);
}

TEST(RenderStreaming, SpeakerFileThatFailsMidRunEndsTheRunWithOne) {
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full on this system";
  }
  const fs::path dir = ScratchDir();
  const ToolRun run = RunTool({MakeInput(dir).string(), "-o", "/dev/full"}, {1000, 333});
  EXPECT_EQ(run.rc, 1);
  EXPECT_NE(run.err.find("cannot write /dev/full"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("done"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists("/dev/full")) << "a device must never be removed";
}

// ReadWavFile's verdict: the samples, or the message.
std::string WholeVerdict(const fs::path& path) {
  std::vector<int16_t> s;
  std::string error;
  if (!ReadWavFile(path.string().c_str(), s, error)) {
    return error;
  }
  return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2);
}

std::string StreamedVerdict(const fs::path& path) {
  WavFileReader reader(3);
  std::string error;
  if (!reader.Open(path.string().c_str(), false, error)) {
    return error;
  }
  std::string got;
  std::array<int16_t, 5> piece{};
  size_t n = 0;
  while (reader.Read(piece.data(), piece.size(), n, error) && n > 0) {
    got.append(reinterpret_cast<const char*>(piece.data()), n * 2);
  }
  return error.empty() ? got : error;
}

TEST(WavStreams, ReaderJudgesEveryFileAsTheWholeFileReaderDoes) {
  // Every cut of a file with an odd unknown chunk, and random damage to its
  // headers: the same samples or the same message.
  const fs::path dir = ScratchDir();
  const auto good = Riff({Chunk("LIST", {1, 2, 3}), PcmFmt(), DataChunk({1, -2, 300, -32768, 7})});
  std::vector<std::vector<uint8_t>> files;
  for (size_t cut = 0; cut <= good.size(); ++cut) {
    files.emplace_back(good.begin(), good.begin() + std::ptrdiff_t(cut));
  }
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes = good;
    bytes[rng() % 64] = uint8_t(rng() % 4 == 0 ? rng() : rng() % 64);
    files.push_back(bytes);
  }
  const fs::path path = dir / "f.wav";
  for (size_t i = 0; i < files.size(); ++i) {
    WriteBytes(path, files[i]);
    ASSERT_EQ(StreamedVerdict(path), WholeVerdict(path)) << "file " << i;
  }
}

TEST(WavStreams, WriterGivesWriteWavFilesBytesAndLeavesNothingUnfinished) {
  const fs::path dir = ScratchDir();
  std::vector<int16_t> s(10007);
  for (size_t i = 0; i < s.size(); ++i) {
    s[i] = int16_t(i * 7919U);
  }
  ASSERT_TRUE(WriteWavFile((dir / "whole.wav").string().c_str(), s.data(), uint32_t(s.size())));
  const std::vector<uint8_t> whole = ReadBytes(dir / "whole.wav");
  for (const bool deferred : {false, true}) {
    const fs::path path = dir / (deferred ? "deferred.wav" : "streamed.wav");
    WavFileWriter w(333);
    ASSERT_TRUE(w.Open(path.string().c_str(), deferred));
    EXPECT_EQ(fs::exists(path), !deferred) << "a deferred file is not touched before the end";
    for (size_t at = 0; at < s.size(); at += 880) {
      ASSERT_TRUE(w.Append(s.data() + at, std::min<size_t>(880, s.size() - at)));
    }
    ASSERT_TRUE(w.Finish());
    EXPECT_EQ(ReadBytes(path), whole);
  }

  const fs::path dropped = dir / "dropped.wav";
  {
    WavFileWriter w(333);
    ASSERT_TRUE(w.Open(dropped.string().c_str(), false));
    ASSERT_TRUE(w.Append(s.data(), 1000));
  }
  EXPECT_FALSE(fs::exists(dropped)) << "a file never finished must not stay behind";
  WavFileWriter empty;
  ASSERT_TRUE(empty.Open(dropped.string().c_str(), false));
  EXPECT_FALSE(empty.Finish());
  EXPECT_FALSE(fs::exists(dropped));
}

}  // namespace
}  // namespace mimicore
