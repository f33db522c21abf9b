// mimicore-render: runs the voice engine on a WAV file as if it were the
// microphone.
//
//   mimicore-render INPUT.wav [-o SPEAKER.wav] [--takes DIR] [--speed X]
//       [--threshold PCT] [--peak N] [--silence MS] [--echo] [--delay MS]
//       [--decay X] [--bpf HZ] [--reverse] [--pre-roll MS] [--no-echo-guard]
//       [--loopback GAIN[,DELAY_MS]]
//
// The flags set Speed, NThre, peakThreshold, SilenceTime, Echo (to 1),
// Delay, Decay, Bpf, Reverse (to 1), PreRoll and EchoGuard (to 0);
// everything else keeps its built-in default. INPUT is cut into blocks of
// 880 samples (the last padded with zeros); block k is handed to the engine
// at tick floor(k * 880000 / 44100) ms. --loopback adds to each input
// sample the speaker's sample from DELAY_MS earlier (at least 880 samples,
// the default) times GAIN, truncated and saturated, as a laptop's
// microphone hears its speakers. After the input, silent blocks follow
// until nothing is recording, held by the echo guard, waiting or playing
// any more and the last echo has come back, at most 4096 of them.
//
// INPUT is read and the speaker file written piece by piece, so that memory
// does not grow with the input; only a pipe, an INPUT that -o names too and
// an INPUT inside DIR are read whole first, and a speaker file that cannot
// seek is written whole at the end.
//
// Output on stdout, one record per line, fields separated by single
// spaces, numbers in decimal, blocks counted from 0:
//
//   take <n> begin=<block> end=<block> samples=<count>[ still-recording][ lost=<count>]
//       One line per take, in order, printed when the take is saved: <n>
//       counts from 1 and matches DIR/take-<n, 3 digits at least>.wav;
//       begin is the block on which recording started (the first block
//       recorded), end the block on which it stopped (the first block not
//       recorded) or "none" for a take still recording when the run ended,
//       which then also carries "still-recording". samples is the length
//       of the saved take, backwards when takes play backwards. A take
//       whose first blocks the echo guard held begins where they were
//       heard. lost=<count> appears only for a take that
//       outgrew the ring: that many of its first samples were overwritten
//       and the take saved is the whole ring.
//
//   done takes=<n> input-blocks=<k> blocks=<total> played-blocks=<p> unplayed-samples=<u>
//       [ echo-blocks=<e>] (on the same line)
//       The last line, printed only when every output was written: the
//       number of takes, the blocks made from INPUT, all blocks handed
//       over (input and trailing silence), the blocks during which the
//       engine fed the speaker, and the samples still waiting to be played
//       when the trailing silence ran out (0 unless the limit was hit);
//       echo-blocks, when any or with --loopback, counts the blocks loud
//       enough to be voice that the echo guard took for the speaker's echo.
//
// Errors go to stderr as "mimicore-render: <what>: <problem>", one line
// (bad command lines are followed by the usage text).
//
// Exit codes: 0 done; 1 an output (take, speaker file, DIR) could not be
// written or memory ran out; 2 bad command line or an input that is not a
// PCM, 16-bit, mono, 44100 Hz WAV file. --help prints the usage, exit 0.
#include <iostream>

#include "tools/render/render.h"

int main(int argc, char** argv) {
  const int rc = mimicore::render::RunRender(argc, argv, std::cout, std::cerr);
  std::cout.flush();
  if (!std::cout) {
    // A full disk or closed pipe on stdout loses the take lines.
    std::cerr << "mimicore-render: cannot write to standard output\n";
    return rc == 0 ? 1 : rc;
  }
  return rc;
}
