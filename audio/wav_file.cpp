#include "audio/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

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

// Where the samples lie in a file whose layout has been checked.
struct DataSpan {
  uint64_t offset = 0;
  uint32_t bytes = 0;
};

// Walks the chunks of a file of |size| bytes and checks its format,
// reading only chunk headers and the fmt body through |readAt(offset,
// destination, count)|, which sets |error| itself when it fails. The
// order of the checks fixes which problem a broken file is reported with.
template <typename ReadAt>
bool WalkWav(uint64_t size, ReadAt&& readAt, DataSpan& span, std::string& error) {
  if (size == 0) {
    return Fail(error, "empty file");
  }
  std::array<uint8_t, 12> head{};
  if (!readAt(0, head.data(), size_t(std::min<uint64_t>(size, head.size())))) {
    return false;
  }
  const uint8_t* p = head.data();
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

  // CheckFormat looks at no more than the extensible layout's bytes.
  std::array<uint8_t, kFmtExtensibleBytes> fmt{};
  bool haveFmt = false;
  uint32_t fmtSize = 0;
  bool haveData = false;
  uint64_t pos = 12;
  while (pos < end) {
    if (end - pos < 8) {
      return Fail(error, "truncated chunk header at byte " + std::to_string(pos));
    }
    std::array<uint8_t, 8> header{};
    if (!readAt(pos, header.data(), header.size())) {
      return false;
    }
    const uint8_t* id = header.data();
    const uint32_t chunkSize = GetLe32(header.data() + 4);
    const uint64_t body = pos + 8;
    if (chunkSize > end - body) {
      return Fail(error, "truncated " + PrintableId(id) + " chunk (" + std::to_string(chunkSize) +
                             " bytes declared, " + std::to_string(end - body) + " present)");
    }
    if (IdIs(id, "fmt ")) {
      if (haveFmt) {
        return Fail(error, "more than one fmt chunk");
      }
      haveFmt = true;
      fmtSize = chunkSize;
      if (!readAt(body, fmt.data(), std::min<size_t>(chunkSize, fmt.size()))) {
        return false;
      }
    } else if (IdIs(id, "data")) {
      if (haveData) {
        return Fail(error, "more than one data chunk");
      }
      haveData = true;
      span = {body, chunkSize};
    }
    // Odd-sized chunks are followed by a pad byte; a missing pad at the very
    // end simply ends the walk.
    pos = body + chunkSize + (chunkSize & 1U);
  }
  if (!haveFmt) {
    return Fail(error, "no fmt chunk");
  }
  if (!CheckFormat(fmt.data(), fmtSize, error)) {
    return false;
  }
  if (!haveData) {
    return Fail(error, "no data chunk");
  }
  if (riffEnd > size) {
    return Fail(error, "truncated RIFF chunk (" + std::to_string(riffEnd - 8) +
                           " bytes declared, " + std::to_string(size - 8) + " present)");
  }
  if (span.bytes % 2U != 0) {
    return Fail(error,
                "data chunk ends in a partial sample (" + std::to_string(span.bytes) + " bytes)");
  }
  if (span.bytes == 0) {
    return Fail(error, "no samples in the data chunk");
  }
  return true;
}

void ToSamples(const uint8_t* bytes, size_t count, int16_t* out) {
  for (size_t i = 0; i < count; ++i) {
    out[i] = static_cast<int16_t>(GetLe16(bytes + 2 * i));
  }
}

bool ParseWavChecked(std::span<const uint8_t> bytes, std::vector<int16_t>& samples,
                     std::string& error) {
  const auto copy = [&](uint64_t offset, uint8_t* to, size_t n) {
    std::memcpy(to, bytes.data() + offset, n);
    return true;
  };
  DataSpan span;
  if (!WalkWav(bytes.size(), copy, span, error)) {
    return false;
  }
  samples.resize(span.bytes / 2U);
  ToSamples(bytes.data() + span.offset, samples.size(), samples.data());
  return true;
}

