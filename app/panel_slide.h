// The settings panel's slide out from behind the main window and back: a
// tenth of the way every 50 ms, the first tenth at once.
#pragma once

#include <cstdint>
#include <optional>

namespace mimicore {

inline constexpr int32_t kPanelTravel = 243;  // pixels from shut to open
inline constexpr uint32_t kSlideStepMs = 50;

class PanelSlide {
 public:
  // One step at |nowMs|. Returns the position at which the panel is to be
  // placed now, or nothing when a moving panel's next step is not due yet.
  // At rest it is placed on every call, which keeps it attached to the main
  // window when that moves.
  std::optional<int32_t> Step(uint32_t nowMs);

  // How long a loop that waits for messages may sleep before the next step
  // is due: 0 when a step is due now, nothing while the panel is at rest
  // where its flag wants it.
  [[nodiscard]] std::optional<uint32_t> WaitBeforeNextStep(uint32_t nowMs) const;

  void SetOpen(bool open) { open_ = open; }
  void Toggle() { open_ = !open_; }
  [[nodiscard]] bool Open() const { return open_; }
  [[nodiscard]] int32_t Position() const { return position_; }

 private:
  [[nodiscard]] bool AtRest() const { return position_ == 0 || position_ == kPanelTravel; }

  bool open_ = false;
  int32_t position_ = 0;
  bool started_ = false;
  uint32_t lastStepMs_ = 0;
};

}  // namespace mimicore
