// Saving the last take as a WAV file: the command behind the Enter key,
// without the platform's dialog, so that every path through it runs in the
// native tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/wav_file.h"
#include "core/status_display.h"
#include "engine/take_ring.h"

namespace mimicore {

// Room for a chosen path, terminator included (the dialog's own limit).
inline constexpr size_t kSavePathCapacity = 260;

enum class Choice { kChosen, kCancelled, kFailed };

class SaveFileChooser {
 public:
  virtual ~SaveFileChooser() = default;
  // Asks the user for a file to save to. |path| holds |capacity| bytes and
  // is empty on entry.
  virtual Choice Choose(char* path, size_t capacity) = 0;
};

// Room for |count| samples, or null when memory is short. Never throws.
using SampleAllocator = std::unique_ptr<int16_t[]> (*)(size_t count);
std::unique_ptr<int16_t[]> AllocateSamples(size_t count);

enum class SaveOutcome { kSaved, kNotSaved, kCancelled };

// Window thread. Saves the take that was last when the command started,
// even when another one begins while the dialog is open, and reports the
// outcome on |status| ("SAVED" / "NOT SAVED!", also for a dialog that
// failed; nothing when cancelled). With nothing recorded yet no dialog is
// shown. A take the writer has reached into meanwhile is not saved rather
// than saved mixed. A take that is played backwards (|reversed|) is saved
// as it is played. A file already there is replaced only by a complete new
// one (through |replace|), never lost to a failed save.
SaveOutcome SaveLastTake(const TakeRing& ring, SaveFileChooser& chooser, StatusDisplay& status,
                         SampleAllocator allocate = AllocateSamples, bool reversed = false,
                         FileReplacer replace = RenameReplacing);

}  // namespace mimicore