// The whole of an open file, at most a WAV file's largest size.
bool ReadAllBytes(std::FILE* f, std::vector<uint8_t>& bytes, std::string& error) {
  try {
    std::array<uint8_t, kIoChunkBytes> buf{};
    for (;;) {
      const size_t got = std::fread(buf.data(), 1, buf.size(), f);
      if (uint64_t{bytes.size()} + got > kMaxWavFileBytes) {
        return Fail(error, "larger than a WAV file can be");
      }
      bytes.insert(bytes.end(), buf.begin(), buf.begin() + std::ptrdiff_t(got));
      if (got < buf.size()) {
        if (std::ferror(f) != 0) {
          return Fail(error, std::string("cannot read: ") + std::strerror(errno));
        }
        return true;
      }
    }
  } catch (const std::bad_alloc&) {
    return Fail(error, "not enough memory to read the file");
  }
}

bool SeekTo(std::FILE* f, uint64_t offset) {
  return offset <= uint64_t(std::numeric_limits<off_t>::max()) &&
         fseeko(f, off_t(offset), SEEK_SET) == 0;
}

// False for what cannot seek (pipes, terminals): those are read through once.
bool SeekableSize(std::FILE* f, uint64_t& size) {
  if (fseeko(f, 0, SEEK_END) != 0) {
    return false;
  }
  const off_t end = ftello(f);
  if (end < 0 || fseeko(f, 0, SEEK_SET) != 0) {
    return false;
  }
  size = uint64_t(end);
  return true;
}

bool ReadExactly(std::FILE* f, uint8_t* to, size_t n, std::string& error) {
  if (std::fread(to, 1, n, f) == n) {
    return true;
  }
  return Fail(error, std::ferror(f) != 0 ? std::string("cannot read: ") + std::strerror(errno)
                                         : std::string("cannot read: the file became shorter"));
}

// Reads what the chunk walk asks for through one window onto the file, so
// that a file of countless tiny chunks costs one read per window, not one
// per chunk.
class FileWindow {
 public:
  FileWindow(std::FILE* f, uint64_t size) : file_(f), size_(size) {}

  bool Copy(uint64_t offset, uint8_t* to, size_t n, std::string& error) {
    if (offset < start_ || offset + n > start_ + length_) {
      const size_t want = size_t(std::min<uint64_t>(bytes_.size(), size_ - offset));
      if (want < n) {
        return Fail(error, "cannot read: the file became shorter");
      }
      if (!SeekTo(file_, offset)) {
        return Fail(error, std::string("cannot seek: ") + std::strerror(errno));
      }
      if (!ReadExactly(file_, bytes_.data(), want, error)) {
        return false;
      }
      start_ = offset;
      length_ = want;
    }
    std::memcpy(to, bytes_.data() + (offset - start_), n);
    return true;
  }

 private:
  std::FILE* file_;
  uint64_t size_;
  uint64_t start_ = 0;
  size_t length_ = 0;
  std::array<uint8_t, kIoChunkBytes> bytes_{};
};

// Only a plain file is ours to remove; a device or a link's target is left
// alone.
void RemoveIfPlainFile(const char* path) {
  std::error_code ec;
  if (std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::regular) {
    std::filesystem::remove(path, ec);
  }
}

}  // namespace

std::array<uint8_t, kWavHeaderSize> WavHeader(uint32_t count) {
  return MakeWavHeader(MakePcmFormat(16, 1, kSampleRate), kWavHeaderSize + uint64_t{2} * count);
}

namespace {

// The header and the samples; false when a write or the close fails. Closes
// |f| in every case.
bool WriteWavTo(std::FILE* f, const int16_t* samples, uint32_t count) {
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
  return (std::fclose(f) == 0) && ok;
}

bool WritableSamples(const char* path, const int16_t* samples, uint32_t count) {
  return path != nullptr && samples != nullptr && count != 0 && count <= kWavMaxSamples;
}

#ifdef O_BINARY
constexpr int kBinaryOpen = O_BINARY;
#else
constexpr int kBinaryOpen = 0;
#endif

// A file of our own beside |path|, created afresh so that nothing that is
// there already is opened: its name goes to |name|.
std::FILE* CreateBeside(const char* path, std::string& name) {
  const std::string target(path);
  const size_t slash = target.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  for (int n = 0; n < 100; ++n) {
    name = folder + "~mimicore-save-" + std::to_string(n) + ".tmp";
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | kBinaryOpen, 0666);
    if (fd >= 0) {
      std::FILE* f = fdopen(fd, "wb");
      if (f == nullptr) {
        close(fd);
        RemoveIfPlainFile(name.c_str());
      }
      return f;
    }
    if (errno != EEXIST) {
      return nullptr;
    }
  }
  return nullptr;
}

}  // namespace

