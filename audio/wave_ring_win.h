// What the capture and playback devices share: the ring of buffers with its
// format and platform handle, the record of which buffers the platform holds
// and in which order they went to it, and the thread that takes them back.
//
// The devices are opened with CALLBACK_EVENT rather than a callback
// function: a wave callback must not call other wave functions, yet every
// returned capture buffer has to be queued again. The platform signals an
// event instead, and a thread of our own takes the buffers back.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/kernel_handle_win.h"

namespace mimicore {

// Buffers each of the program's two wave devices queues: 64 blocks, about 1.3 s.
inline constexpr int32_t kBuffersPerDevice = 64;

// Which buffers of a ring are with the platform. Each buffer queued gets the
// next sequence number; the platform gives buffers back in the order they
// were queued, so the oldest queued buffer is always the next to come back.
// Taking them strictly in that order keeps the hand-over in recording order
// even when a buffer has dropped out of the ring or the ring was restarted.
//
// A buffer goes Idle -> Submitting (its header is being filled and handed
// over) -> Queued (the platform has it) -> Idle (taken back). Only the thread
// that moved a buffer out of Idle touches its header until it is Queued;
// only the notification thread touches a Queued buffer the platform has
// marked done.
class WaveSlots {
 public:
  WaveSlots() = default;
  ~WaveSlots() { Free(); }
  WaveSlots(const WaveSlots&) = delete;
  WaveSlots& operator=(const WaveSlots&) = delete;

  // All buffers idle. False when the memory cannot be had.
  bool Allocate(int32_t count);
  void Free();
  // Lets go of the record without freeing it, for a notification thread
  // that may still be reading it.
  void Forget();

  // Called before a header is handed to the platform; a buffer that the
  // notification thread is queueing again keeps its place in the count.
  void BeginSubmit(int32_t index);
  // Called after: |queued| tells whether the platform took it.
  void EndSubmit(int32_t index, bool queued);
  // The notification thread has taken a buffer back from the platform.
  void NoteReturned() { returned_.fetch_add(1); }
  // The buffer stays with us; the notification thread calls this once it
  // is done with it.
  void Release(int32_t index);

  [[nodiscard]] bool IsIdle(int32_t index) const;
  // The oldest buffer with the platform, if the platform has marked it done;
  // -1 when there is none or it is still being filled or played.
  [[nodiscard]] int32_t OldestReturned(WAVEHDR* headers) const;

  // Buffers with the platform (or on their way to it).
  [[nodiscard]] int32_t Queued() const { return queued_.load(); }
  // Buffers taken back since allocation, each time one comes back; grows
  // while the device answers.
  [[nodiscard]] uint32_t Returned() const { return returned_.load(); }

 private:
  enum State : uint8_t { kIdle, kSubmitting, kQueued };
  struct Slot {
    std::atomic<uint32_t> sequence{0};
    std::atomic<uint8_t> state{kIdle};
  };

  Slot* slots_ = nullptr;
  int32_t count_ = 0;
  std::atomic<uint32_t> nextSequence_{0};
  std::atomic<int32_t> queued_{0};
  std::atomic<uint32_t> returned_{0};
};

// The platform's done flag, read while the platform may be setting it.
// The platform's header is declared packed, so nothing promises the flags
// the alignment an atomic access needs: the offset and the size are checked
// here, and the ring allocates its headers at kHeaderAlignment.
bool HeaderDone(WAVEHDR& header);
inline constexpr size_t kHeaderAlignment = alignof(std::max_align_t);
static_assert(offsetof(WAVEHDR, dwFlags) % std::atomic_ref<DWORD>::required_alignment == 0);
static_assert(sizeof(WAVEHDR) % std::atomic_ref<DWORD>::required_alignment == 0);
static_assert(kHeaderAlignment % std::atomic_ref<DWORD>::required_alignment == 0);

// A thread that runs |routine| each time the event given to the platform is
// signalled, until it is ended. The event outlives the thread: a platform
// device not yet closed may still signal it.
class NotificationThread {
 public:
  using Routine = void (*)(void* context);

  NotificationThread() = default;
  ~NotificationThread();
  NotificationThread(const NotificationThread&) = delete;
  NotificationThread& operator=(const NotificationThread&) = delete;

  // Creates the event and starts the thread. False when either fails, or
  // while an earlier thread has not ended.
  bool Begin(Routine routine, void* context);
  // Asks the thread to end and waits for it, |waitMs| at most. False while
  // it is still in the routine; asking again later waits again.
  [[nodiscard]] bool End(uint32_t waitMs);
  // For a thread stuck in the routine (inside a platform call that does not
  // return): it is left to itself with its event, this object never starts
  // another, and whatever the routine works on must stay allocated.
  void Orphan();
  // Closes the event once no platform device can signal it any more, or
  // leaves it open for good to one that may.
  void CloseEvent() { event_.Reset(); }
  void AbandonEvent() { (void)event_.Release(); }

