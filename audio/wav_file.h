// WAV files in the program's one audio format: RIFF/WAVE, PCM, mono,
// 16-bit, 44100 Hz, every field little-endian whatever the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "audio/wave_format.h"

namespace mimicore {

// The RIFF size field (36 + 2 x count) must not wrap.
inline constexpr uint32_t kWavMaxSamples = static_cast<uint32_t>(kWavMaxDataBytes / 2U);
static_assert(36U + 2U * uint64_t{kWavMaxSamples} <= 0xFFFFFFFFU);

// The 44-byte header in front of |count| samples, count at most
// kWavMaxSamples.
std::array<uint8_t, kWavHeaderSize> WavHeader(uint32_t count);

// Writes the header and the samples to |path| (created, or truncated when
// it exists). False when |samples| is null, |count| is 0 or above
// kWavMaxSamples, the file cannot be opened, or a write or the close fails;
// a file that could not be finished is removed rather than left short.
bool WriteWavFile(const char* path, const int16_t* samples, uint32_t count);

// Puts the finished file |from| in the place of |to|, replacing a file
// there. False when it could not.
using FileReplacer = bool (*)(const char* from, const char* to);
bool RenameReplacing(const char* from, const char* to);

// As WriteWavFile, but a file already at |path| is touched only once the
// new one is complete: the samples go into a new file beside it, which then
// replaces it through |replace|. A failure leaves an existing file as it
// was and no temporary file behind.
bool WriteWavFileReplacing(const char* path, const int16_t* samples, uint32_t count,
                           FileReplacer replace = RenameReplacing);

// The name a take is saved under: |chosen| as it is when the file's own
// name (after the last '\\' or '/') holds a dot, else with ".wav" added.
// Writes the terminated result to |out| (which may be |chosen|). False, with
// |out| left alone, when |chosen| is null or empty or the result does not
// fit in |capacity| bytes.
bool WavFileName(const char* chosen, char* out, size_t capacity);

// Strict reader: accepts PCM (plain, or extensible with the PCM subformat),
// mono, 16-bit, 44100 Hz, and nothing else. Chunks may come in any order;
// unknown ones are skipped. On failure |error| names the problem in a few
// words and |samples| is left empty.
bool ParseWav(std::span<const uint8_t> bytes, std::vector<int16_t>& samples, std::string& error);
bool ReadWavFile(const char* path, std::vector<int16_t>& samples, std::string& error);

// Samples read and written per file access unless a caller asks otherwise.
inline constexpr size_t kWavStreamSamples = 32768;

// Reads a WAV file's samples piece by piece, so that memory does not grow
// with the file. Open checks the whole file exactly as ReadWavFile does,
// with the same messages, before a single sample is handed out. A file
// that cannot seek (a pipe) and a caller asking for it are served from
// memory instead, read whole at Open.
class WavFileReader {
 public:
  explicit WavFileReader(size_t bufferSamples = kWavStreamSamples);
  ~WavFileReader();
  WavFileReader(const WavFileReader&) = delete;
  WavFileReader& operator=(const WavFileReader&) = delete;

  bool Open(const char* path, bool wholeInMemory, std::string& error);
  [[nodiscard]] uint64_t SampleCount() const { return count_; }
  // Fills |out| with up to |max| of the next samples and sets |got| (0 at
  // the end). False, with |error| set, when the file no longer holds what
  // Open found in it.
  bool Read(int16_t* out, size_t max, size_t& got, std::string& error);

 private:
  size_t bufferSamples_;
  std::FILE* file_ = nullptr;
  uint64_t count_ = 0;
  uint64_t delivered_ = 0;
  std::vector<uint8_t> buffer_;
  size_t buffered_ = 0;
  size_t bufferPos_ = 0;
  std::vector<int16_t> whole_;
};

// Writes a WAV file piece by piece with the exact bytes WriteWavFile would
// write for all the samples at once: the header, rewritten with the final
// count by Finish, then the samples. An output that cannot seek (a pipe),
// and one the caller defers because it must not be touched before the end,
// keep the samples in memory and are written whole by Finish. A file not
// finished (destroyed before, or a failed Finish) is removed when it is a
// plain file, never left short.
class WavFileWriter {
 public:
  explicit WavFileWriter(size_t bufferSamples = kWavStreamSamples);
  ~WavFileWriter();
  WavFileWriter(const WavFileWriter&) = delete;
  WavFileWriter& operator=(const WavFileWriter&) = delete;

  bool Open(const char* path, bool deferred);
  // False when the file cannot take more: a write failed or the count would
  // pass kWavMaxSamples.
  bool Append(const int16_t* samples, size_t count);
  // False when nothing was appended or the file could not be completed.
  bool Finish();

 private:
  bool OpenFile();
  bool Flush();
  void Abandon();

  size_t bufferSamples_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool streaming_ = false;
  bool failed_ = false;
  uint64_t count_ = 0;
  std::vector<uint8_t> pending_;
};

}  // namespace mimicore
