#include "audio/take_export.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "audio/wav_file.h"
#include "support.h"

namespace mimicore {
namespace {

using testing::ScratchDir;

TEST(WavFileName, AddsTheTypeOnlyWhenTheFilesOwnNameHasNone) {
  const struct {
    const char* chosen;
    const char* saved;
  } cases[] = {
      {"C:\\take", "C:\\take.wav"},
      {"C:\\take.raw", "C:\\take.raw"},
      {"C:\\my.files\\take", "C:\\my.files\\take.wav"},
      {"C:\\my.files\\take.WAV", "C:\\my.files\\take.WAV"},
      {"/tmp/x.d/take", "/tmp/x.d/take.wav"},
      {"C:\\a.b/take", "C:\\a.b/take.wav"},
      {"take.", "take."},
      {"take", "take.wav"},
  };
  for (const auto& c : cases) {
    char out[kSavePathCapacity] = {};
    ASSERT_TRUE(WavFileName(c.chosen, out, sizeof out)) << c.chosen;
    EXPECT_STREQ(out, c.saved) << c.chosen;
  }
}

TEST(WavFileName, RefusesWhatDoesNotFitAndNeverWritesPastTheBuffer) {
  // 255 characters plus ".wav" need 260 bytes with the terminator: the
  // last name that fits. A name that already has its type needs no room.
  const std::string fits = "C:\\" + std::string(252, 'a');
  const std::string tooLong = fits + "a";
  const std::string typed = "C:\\" + std::string(252, 'a') + ".wa";
  const struct {
    std::string chosen;
    bool ok;
  } cases[] = {{fits, true}, {tooLong, false}, {typed, true}, {"", false}};
  for (const auto& c : cases) {
    std::vector<char> out(kSavePathCapacity + 8, '#');
    EXPECT_EQ(WavFileName(c.chosen.c_str(), out.data(), kSavePathCapacity), c.ok)
        << c.chosen.size();
    for (size_t i = kSavePathCapacity; i < out.size(); ++i) {
      ASSERT_EQ(out[i], '#') << "wrote past the buffer for length " << c.chosen.size();
    }
    if (c.ok) {
      EXPECT_LT(std::strlen(out.data()), kSavePathCapacity);
    }
  }
  // In place, as the save command uses it.
  char inPlace[kSavePathCapacity] = "C:\\take";
  ASSERT_TRUE(WavFileName(inPlace, inPlace, sizeof inPlace));
  EXPECT_STREQ(inPlace, "C:\\take.wav");
}

// The save dialog as the tests answer it: a name, or a cancel, and anything
// that happens while the dialog is open.
class FakeChooser final : public SaveFileChooser {
 public:
  bool Choose(char* path, size_t capacity) override {
    ++opened;
    if (whileOpen) {
      whileOpen();
    }
    if (answer.empty()) {
      return false;
    }
    std::strncpy(path, answer.c_str(), capacity);
    return true;
  }
  std::string answer;
  std::function<void()> whileOpen;
  int opened = 0;
};

class TakeExport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ring.Allocate());
    dir = ScratchDir();
    chooser.answer = (dir / "take").string();
  }

  // Records a take of |blocks| blocks at speed 1, block b holding the value
  // |first| + b, so that order and origin show in the file.
  void Record(int blocks, int16_t first) { Record(ring, blocks, first); }
  void Record(TakeRing& into, int blocks, int16_t first) {
    into.MarkTakeStart();
    for (int b = 0; b < blocks; ++b) {
      const std::vector<int16_t> block(880, int16_t(first + b));
      into.WriteBlock(block.data(), 880, 4194304, {}, echo);
    }
  }

  static std::vector<int16_t> Expected(int blocks, int16_t first) {
    std::vector<int16_t> v;
    for (int b = 0; b < blocks; ++b) {
      v.insert(v.end(), 880, int16_t(first + b));
    }
    return v;
  }

  SaveOutcome Save(SampleAllocator allocate = AllocateSamples) {
    return SaveLastTake(ring, chooser, status, allocate);
  }

  std::vector<int16_t> Saved() {
    std::vector<int16_t> samples;
    std::string error;
    EXPECT_TRUE(ReadWavFile((dir / "take.wav").string().c_str(), samples, error)) << error;
    return samples;
  }

  [[nodiscard]] std::string Title() const { return status.Read().title; }

  TakeRing ring;
  EchoEffect echo;
  StatusDisplay status;
  FakeChooser chooser;
  std::filesystem::path dir;
};

