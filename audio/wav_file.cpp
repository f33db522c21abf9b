#include "audio/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "core/audio_block.h"
#include "core/little_endian.h"

namespace mimicore {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kFmtMinBytes = 16;
constexpr uint32_t kFmtExtensibleBytes = 40;
// The PCM subformat GUID after its first two bytes (which hold the tag).
constexpr std::array<uint8_t, 14> kPcmGuidTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Room for a RIFF chunk of the largest size its field can hold, and no more.
constexpr uint64_t kMaxWavFileBytes = 0xFFFFFFFFULL + 8U;
constexpr size_t kIoChunkBytes = 64 * 1024;

bool IdIs(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

// A chunk id as text that cannot break the one-line message it goes into.
std::string PrintableId(const uint8_t* p) {
  std::string s = "'";
  for (int i = 0; i < 4; ++i) {
    const char c = char(p[i]);
    s += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  s += "'";
  return s;
}

bool Fail(std::string& error, std::string text) {
  error = std::move(text);
  return false;
}

struct Format {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint32_t byteRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bits = 0;
};

bool CheckFormat(const uint8_t* body, uint32_t size, std::string& error) {
  if (size < kFmtMinBytes) {
    return Fail(error, "fmt chunk too short (" + std::to_string(size) + " bytes, need 16)");
  }
  Format f;
  f.tag = GetLe16(body);
  f.channels = GetLe16(body + 2);
  f.sampleRate = GetLe32(body + 4);
  f.byteRate = GetLe32(body + 8);
  f.blockAlign = GetLe16(body + 12);
  f.bits = GetLe16(body + 14);

  if (f.tag == kFormatExtensible) {
    if (size < kFmtExtensibleBytes || GetLe16(body + 16) < 22) {
      return Fail(error, "extensible fmt chunk too short");
    }
    const uint8_t* guid = body + 24;
    if (GetLe16(guid) != kFormatPcm ||
        !std::equal(kPcmGuidTail.begin(), kPcmGuidTail.end(), guid + 2)) {
      return Fail(error, "not PCM (extensible format with another subformat)");
    }
    if (GetLe16(body + 18) != 16) {
      return Fail(error, std::to_string(GetLe16(body + 18)) +
                             " valid bits per sample, only 16 is accepted");
    }
  } else if (f.tag != kFormatPcm) {
    char tag[8];
    std::snprintf(tag, sizeof tag, "0x%04X", unsigned{f.tag});
    return Fail(error, std::string("not PCM (format tag ") + tag + ")");
  }
  if (f.channels != 1) {
    return Fail(error, std::to_string(f.channels) + " channels, only mono is accepted");
  }
  if (f.sampleRate != kSampleRate) {
    return Fail(error, std::to_string(f.sampleRate) + " Hz, only 44100 Hz is accepted");
  }
  if (f.bits != 16) {
    return Fail(error, std::to_string(f.bits) + "-bit samples, only 16-bit is accepted");
  }
  if (f.blockAlign != 2) {
    return Fail(error, "block alignment " + std::to_string(f.blockAlign) + ", expected 2");
  }
  if (f.byteRate != kSampleRate * 2U) {
    return Fail(error, "byte rate " + std::to_string(f.byteRate) + ", expected 88200");
  }
  return true;
}

bool ParseWavChecked(std::span<const uint8_t> bytes, std::vector<int16_t>& samples,
                     std::string& error) {
  const uint8_t* p = bytes.data();
  const uint64_t size = bytes.size();
  if (size == 0) {
    return Fail(error, "empty file");
  }
  if (size < 4 || !IdIs(p, "RIFF")) {
    return Fail(error, "not a RIFF file");
  }
  if (size < 12) {
    return Fail(error, "truncated RIFF header");
  }
  if (!IdIs(p + 8, "WAVE")) {
    return Fail(error, "RIFF file is not WAVE (form type " + PrintableId(p + 8) + ")");
  }
  const uint64_t riffEnd = 8U + uint64_t{GetLe32(p + 4)};
  if (riffEnd < 12) {
    return Fail(error, "RIFF chunk too small");
  }
  // Everything past the RIFF chunk is ignored; a chunk that claims more than
  // the file holds is reported as what it is.
  const uint64_t end = std::min(riffEnd, size);

  const uint8_t* fmt = nullptr;
  uint32_t fmtSize = 0;
  const uint8_t* data = nullptr;
  uint32_t dataSize = 0;
  uint64_t pos = 12;
  while (pos < end) {
    if (end - pos < 8) {
      return Fail(error, "truncated chunk header at byte " + std::to_string(pos));
    }
    const uint8_t* id = p + pos;
    const uint32_t chunkSize = GetLe32(p + pos + 4);
    const uint64_t body = pos + 8;
    if (chunkSize > end - body) {
      return Fail(error, "truncated " + PrintableId(id) + " chunk (" + std::to_string(chunkSize) +
                             " bytes declared, " + std::to_string(end - body) + " present)");
    }
    if (IdIs(id, "fmt ")) {
      if (fmt != nullptr) {
        return Fail(error, "more than one fmt chunk");
      }
      fmt = p + body;
      fmtSize = chunkSize;
    } else if (IdIs(id, "data")) {
      if (data != nullptr) {
        return Fail(error, "more than one data chunk");
      }
      data = p + body;
      dataSize = chunkSize;
    }
    // Odd-sized chunks are followed by a pad byte; a missing pad at the very
    // end simply ends the walk.
    pos = body + chunkSize + (chunkSize & 1U);
  }
  if (fmt == nullptr) {
    return Fail(error, "no fmt chunk");
  }
  if (!CheckFormat(fmt, fmtSize, error)) {
    return false;
  }
  if (data == nullptr) {
    return Fail(error, "no data chunk");
  }
  if (riffEnd > size) {
    return Fail(error, "truncated RIFF chunk (" + std::to_string(riffEnd - 8) +
                           " bytes declared, " + std::to_string(size - 8) + " present)");
  }
  if (dataSize % 2U != 0) {
    return Fail(error,
                "data chunk ends in a partial sample (" + std::to_string(dataSize) + " bytes)");
  }
  if (dataSize == 0) {
    return Fail(error, "no samples in the data chunk");
  }
  samples.resize(dataSize / 2U);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(GetLe16(data + 2 * i));
  }
  return true;
}

}  // namespace

std::array<uint8_t, kWavHeaderSize> WavHeader(uint32_t count) {
  return MakeWavHeader(MakePcmFormat(16, 1, kSampleRate), kWavHeaderSize + uint64_t{2} * count);
}

bool WriteWavFile(const char* path, const int16_t* samples, uint32_t count) {
  if (path == nullptr || samples == nullptr || count == 0 || count > kWavMaxSamples) {
    return false;
  }
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) {
    return false;
  }
  const std::array<uint8_t, kWavHeaderSize> header = WavHeader(count);
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();

