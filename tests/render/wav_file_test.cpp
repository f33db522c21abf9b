#include "audio/wav_file.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <csignal>
#include <cstring>

#include "support.h"

namespace mimicore {
namespace {

using testing::Chunk;
using testing::DataChunk;
using testing::FmtBody;
using testing::PcmFmt;
using testing::ReadBytes;
using testing::Riff;
using testing::ScratchDir;

TEST(WavWriter, WritesTheExactLittleEndianLayout) {
  const auto path = ScratchDir() / "take.wav";
  const std::vector<int16_t> samples = {0x1234, -2, 0, -32768, 32767};
  ASSERT_TRUE(WriteWavFile(path.string().c_str(), samples.data(), uint32_t(samples.size())));

  const std::vector<uint8_t> expected = {
      'R',  'I',  'F',  'F',  46,   0,    0,    0,    'W',  'A',  'V',  'E',  'f', 'm',
      't',  ' ',  16,   0,    0,    0,    1,    0,    1,    0,    0x44, 0xAC, 0,   0,
      0x88, 0x58, 1,    0,    2,    0,    16,   0,    'd',  'a',  't',  'a',  10,  0,
      0,    0,    0x34, 0x12, 0xFE, 0xFF, 0x00, 0x00, 0x00, 0x80, 0xFF, 0x7F};
  EXPECT_EQ(ReadBytes(path), expected);

  // More samples than one conversion piece holds: none dropped or repeated
  // at the seams.
  std::vector<int16_t> many(100003);
  for (size_t i = 0; i < many.size(); ++i) {
    many[i] = int16_t(i * 7919U);
  }
  ASSERT_TRUE(WriteWavFile(path.string().c_str(), many.data(), uint32_t(many.size())));
  std::vector<int16_t> back;
  std::string error;
  ASSERT_TRUE(ReadWavFile(path.string().c_str(), back, error)) << error;
  EXPECT_EQ(back, many);
}

TEST(WavWriter, RefusesWhatItCannotWriteWhole) {
  const auto dir = ScratchDir();
  const int16_t one = 1;
  const std::string path = (dir / "x.wav").string();
  EXPECT_FALSE(WriteWavFile(path.c_str(), nullptr, 1));
  EXPECT_FALSE(WriteWavFile(path.c_str(), &one, 0));
  EXPECT_FALSE(WriteWavFile(path.c_str(), &one, kWavMaxSamples + 1));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(WriteWavFile((dir / "missing" / "x.wav").string().c_str(), &one, 1));
  if (std::filesystem::exists("/dev/full")) {
    const std::vector<int16_t> samples(880, 100);
    EXPECT_FALSE(WriteWavFile("/dev/full", samples.data(), uint32_t(samples.size())));
    EXPECT_TRUE(std::filesystem::exists("/dev/full")) << "a device must never be removed";
  }
}

TEST(WavWriter, FileCutShortByTheSizeLimitIsReportedAndRemoved) {
  // The file-size limit makes write() fail part-way like a full disk does.
  const auto path = ScratchDir() / "short.wav";
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 1000;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::vector<int16_t> samples(880, -7);
  const bool ok = WriteWavFile(path.string().c_str(), samples.data(), uint32_t(samples.size()));
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(ok);
  EXPECT_FALSE(std::filesystem::exists(path));
}

std::string ParseError(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples;
  std::string error;
  if (ParseWav(bytes, samples, error)) {
    return "accepted";
  }
  EXPECT_TRUE(samples.empty());
  EXPECT_EQ(error.find('\n'), std::string::npos);
  return error;
}

TEST(WavReader, AcceptsChunksInAnyOrderAndSkipsUnknownOnes) {
  const std::vector<int16_t> s = {1, -1, 300, -32768};
  std::vector<int16_t> got;
  std::string error;

  // An odd-sized unknown chunk with its pad byte, the data before the fmt.
  const auto shuffled = Riff({Chunk("LIST", {1, 2, 3}), DataChunk(s), PcmFmt()});
  ASSERT_TRUE(ParseWav(shuffled, got, error)) << error;
  EXPECT_EQ(got, s);

  // Bytes after the RIFF chunk are not part of it.
  auto trailing = Riff({PcmFmt(), DataChunk(s)});
  trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
  ASSERT_TRUE(ParseWav(trailing, got, error)) << error;
  EXPECT_EQ(got, s);

  // An odd last chunk whose pad byte never made it into the file.
  auto unpadded = Riff({PcmFmt(), DataChunk(s), Chunk("note", {'x'})});
  unpadded.pop_back();
  unpadded[4] = uint8_t(unpadded[4] - 1);
  ASSERT_TRUE(ParseWav(unpadded, got, error)) << error;
  EXPECT_EQ(got, s);

  // Extensible format with the PCM subformat is plain PCM.
  std::vector<uint8_t> ext = FmtBody(0xFFFE, 1, 44100, 16);
  testing::PutLe16(ext, 22);
  testing::PutLe16(ext, 16);
  testing::PutLe32(ext, 4);
  const std::vector<uint8_t> pcmGuid = {1,    0, 0, 0,    0,    0,    0x10, 0,
                                        0x80, 0, 0, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  ext.insert(ext.end(), pcmGuid.begin(), pcmGuid.end());
  ASSERT_TRUE(ParseWav(Riff({Chunk("fmt ", ext), DataChunk(s)}), got, error)) << error;
  EXPECT_EQ(got, s);
  ext[24] = 3;  // the float subformat
  EXPECT_NE(ParseError(Riff({Chunk("fmt ", ext), DataChunk(s)})).find("not PCM"),
            std::string::npos);
}

TEST(WavReader, NamesWhatIsWrongWithTheFile) {
  const std::vector<int16_t> s(10, 5);
  const auto data = DataChunk(s);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* expected;
  };
  auto badAlign = FmtBody(1, 1, 44100, 16);
  badAlign[12] = 4;
  auto badRate = FmtBody(1, 1, 44100, 16);
  badRate[8] = 0;
  const std::vector<Case> cases = {
      {"empty", {}, "empty file"},
      {"three bytes", {'R', 'I', 'F'}, "not a RIFF file"},
      {"cut header", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W'}, "truncated RIFF header"},
      {"no fmt", Riff({data}), "no fmt chunk"},
      {"no data", Riff({PcmFmt()}), "no data chunk"},
      {"two fmt", Riff({PcmFmt(), PcmFmt(), data}), "more than one fmt chunk"},
      {"two data", Riff({PcmFmt(), data, data}), "more than one data chunk"},
      {"short fmt", Riff({Chunk("fmt ", {1, 0, 1, 0}), data}), "fmt chunk too short"},
      {"block align", Riff({Chunk("fmt ", badAlign), data}), "block alignment 4"},
      {"byte rate", Riff({Chunk("fmt ", badRate), data}), "byte rate"},
      {"half sample", Riff({PcmFmt(), Chunk("data", {1, 2, 3})}), "partial sample"},
      {"no samples", Riff({PcmFmt(), Chunk("data", {})}), "no samples"},
      {"chunk header cut", Riff({PcmFmt(), data, {'x', 'y'}}), "truncated chunk header"},
      {"huge chunk", Riff({PcmFmt(), Chunk("data", {1, 2}, 0xFFFFFFFF)}), "truncated 'data'"},
      {"odd id", Riff({PcmFmt(), data, Chunk("\x01\n\x7F ", {}, 99)}), "truncated '??? ' chunk"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(ParseError(c.bytes).find(c.expected), std::string::npos)
        << c.what << ": " << ParseError(c.bytes);
  }

  auto riffTooLong = Riff({PcmFmt(), data});
  riffTooLong[5] = 1;
  EXPECT_NE(ParseError(riffTooLong).find("truncated RIFF chunk"), std::string::npos);
}

}  // namespace
}  // namespace mimicore
