#include "audio/wave_ring_win.h"

#include <gtest/gtest.h>

#include <array>

namespace mimicore {
namespace {

// The platform's side is played by hand: a buffer is "given back" by setting
// its done flag.
class WaveSlotsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(slots_.Allocate(kCount)); }

  void Queue(int32_t index) {
    slots_.BeginSubmit(index);
    headers_[index].dwFlags = 0;
    slots_.EndSubmit(index, true);
  }
  void GiveBack(int32_t index) { headers_[index].dwFlags |= WHDR_DONE; }
  // What the notification thread does with the buffer it took.
  int32_t TakeOldest() {
    const int32_t index = slots_.OldestReturned(headers_.data());
    if (index >= 0) {
      slots_.NoteReturned();
      slots_.Release(index);
    }
    return index;
  }

  static constexpr int32_t kCount = 4;
  WaveSlots slots_;
  std::array<WAVEHDR, kCount> headers_{};
};

TEST_F(WaveSlotsTest, BuffersAreTakenBackInTheOrderTheyWereQueued) {
  Queue(2);
  Queue(0);
  Queue(3);
  EXPECT_EQ(slots_.Queued(), 3);
  GiveBack(0);
  GiveBack(3);
  EXPECT_EQ(TakeOldest(), -1) << "buffer 2 went first and is not back yet";
  GiveBack(2);
  EXPECT_EQ(TakeOldest(), 2);
  EXPECT_EQ(TakeOldest(), 0);
  EXPECT_EQ(TakeOldest(), 3);
  EXPECT_EQ(TakeOldest(), -1);
  EXPECT_EQ(slots_.Queued(), 0);
  EXPECT_EQ(slots_.Returned(), 3U);
}

TEST_F(WaveSlotsTest, ABufferQueuedAgainGoesToTheEndAndKeepsItsPlaceInTheCount) {
  Queue(0);
  Queue(1);
  GiveBack(0);
  ASSERT_EQ(slots_.OldestReturned(headers_.data()), 0);
  slots_.NoteReturned();
  Queue(0);  // the notification thread re-queues it in place
  EXPECT_EQ(slots_.Queued(), 2);
  GiveBack(0);
  EXPECT_EQ(TakeOldest(), -1) << "buffer 1 is older now";
  GiveBack(1);
  EXPECT_EQ(TakeOldest(), 1);
  EXPECT_EQ(TakeOldest(), 0);
  EXPECT_EQ(slots_.Queued(), 0);
}

TEST_F(WaveSlotsTest, RefusedAndHalfSubmittedBuffersAreHandledInOrder) {
  Queue(0);
  slots_.BeginSubmit(1);
  slots_.EndSubmit(1, false);  // the platform refused it: out of the ring
  EXPECT_TRUE(slots_.IsIdle(1));
  EXPECT_EQ(slots_.Queued(), 1);

  slots_.BeginSubmit(2);  // still being handed over
  headers_[2].dwFlags = WHDR_DONE;
  GiveBack(0);
  EXPECT_EQ(TakeOldest(), 0);
  EXPECT_EQ(TakeOldest(), -1) << "a buffer being handed over is not the notification thread's";
  slots_.EndSubmit(2, true);
  EXPECT_EQ(TakeOldest(), 2);
}

TEST_F(WaveSlotsTest, WaitingForADeviceThatNeverAnswersEnds) {
  EXPECT_TRUE(slots_.WaitUntilAllBack(10));
  Queue(1);
  EXPECT_FALSE(slots_.WaitUntilAllBack(50));
  EXPECT_EQ(slots_.Queued(), 1);
}

}  // namespace
}  // namespace mimicore