  // Converted piecewise so that the file is little-endian on any host
  // without a second copy of the whole take.
  std::array<uint8_t, kIoChunkBytes> buf{};
  uint32_t done = 0;
  while (ok && done < count) {
    const uint32_t run = std::min<uint32_t>(count - done, kIoChunkBytes / 2);
    for (uint32_t i = 0; i < run; ++i) {
      PutLe16(buf.data() + 2 * i, static_cast<uint16_t>(samples[done + i]));
    }
    ok = std::fwrite(buf.data(), 1, size_t{run} * 2U, f) == size_t{run} * 2U;
    done += run;
  }
  // A full disk may only show at the flush inside the close.
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) {
    // Only a plain file is ours to remove; a device or a link's target is
    // left alone.
    std::error_code ec;
    if (std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::regular) {
      std::filesystem::remove(path, ec);
    }
  }
  return ok;
}

bool WavFileName(const char* chosen, char* out, size_t capacity) {
  if (chosen == nullptr || out == nullptr || capacity == 0) {
    return false;
  }
  const size_t length = std::strlen(chosen);
  if (length == 0) {
    return false;
  }
  // A dot in a folder's name says nothing about the file's type.
  size_t nameStart = 0;
  for (size_t i = 0; i < length; ++i) {
    if (chosen[i] == '\\' || chosen[i] == '/') {
      nameStart = i + 1;
    }
  }
  const bool hasType = std::memchr(chosen + nameStart, '.', length - nameStart) != nullptr;
  constexpr char kType[] = ".wav";
  const size_t added = hasType ? 0 : sizeof kType - 1;
  if (length + added >= capacity) {
    return false;
  }
  std::memmove(out, chosen, length);
  std::memcpy(out + length, kType, added);
  out[length + added] = '\0';
  return true;
}

bool ParseWav(std::span<const uint8_t> bytes, std::vector<int16_t>& samples, std::string& error) {
  samples.clear();
  error.clear();
  try {
    if (ParseWavChecked(bytes, samples, error)) {
      return true;
    }
  } catch (const std::bad_alloc&) {
    error = "not enough memory for the samples";
  }
  samples.clear();
  return false;
}

bool ReadWavFile(const char* path, std::vector<int16_t>& samples, std::string& error) {
  samples.clear();
  error.clear();
  if (path == nullptr) {
    return Fail(error, "no file name");
  }
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    return Fail(error, std::string("cannot open: ") + std::strerror(errno));
  }
  std::vector<uint8_t> bytes;
  bool ok = true;
  try {
    std::array<uint8_t, kIoChunkBytes> buf{};
    for (;;) {
      const size_t got = std::fread(buf.data(), 1, buf.size(), f);
      if (uint64_t{bytes.size()} + got > kMaxWavFileBytes) {
        ok = Fail(error, "larger than a WAV file can be");
        break;
      }
      bytes.insert(bytes.end(), buf.begin(), buf.begin() + std::ptrdiff_t(got));
      if (got < buf.size()) {
        if (std::ferror(f) != 0) {
          ok = Fail(error, std::string("cannot read: ") + std::strerror(errno));
        }
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    ok = Fail(error, "not enough memory to read the file");
  }
  std::fclose(f);
  if (!ok) {
    return false;
  }
  return ParseWav(bytes, samples, error);
}

}  // namespace mimicore