  [[nodiscard]] bool Orphaned() const { return orphaned_; }
  [[nodiscard]] bool Running() const { return static_cast<bool>(thread_); }
  // A thread of this object may run the routine now or later.
  [[nodiscard]] bool MayRun() const { return static_cast<bool>(thread_) || orphaned_; }

  [[nodiscard]] HANDLE Event() const { return event_.Get(); }
  // Has the routine run again, for a buffer queued while it was looking.
  void Wake() const;

 private:
  static DWORD WINAPI Main(void* self);

  KernelHandle event_;
  KernelHandle thread_;
  std::atomic<bool> quit_{false};
  bool orphaned_ = false;
  Routine routine_ = nullptr;
  void* context_ = nullptr;
};

// Waits on the window thread stay short so that the windows keep answering:
// closing a device goes in steps of at most kCloseStepMs, and whatever the
// platform has not given back by then is looked at again on the next step.
inline constexpr uint32_t kCloseStepMs = 50;
// From the first step on, what the platform still holds after this long is
// left to it (a device that went away may never give it back).
inline constexpr uint32_t kCloseGiveUpMs = 2000;
// The same at shut-down, where the whole close has to be quick.
inline constexpr uint32_t kShutDownGiveUpMs = 200;
// A draining device that has given nothing back for this long is taken for
// gone; the queue it holds is then dropped.
inline constexpr uint32_t kDrainStallMs = 500;
// A device keeps at most this many sets of buffers left to the platform;
// beyond it, it holds on to its last one and stays closed.
inline constexpr uint32_t kMaxAbandonedSets = 4;

// The platform's wave input and output differ only in the handle type and
// the names of their calls; these give the ring one set of names for both,
// and the clock its waits are measured by.
struct WaveInCalls {
  using Handle = HWAVEIN;
  static MMRESULT Open(auto... args) { return waveInOpen(args...); }
  static MMRESULT Prepare(auto... args) { return waveInPrepareHeader(args...); }
  static MMRESULT Submit(auto... args) { return waveInAddBuffer(args...); }
  static MMRESULT Unprepare(auto... args) { return waveInUnprepareHeader(args...); }
  static MMRESULT Reset(auto... args) { return waveInReset(args...); }
  static MMRESULT Close(auto... args) { return waveInClose(args...); }
  static uint64_t Now() { return GetTickCount64(); }
  static void Pause(uint32_t ms) { Sleep(ms); }
};

struct WaveOutCalls {
  using Handle = HWAVEOUT;
  static MMRESULT Open(auto... args) { return waveOutOpen(args...); }
  static MMRESULT Prepare(auto... args) { return waveOutPrepareHeader(args...); }
  static MMRESULT Submit(auto... args) { return waveOutWrite(args...); }
  static MMRESULT Unprepare(auto... args) { return waveOutUnprepareHeader(args...); }
  static MMRESULT Reset(auto... args) { return waveOutReset(args...); }
  static MMRESULT Close(auto... args) { return waveOutClose(args...); }
  static uint64_t Now() { return GetTickCount64(); }
  static void Pause(uint32_t ms) { Sleep(ms); }
};

// One device's side of the platform: its format, its ring of equally sized
// buffers (buffer i always with header i), the platform handle they are
// queued on and the thread that takes them back. The device decides what
// happens to each buffer; the ring keeps the order and the waits bounded.
// Instantiated for WaveInCalls and WaveOutCalls (and the tests' stand-ins,
// through wave_ring_impl_win.h).
template <typename Calls>
class WaveRing {
 public:
  using Handle = typename Calls::Handle;
  // Runs on the notification thread for every buffer the platform has given
  // back, one at a time and in the order they were queued. It must Queue the
  // buffer again or Release it.
  using TakeBack = void (*)(void* owner, int32_t index);

  WaveRing() = default;
  ~WaveRing() { (void)Close(kShutDownGiveUpMs); }
  WaveRing(const WaveRing&) = delete;
  WaveRing& operator=(const WaveRing&) = delete;

