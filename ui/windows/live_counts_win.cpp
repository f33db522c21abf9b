#include "ui/windows/live_counts_win.h"

#include "core/kernel_handle_win.h"
#include "ui/controls/gdi_guards_win.h"
#include "ui/windows/winlet_window_win.h"

namespace mimicore {

UINT LiveCountsMessage() {
  static const UINT message = RegisterWindowMessageA(kLiveCountsMessageName);
  return message;
}

LRESULT AnswerLiveCount(WPARAM which) {
  const GdiLiveCounts gdi = LiveGdiCounts();
  switch (which) {
    case kSignature:
      return kLiveCountsSignature;
    case kGdiObjects:
      return gdi.objects;
    case kMemoryDcs:
      return gdi.memoryDcs;
    case kWindowDcs:
      return gdi.windowDcs;
    case kKernelHandles:
      return LiveKernelHandles();
    case kWindows:
      return LiveWinletWindows();
    default:
      return 0;
  }
}

}  // namespace mimicore
