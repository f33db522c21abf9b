// What the program's guards hold at this moment, readable from another
// process: a long run is checked from outside for anything that grows, and
// the system's own counters are not available everywhere. The other process
// sends the registered message kLiveCountsMessageName to either window with
// wParam naming the count and gets that count as the result. Nothing else
// changes: a user never sends this message.
#pragma once

#include <windows.h>

namespace mimicore {

inline constexpr const char* kLiveCountsMessageName = "MimicoreLiveCounts";

// wParam of the message. kSignature answers kLiveCountsSignature, so that a
// window that does not know the message (it answers 0) is told apart.
enum LiveCount : WPARAM {
  kSignature = 0,
  kGdiObjects,
  kMemoryDcs,
  kWindowDcs,
  kKernelHandles,
  kWindows,
  kLiveCountEnd
};
inline constexpr LRESULT kLiveCountsSignature = 0x4C43;

// The registered message; 0 when it could not be registered.
UINT LiveCountsMessage();
// The count |which| names; 0 for anything else (wParam may hold anything).
LRESULT AnswerLiveCount(WPARAM which);

}  // namespace mimicore
