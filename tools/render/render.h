// The command-line renderer: runs the voice engine on a WAV file as if it
// were the microphone and writes what the speaker would have played and
// every take. Kept apart from main() so that tests can run it in-process.
// The command line and the output lines are described at the top of
// main.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "audio/wav_file.h"

namespace mimicore::render {

inline constexpr int kExitOk = 0;
inline constexpr int kExitOutputFailed = 1;
inline constexpr int kExitBadInput = 2;

// Capture blocks that may follow the input while a take is still
// recording or waiting to be played.
inline constexpr uint32_t kMaxTrailingBlocks = 4096;

// The tick the renderer's clock shows for capture block |block|: the
// block's start in whole milliseconds, wrapping like the system counter.
uint32_t BlockTickMs(uint64_t block);

// How many samples each read of the input and each write of the speaker
// file moves; whatever they are, the outputs are the same bytes.
struct IoBlockSizes {
  size_t readSamples = kWavStreamSamples;
  size_t writeSamples = kWavStreamSamples;
};

// |argv| as main() receives it (argv[0] is the program's name). Returns the
// process's exit code.
int RunRender(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
              const IoBlockSizes& io = {});

}  // namespace mimicore::render