TEST_F(TakeExport, NothingRecordedOrCancelledWritesNothing) {
  EXPECT_EQ(Save(), SaveOutcome::kNotSaved);
  EXPECT_EQ(chooser.opened, 0);
  EXPECT_EQ(Title(), "NOT SAVED!");
  Record(2, 100);
  chooser.answer.clear();
  status.ShowStatus("SPEED", " ");
  EXPECT_EQ(Save(), SaveOutcome::kCancelled);
  EXPECT_EQ(chooser.opened, 1);
  EXPECT_EQ(Title(), "SPEED") << "a cancel shows nothing";
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// Takes of {blocks, first value}: the last one is saved, in spoken order,
// whatever the ring's end and the writer did.
TEST_F(TakeExport, SavesTheLastTakeWhole) {
  const struct {
    const char* what;
    std::vector<std::pair<int, int16_t>> takes;
    std::pair<int, int16_t> whileOpen;  // recorded while the dialog is open
    std::pair<int, int16_t> saved;
  } cases[] = {
      {"plain", {{3, 100}, {1, 200}}, {0, 0}, {1, 200}},
      {"over the ring's end", {{4095, 1}, {3, 7000}}, {0, 0}, {3, 7000}},
      {"the whole ring", {{1, 5}, {4096, 1000}}, {0, 0}, {4096, 1000}},
      {"outgrew the ring: its newest ring", {{4098, 1000}}, {0, 0}, {4096, 1002}},
      {"a take begun while the dialog is open", {{2, 100}}, {5, 300}, {2, 100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TakeRing fresh;
    ASSERT_TRUE(fresh.Allocate());
    for (const auto& [blocks, first] : c.takes) {
      Record(fresh, blocks, first);
    }
    chooser.whileOpen = [&] {
      if (c.whileOpen.first > 0) {
        Record(fresh, c.whileOpen.first, c.whileOpen.second);
      }
    };
    EXPECT_EQ(SaveLastTake(fresh, chooser, status), SaveOutcome::kSaved);
    EXPECT_EQ(Title(), "SAVED");
    EXPECT_EQ(Saved(), Expected(c.saved.first, c.saved.second));
  }
}

TEST_F(TakeExport, RecordingThatReachesIntoTheTakeIsNotSaved) {
  // The take can be saved as long as the writer has not reached its first
  // sample again; one sample further and it is refused, not saved mixed.
  const struct {
    int32_t laterSamples;
    SaveOutcome outcome;
  } cases[] = {{kRingSamples - 880, SaveOutcome::kSaved},
               {kRingSamples - 880 + 1, SaveOutcome::kNotSaved}};
  for (const auto& c : cases) {
    TakeRing fresh;
    ASSERT_TRUE(fresh.Allocate());
    const std::vector<int16_t> take(880, 11);
    fresh.MarkTakeStart();
    fresh.WriteBlock(take.data(), 880, 4194304, {}, echo);
    chooser.whileOpen = [&] {
      fresh.MarkTakeStart();
      const std::vector<int16_t> later(size_t(c.laterSamples), 22);
      fresh.WriteBlock(later.data(), uint32_t(later.size()), 4194304, {}, echo);
    };
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    EXPECT_EQ(SaveLastTake(fresh, chooser, status), c.outcome) << c.laterSamples;
    EXPECT_EQ(std::filesystem::exists(dir / "take.wav"), c.outcome == SaveOutcome::kSaved);
    EXPECT_EQ(Title(), c.outcome == SaveOutcome::kSaved ? "SAVED" : "NOT SAVED!");
  }
}

TEST_F(TakeExport, FailuresAfterTheDialogShowNotSaved) {
  Record(1, 100);
  const struct {
    const char* what;
    std::string answer;
    SampleAllocator allocate;
  } cases[] = {
      {"no memory for the copy", (dir / "take").string(),
       [](size_t) { return std::unique_ptr<int16_t[]>(); }},
      {"no room for the type", (dir / std::string(300, 'a')).string(), AllocateSamples},
      {"folder missing", (dir / "missing" / "take").string(), AllocateSamples},
  };
  for (const auto& c : cases) {
    chooser.answer = c.answer;
    EXPECT_EQ(Save(c.allocate), SaveOutcome::kNotSaved) << c.what;
    EXPECT_EQ(Title(), "NOT SAVED!") << c.what;
    EXPECT_TRUE(std::filesystem::is_empty(dir)) << c.what;
  }
}

}  // namespace
}  // namespace mimicore
