#include "app/platform_win.h"

#include <commctrl.h>

namespace mimicore {

namespace {
// The panel's standard child controls.
constexpr int kSpeedSliderId = 103;
constexpr int kThresholdSliderId = 104;
constexpr int kEchoSwitchId = 102;
}  // namespace

void PanelControlsView::AttachPanel(HWND panel, DWORD windowThreadId) {
  panel_ = panel;
  windowThread_ = windowThreadId;
}

void PanelControlsView::ShowSettings(const ControlPositions& positions) {
  if (panel_ == nullptr || GetCurrentThreadId() == windowThread_) {
    ShowNow(positions);
    return;
  }
  handOver_.Publish(positions);
  PostMessageA(panel_, kControlsChangedMessage, 0, 0);
}

void PanelControlsView::ShowHandedOver() {
  ControlPositions positions;
  if (handOver_.Take(positions)) {
    ShowNow(positions);
  }
}

void PanelControlsView::ShowNow(const ControlPositions& positions) {
  if (panel_ == nullptr) {
    return;  // before the windows exist only the filter follows
  }
  // Children that do not exist yet make these calls do nothing.
  SendDlgItemMessageA(panel_, kSpeedSliderId, TBM_SETPOS, TRUE, positions.speedSlider);
  SendDlgItemMessageA(panel_, kThresholdSliderId, TBM_SETPOS, TRUE, positions.thresholdSlider);
  SendDlgItemMessageA(panel_, kEchoSwitchId, BM_SETCHECK, positions.echoChecked ? 1 : 0, 0);
}

}  // namespace mimicore
