#include "audio/take_export.h"

#include <algorithm>
#include <array>
#include <new>

namespace mimicore {

namespace {

SaveOutcome NotSaved(StatusDisplay& status) {
  status.ShowStatus("NOT SAVED!", " ");
  return SaveOutcome::kNotSaved;
}

}  // namespace

std::unique_ptr<int16_t[]> AllocateSamples(size_t count) {
  return std::unique_ptr<int16_t[]>(new (std::nothrow) int16_t[count]);
}

SaveOutcome SaveLastTake(const TakeRing& ring, SaveFileChooser& chooser, StatusDisplay& status,
                         SampleAllocator allocate, bool reversed, FileReplacer replace) {
  // Taken before the dialog: the user asked for the take that was last when
  // they pressed the key.
  const TakeSnapshot take = ring.LastTake();
  if (take.count == 0 || !ring.Allocated()) {
    return NotSaved(status);
  }

  std::array<char, kSavePathCapacity> path{};
  switch (chooser.Choose(path.data(), path.size())) {
    case Choice::kChosen:
      break;
    case Choice::kCancelled:
      return SaveOutcome::kCancelled;
    case Choice::kFailed:
      return NotSaved(status);
  }
  path.back() = '\0';
  if (!WavFileName(path.data(), path.data(), path.size())) {
    return NotSaved(status);
  }

  const std::unique_ptr<int16_t[]> samples = allocate(take.count);
  if (!samples || !ring.CopyTake(take, samples.get())) {
    return NotSaved(status);
  }
  if (reversed) {
    std::reverse(samples.get(), samples.get() + take.count);
  }
  if (!WriteWavFileReplacing(path.data(), samples.get(), take.count, replace)) {
    return NotSaved(status);
  }
  status.ShowStatus("SAVED", " ");
  return SaveOutcome::kSaved;
}

}  // namespace mimicore