bool WriteWavFile(const char* path, const int16_t* samples, uint32_t count) {
  if (!WritableSamples(path, samples, count)) {
    return false;
  }
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) {
    return false;
  }
  if (!WriteWavTo(f, samples, count)) {
    RemoveIfPlainFile(path);
    return false;
  }
  return true;
}

bool RenameReplacing(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool WriteWavFileReplacing(const char* path, const int16_t* samples, uint32_t count,
                           FileReplacer replace) {
  if (!WritableSamples(path, samples, count) || replace == nullptr || path[0] == '\0') {
    return false;
  }
  std::string temporary;
  std::FILE* f = CreateBeside(path, temporary);
  if (f == nullptr) {
    return false;
  }
  if (!WriteWavTo(f, samples, count) || !replace(temporary.c_str(), path)) {
    RemoveIfPlainFile(temporary.c_str());
    return false;
  }
  return true;
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

namespace {

// Null, with the reason in |error|, when the file cannot be opened.
std::FILE* OpenForReading(const char* path, std::string& error) {
  if (path == nullptr) {
    Fail(error, "no file name");
    return nullptr;
  }
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    Fail(error, std::string("cannot open: ") + std::strerror(errno));
  }
  return f;
}

// Reads the rest of |f| and parses it as a whole; closes |f|.
bool ReadWholeWav(std::FILE* f, std::vector<int16_t>& samples, std::string& error) {
  std::vector<uint8_t> bytes;
  const bool ok = ReadAllBytes(f, bytes, error);
  std::fclose(f);
  return ok && ParseWav(bytes, samples, error);
}

}  // namespace

bool ReadWavFile(const char* path, std::vector<int16_t>& samples, std::string& error) {
  samples.clear();
  error.clear();
  std::FILE* f = OpenForReading(path, error);
  return f != nullptr && ReadWholeWav(f, samples, error);
}

WavFileReader::WavFileReader(size_t bufferSamples)
    : bufferSamples_(std::max<size_t>(1, bufferSamples)) {}

WavFileReader::~WavFileReader() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

bool WavFileReader::Open(const char* path, bool wholeInMemory, std::string& error) {
  error.clear();
  std::FILE* f = OpenForReading(path, error);
  if (f == nullptr) {
    return false;
  }
  uint64_t size = 0;
  if (wholeInMemory || !SeekableSize(f, size)) {
    if (!ReadWholeWav(f, whole_, error)) {
      return false;
    }
    count_ = whole_.size();
    return true;
  }
  file_ = f;
  if (size > kMaxWavFileBytes) {
    return Fail(error, "larger than a WAV file can be");
  }
  FileWindow window(f, size);
  const auto readAt = [&](uint64_t offset, uint8_t* to, size_t n) {
    return window.Copy(offset, to, n, error);
  };
  DataSpan span;
  if (!WalkWav(size, readAt, span, error)) {
    return false;
  }
  if (!SeekTo(f, span.offset)) {
    return Fail(error, std::string("cannot seek: ") + std::strerror(errno));
  }
  count_ = span.bytes / 2U;
  try {
    buffer_.resize(bufferSamples_ * 2U);
  } catch (const std::bad_alloc&) {
    return Fail(error, "not enough memory to read the file");
  }
  return true;
}

bool WavFileReader::Read(int16_t* out, size_t max, size_t& got, std::string& error) {
  got = 0;
  if (file_ == nullptr) {
    got = size_t(std::min<uint64_t>(max, count_ - delivered_));
    std::copy_n(whole_.begin() + std::ptrdiff_t(delivered_), got, out);
    delivered_ += got;
    return true;
  }
  while (got < max && delivered_ < count_) {
    if (bufferPos_ == buffered_) {
      const size_t n = size_t(std::min<uint64_t>(bufferSamples_, count_ - delivered_));
      if (!ReadExactly(file_, buffer_.data(), n * 2U, error)) {
        return false;
      }
      bufferPos_ = 0;
      buffered_ = n;
    }
    const size_t run = std::min(max - got, buffered_ - bufferPos_);
    ToSamples(buffer_.data() + 2 * bufferPos_, run, out + got);
    bufferPos_ += run;
    delivered_ += run;
    got += run;
  }
  return true;
}

WavFileWriter::WavFileWriter(size_t bufferSamples)
    : bufferSamples_(std::max<size_t>(1, bufferSamples)) {}

WavFileWriter::~WavFileWriter() { Abandon(); }

bool WavFileWriter::OpenFile() {
  file_ = std::fopen(path_.c_str(), "wb");
  return file_ != nullptr;
}

bool WavFileWriter::Open(const char* path, bool deferred) {
  if (path == nullptr || file_ != nullptr) {
    return false;
  }
  path_ = path;
  if (deferred) {
    return true;
  }
  if (!OpenFile()) {
    return false;
  }
  // The header waits at the front for the count, known only at the end.
  streaming_ = ftello(file_) >= 0 && fseeko(file_, 0, SEEK_SET) == 0;
  if (streaming_) {
    const std::array<uint8_t, kWavHeaderSize> placeholder = WavHeader(0);
    if (std::fwrite(placeholder.data(), 1, placeholder.size(), file_) != placeholder.size()) {
      Abandon();
      return false;
    }
  }
  return true;
}

bool WavFileWriter::Append(const int16_t* samples, size_t count) {
  if (failed_ || samples == nullptr || count > kWavMaxSamples - count_) {
    failed_ = true;
    return false;
  }
  try {
    const size_t at = pending_.size();
    pending_.resize(at + 2U * count);
    for (size_t i = 0; i < count; ++i) {
      PutLe16(pending_.data() + at + 2 * i, static_cast<uint16_t>(samples[i]));
    }
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return false;
  }
  count_ += count;
  if (streaming_ && pending_.size() >= bufferSamples_ * 2U) {
    failed_ = !Flush();
  }
  return !failed_;
}

bool WavFileWriter::Flush() {
  // Whole pieces only, so that every write has the size the caller chose.
  const size_t piece = bufferSamples_ * 2U;
  size_t done = 0;
  while (pending_.size() - done >= piece) {
    if (std::fwrite(pending_.data() + done, 1, piece, file_) != piece) {
      return false;
    }
    done += piece;
  }
  pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(done));
  return true;
}

bool WavFileWriter::Finish() {
  if (failed_ || count_ == 0 || (file_ == nullptr && (path_.empty() || !OpenFile()))) {
    Abandon();
    return false;
  }
  const std::array<uint8_t, kWavHeaderSize> header = WavHeader(uint32_t(count_));
  bool ok = true;
  if (streaming_) {
    ok = Flush() && std::fwrite(pending_.data(), 1, pending_.size(), file_) == pending_.size() &&
         fseeko(file_, 0, SEEK_SET) == 0 &&
         std::fwrite(header.data(), 1, header.size(), file_) == header.size();
  } else {
    ok = std::fwrite(header.data(), 1, header.size(), file_) == header.size() &&
         std::fwrite(pending_.data(), 1, pending_.size(), file_) == pending_.size();
  }
  pending_.clear();
  // A full disk may only show at the flush inside the close.
  ok = (std::fclose(file_) == 0) && ok;
  file_ = nullptr;
  if (!ok) {
    RemoveIfPlainFile(path_.c_str());
  }
  path_.clear();
  return ok;
}

void WavFileWriter::Abandon() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
    RemoveIfPlainFile(path_.c_str());
  }
  path_.clear();
}

}  // namespace mimicore
