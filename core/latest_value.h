// Hands the newest value of a small record from one producer thread to one
// consumer thread without either ever waiting: a triple buffer. Values the
// consumer did not pick up in time are replaced by newer ones, which is what
// a display or a control position wants.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace mimicore {

template <typename T>
class LatestValue {
 public:
  // Producer side.
  void Publish(const T& value) {
    slots_[back_] = value;
    const uint32_t prev = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel);
    back_ = prev & kIndexMask;
  }

  // Consumer side: true and |out| filled when a value newer than the last
  // one taken is there.
  bool Take(T& out) {
    if ((middle_.load(std::memory_order_relaxed) & kFresh) == 0) {
      return false;
    }
    const uint32_t prev = middle_.exchange(front_, std::memory_order_acq_rel);
    front_ = prev & kIndexMask;
    out = slots_[front_];
    return true;
  }

 private:
  static constexpr uint32_t kFresh = 4;
  static constexpr uint32_t kIndexMask = 3;

  std::array<T, 3> slots_{};
  std::atomic<uint32_t> middle_{1};
  uint32_t back_ = 0;   // producer only
  uint32_t front_ = 2;  // consumer only
};

}  // namespace mimicore
