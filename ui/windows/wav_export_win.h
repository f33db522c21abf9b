// The Enter command of the main window: the system's save dialog in front
// of the portable save flow (audio/take_export.h).
#pragma once

#include <windows.h>

#include <commdlg.h>

namespace mimicore {

class StatusDisplay;
class VoiceEngine;

// The dialog's record: a save dialog owned by |owner| for WAV files first,
// writing the chosen name into |path| (|capacity| bytes, empty on entry).
OPENFILENAMEA SaveDialogRecord(HWND owner, char* path, DWORD capacity);

// Window thread, on the Enter key. Saves the last take to a file the user
// picks and shows "SAVED" or "NOT SAVED!" on |status|; cancelling shows
// nothing. With nothing recorded yet no dialog opens.
void SaveLastTake(HWND owner, const VoiceEngine& engine, StatusDisplay& status);

}  // namespace mimicore
