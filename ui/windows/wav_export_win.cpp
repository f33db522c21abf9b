#include "ui/windows/wav_export_win.h"

#include "audio/take_export.h"
#include "engine/voice_engine.h"

namespace mimicore {

namespace {

// Both entries, each as a description and a pattern, ended by an empty one.
constexpr char kFilter[] = "Wave files (*.wav)\0*.wav\0All files (*.*)\0*.*\0";

class DialogChooser final : public SaveFileChooser {
 public:
  explicit DialogChooser(HWND owner) : owner_(owner) {}

  bool Choose(char* path, size_t capacity) override {
    if (path == nullptr || capacity == 0) {
      return false;
    }
    path[0] = '\0';
    OPENFILENAMEA record = SaveDialogRecord(owner_, path, DWORD(capacity));
    return GetSaveFileNameA(&record) != FALSE;
  }

 private:
  HWND owner_;
};

}  // namespace

OPENFILENAMEA SaveDialogRecord(HWND owner, char* path, DWORD capacity) {
  OPENFILENAMEA record{};
  record.lStructSize = sizeof(OPENFILENAMEA);
  record.hwndOwner = owner;
  record.lpstrFilter = kFilter;
  record.nFilterIndex = 1;
  record.lpstrFile = path;
  record.nMaxFile = capacity;
  record.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
  return record;
}

void SaveLastTake(HWND owner, const VoiceEngine& engine, StatusDisplay& status) {
  DialogChooser chooser(owner);
  SaveLastTake(engine.Ring(), chooser, status, AllocateSamples, engine.PlaysReversed());
}

}  // namespace mimicore