  // Fills the format, allocates |count| buffers of |size| bytes and opens the
  // platform's device |deviceId| (WAVE_MAPPER: the default one), with
  // |owner| as every header's user value.
  // On false, what was allocated stays until Close. False at once while an
  // earlier close has not ended.
  bool Open(uint16_t bitsPerSample, uint16_t channels, uint32_t samplesPerSecond, int32_t count,
            uint32_t size, TakeBack takeBack, void* owner, UINT deviceId = WAVE_MAPPER);
  // Hands buffer |index| to the platform with its first |length| bytes; false
  // when the platform refuses it, which takes it out of the ring.
  bool Queue(int32_t index, uint32_t length);
  // Every buffer, whole, as a fresh start: what comes back from now on is
  // kept, not discarded. Returns how many the platform took.
  int32_t QueueAll();
  // Ends the platform's hold on a buffer it gave back; false when it would
  // not let go.
  bool Unprepare(int32_t index);
  void Release(int32_t index) { slots_.Release(index); }
  // Waits until every queued buffer is back, as long as the queue takes to
  // play or fill and a little more. A device that gives nothing back for a
  // buffer's length and kDrainStallMs (counted from its last answer, which
  // may be before the call) is reset instead; false then.
  bool Drain();
  // Has the platform give back what it holds without finishing it, waiting
  // kCloseStepMs at most; false when not everything came back.
  bool ResetQueue();
  // One step of closing, for the window thread: the notification thread is
  // ended, the queue reset and taken back here, the platform device closed
  // and the buffers released, waiting kCloseStepMs at most. True once
  // closed; false while the platform still holds buffers or the thread is
  // still busy: step again later. |giveUpMs| after the first step whatever
  // the platform holds is left to it: the buffers it has given back are
  // freed, the rest with the event abandoned (at most kMaxAbandonedSets
  // times; after that the ring keeps them and stays closing).
  bool CloseStep(uint32_t giveUpMs);
  // Steps until closed or given up. True when everything was released:
  // false when something was left to the platform or to a stuck thread (in
  // the second case this ring never opens again) or is still held.
  bool Close(uint32_t giveUpMs);
  // Has the notification thread look again, for a buffer that came back
  // while it was still being handed over.
  void Wake() const { notifier_.Wake(); }

  [[nodiscard]] Handle Device() const { return handle_; }
  [[nodiscard]] const WAVEFORMATEX& Format() const { return format_; }
  [[nodiscard]] char* Buffer(int32_t index) const { return buffers_[index]; }
  [[nodiscard]] WAVEHDR& Header(int32_t index) const { return headers_[index]; }
  [[nodiscard]] int32_t Count() const { return count_; }
  [[nodiscard]] uint32_t Size() const { return size_; }
  [[nodiscard]] bool IsIdle(int32_t index) const { return slots_.IsIdle(index); }
  [[nodiscard]] int32_t Queued() const { return slots_.Queued(); }
  [[nodiscard]] uint32_t Returned() const { return slots_.Returned(); }
  // Set while buffers come back from a reset or a close: they hold no
  // finished block.
  [[nodiscard]] bool Discarding() const { return discarding_.load(); }
  // The platform kept buffers it was asked to give back.
  [[nodiscard]] bool Wedged() const { return wedged_; }
  // Nothing open, allocated or running, and no close under way.
  [[nodiscard]] bool Closed() const {
    return !closing_ && handle_ == nullptr && count_ == 0 && !notifier_.Running();
  }
  // Sets of buffers (with their event) left to the platform so far.
  [[nodiscard]] uint32_t AbandonedSets() const { return abandoned_; }
  // The notification thread may hand over a buffer now or later.
  [[nodiscard]] bool NotifierMayRun() const { return notifier_.MayRun(); }

 private:
  bool Allocate(int32_t count, uint32_t size);
  void Free();
  // Frees the buffers the platform has given back and leaves it the rest.
  void Abandon();
  // For a notification thread that may still run: nothing it reads is freed.
  void Orphan();
  // Polls, taking back here what the platform returns once the notification
  // thread has ended, until none is with it or |until|; true when none is.
  bool TakeBackUntil(uint64_t until);
  bool WaitUntilAllBack(uint64_t stallMs, uint64_t limitMs);
  bool EndClose();
  static void OnNotify(void* self);

  Handle handle_ = nullptr;
  char** buffers_ = nullptr;
  int32_t count_ = 0;
  uint32_t size_ = 0;
  WAVEHDR* headers_ = nullptr;
  WAVEFORMATEX format_{};
  TakeBack takeBack_ = nullptr;
  void* owner_ = nullptr;

  WaveSlots slots_;
  NotificationThread notifier_;
  std::atomic<bool> discarding_{false};
  // When the platform last gave a buffer back, or was given one with
  // nothing else queued: what a drain measures its stall from.
  std::atomic<uint64_t> lastProgress_{0};
  bool wedged_ = false;
  bool closing_ = false;
  bool resetSent_ = false;
  uint64_t closeBegan_ = 0;
  uint32_t abandoned_ = 0;
};

extern template class WaveRing<WaveInCalls>;
extern template class WaveRing<WaveOutCalls>;

}  // namespace mimicore
