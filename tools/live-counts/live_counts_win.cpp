// Asks the running program what its guards hold and prints it on one line:
//   gdi-objects=N memory-dcs=N window-dcs=N kernel-handles=N windows=N
// Exit status 1 when no program window answers.
#include <windows.h>

#include <array>
#include <cstdio>

#include "ui/windows/live_counts_win.h"
#include "ui/windows/skinned_windows_win.h"

namespace {

constexpr UINT kAnswerWithinMs = 5000;

bool Ask(HWND window, UINT message, WPARAM which, DWORD_PTR& answer) {
  return SendMessageTimeoutA(window, message, which, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             kAnswerWithinMs, &answer) != 0;
}

}  // namespace

int main() {
  using namespace mimicore;
  const UINT message = RegisterWindowMessageA(kLiveCountsMessageName);
  HWND window = FindWindowA(kMainClass, kMainTitle);
  DWORD_PTR signature = 0;
  if (message == 0 || window == nullptr || !Ask(window, message, kSignature, signature) ||
      LRESULT(signature) != kLiveCountsSignature) {
    std::fputs("mimicore-live-counts: no Mimicore window answers\n", stderr);
    return 1;
  }
  constexpr std::array<const char*, kLiveCountEnd> kNames{
      "", "gdi-objects", "memory-dcs", "window-dcs", "kernel-handles", "windows"};
  for (WPARAM which = kGdiObjects; which < kLiveCountEnd; ++which) {
    DWORD_PTR count = 0;
    if (!Ask(window, message, which, count)) {
      std::fputs("\nmimicore-live-counts: the window stopped answering\n", stderr);
      return 1;
    }
    std::printf("%s%s=%ld", which == kGdiObjects ? "" : " ", kNames[which], long(LRESULT(count)));
  }
  std::printf("\n");
  return 0;
}
