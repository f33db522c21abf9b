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

  Choice Choose(char* path, size_t capacity) override {
    if (path == nullptr || capacity == 0) {
      return Choice::kFailed;
    }
    path[0] = '\0';
    OPENFILENAMEA record = SaveDialogRecord(owner_, path, DWORD(capacity));
    if (GetSaveFileNameA(&record) != FALSE) {
      return Choice::kChosen;
    }
    // No error means the user cancelled; anything else (a name too long for
    // the buffer, a dialog that could not be made) is a save that failed.
    return CommDlgExtendedError() == 0 ? Choice::kCancelled : Choice::kFailed;
  }

 private:
  HWND owner_;
};

// The new file takes the old one's place in one step, so a file that was
// there is either kept whole or replaced by the complete new one.
bool MoveReplacing(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

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
  // The dialog adds the extension itself, so that the overwrite question
  // is about the file that will be written ("take" is saved as take.wav).
  record.lpstrDefExt = "wav";
  return record;
}

void SaveLastTake(HWND owner, const VoiceEngine& engine, StatusDisplay& status) {
  DialogChooser chooser(owner);
  SaveLastTake(engine.Ring(), chooser, status, AllocateSamples, engine.PlaysReversed(),
               MoveReplacing);
}

}  // namespace mimicore
