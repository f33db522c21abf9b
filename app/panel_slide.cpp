#include "app/panel_slide.h"

#include <algorithm>

namespace mimicore {

std::optional<int32_t> PanelSlide::Step(uint32_t nowMs) {
  if (!started_) {
    started_ = true;
    lastStepMs_ = nowMs;
  }
  double f = double(position_) / double(kPanelTravel);
  double factor = 1.0;
  if (!AtRest()) {
    const uint32_t elapsed = nowMs - lastStepMs_;
    if (elapsed < kSlideStepMs) {
      return std::nullopt;
    }
    factor = double(elapsed) * 0.02;
  }
  lastStepMs_ = nowMs;
  if (!open_ && f > 0.0) {
    f -= 0.1 * factor;
  } else if (open_ && f < 1.0) {
    f += 0.1 * factor;
  }
  f = std::clamp(f, 0.0, 1.0);
  position_ = static_cast<int32_t>(f * double(kPanelTravel));
  return position_;
}

std::optional<uint32_t> PanelSlide::WaitBeforeNextStep(uint32_t nowMs) const {
  if (AtRest()) {
    const bool wantsToMove = (position_ == 0) == open_;
    if (wantsToMove) {
      return 0U;
    }
    return std::nullopt;
  }
  const uint32_t elapsed = nowMs - lastStepMs_;
  return elapsed >= kSlideStepMs ? 0U : kSlideStepMs - elapsed;
}

}  // namespace mimicore
