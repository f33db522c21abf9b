// What the renderer's tests share: a fresh folder per test under the build
// tree (ctest runs tests in parallel, so none may share files) and a
// builder for WAV files of any shape, well-formed or not.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tools/render/render.h"

namespace mimicore::testing {

inline std::filesystem::path ScratchDir() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::filesystem::path dir = std::filesystem::path(MIMICORE_RENDER_SCRATCH) /
                              (std::string(info->test_suite_name()) + "." + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

struct ToolRun {
  int rc;
  std::string out;
  std::string err;
};

// The renderer's command line, run in this process.
inline ToolRun RunTool(const std::vector<std::string>& args, render::IoBlockSizes io = {}) {
  std::vector<const char*> argv = {"mimicore-render"};
  for (const std::string& a : args) {
    argv.push_back(a.c_str());
  }
  std::ostringstream out;
  std::ostringstream err;
  const int rc = render::RunRender(int(argv.size()), argv.data(), out, err, io);
  return {rc, out.str(), err.str()};
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void PutLe16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(uint8_t(v & 0xFFU));
  b.push_back(uint8_t((v >> 8U) & 0xFFU));
}

inline void PutLe32(std::vector<uint8_t>& b, uint32_t v) {
  PutLe16(b, v & 0xFFFFU);
  PutLe16(b, v >> 16U);
}

// One chunk: id, the body's size (or |declared| when given) and the body,
// padded to an even length.
inline std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& body,
                                  int64_t declared = -1) {
  std::vector<uint8_t> c(id, id + 4);
  PutLe32(c, declared >= 0 ? uint32_t(declared) : uint32_t(body.size()));
  c.insert(c.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) {
    c.push_back(0);
  }
  return c;
}

inline std::vector<uint8_t> FmtBody(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits) {
  std::vector<uint8_t> b;
  const uint32_t align = channels * bits / 8;
  PutLe16(b, tag);
  PutLe16(b, channels);
  PutLe32(b, rate);
  PutLe32(b, rate * align);
  PutLe16(b, align);
  PutLe16(b, bits);
  return b;
}

inline std::vector<uint8_t> PcmFmt() { return Chunk("fmt ", FmtBody(1, 1, 44100, 16)); }

inline std::vector<uint8_t> DataChunk(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> body;
  for (const int16_t s : samples) {
    PutLe16(body, uint16_t(s));
  }
  return Chunk("data", body);
}

// "RIFF", the size of what follows, "WAVE" and the chunks.
inline std::vector<uint8_t> Riff(const std::vector<std::vector<uint8_t>>& chunks,
                                 const char* form = "WAVE") {
  std::vector<uint8_t> body(form, form + 4);
  for (const auto& c : chunks) {
    body.insert(body.end(), c.begin(), c.end());
  }
  std::vector<uint8_t> f{'R', 'I', 'F', 'F'};
  PutLe32(f, uint32_t(body.size()));
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

}  // namespace mimicore::testing
