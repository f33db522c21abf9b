// The Enter command with the system's own save dialog, answered by a timer
// on the dialog's thread as a user would: a name typed and OK, or Cancel.
#include "ui/windows/wav_export_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/wav_file.h"
#include "core/status_display.h"
#include "engine/voice_engine.h"

namespace mimicore {
namespace {

class SteppedClock final : public Clock {
 public:
  uint32_t NowMs() override { return now += 20; }
  uint32_t now = 1000;
};

// What the timer does once the dialog is up; empty name: Cancel.
std::string g_answer;
int g_ticks = 0;
bool g_answered = false;

BOOL CALLBACK KeepDialog(HWND w, LPARAM out) {
  char cls[16] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") == 0 && IsWindowVisible(w)) {
    *reinterpret_cast<HWND*>(out) = w;
    return FALSE;
  }
  return TRUE;
}

HWND FindDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), KeepDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

void CALLBACK Answer(HWND, UINT, UINT_PTR, DWORD) {
  ++g_ticks;
  HWND dialog = FindDialog();
  if (dialog == nullptr) {
    return;
  }
  if (g_answered || g_ticks > 100) {
    // Whatever is left open (a question, or a dialog that did not take the
    // answer) is cancelled so that the test ends.
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  g_answered = true;
  if (g_answer.empty()) {
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  // The file name box: a combo box in the newer layout, an edit in the older.
  constexpr int kNameCombo = 0x47c;
  constexpr int kNameEdit = 0x480;
  for (int id : {kNameCombo, kNameEdit}) {
    if (GetDlgItem(dialog, id) != nullptr) {
      SetDlgItemTextA(dialog, id, g_answer.c_str());
    }
  }
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

class SaveCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine.AllocateRing());
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0U);
    // A dot in the folder's name must not count as the file's type.
    dir = std::filesystem::path(temp) /
          ("mimicore.export-" + std::to_string(GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  void RecordATake(int16_t amplitude, int blocks) {
    std::vector<int16_t> block(880);
    for (int b = 0; b < blocks; ++b) {
      for (size_t i = 0; i < block.size(); ++i) {
        block[i] = (i % 2 == 0) ? amplitude : int16_t(-amplitude);
      }
      engine.OnCaptureBlock(block.data(), 1760);
    }
  }

  void RunCommand(const std::string& answer) {
    g_answer = answer;
    g_ticks = 0;
    g_answered = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, Answer);
    ASSERT_NE(timer, 0U);
    SaveLastTake(nullptr, engine, status);
    KillTimer(nullptr, timer);
  }

  EngineSettings settings;
  StatusDisplay status;
  SteppedClock clock;
  VoiceEngine engine{settings, status, clock, nullptr, nullptr, nullptr};
  std::filesystem::path dir;
};

TEST_F(SaveCommand, SavesTheTakeUnderTheTypedNameWithTheTypeAdded) {
  RecordATake(9000, 5);
  ASSERT_TRUE(engine.Recording());
  const TakeSnapshot take = engine.Ring().LastTake();
  std::vector<int16_t> expected(take.count);
  ASSERT_TRUE(engine.Ring().CopyTake(take, expected.data()));

  RunCommand((dir / "take").string());
  EXPECT_TRUE(g_answered);
  EXPECT_STREQ(status.Read().title, "SAVED");
  EXPECT_STREQ(status.Read().value, " ");
  std::vector<int16_t> saved;
  std::string error;
  ASSERT_TRUE(ReadWavFile((dir / "take.wav").string().c_str(), saved, error)) << error;
  EXPECT_EQ(saved, expected);
}

TEST_F(SaveCommand, CancelOrNothingRecordedWritesNothing) {
  RunCommand((dir / "take").string());
  EXPECT_FALSE(g_answered) << "no dialog without a take";
  EXPECT_STREQ(status.Read().title, "NOT SAVED!");
  RecordATake(9000, 2);
  status.ShowStatus("", "%s", "");
  RunCommand("");
  EXPECT_TRUE(g_answered);
  EXPECT_STREQ(status.Read().title, "");
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

}  // namespace
}  // namespace mimicore
