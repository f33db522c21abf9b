// Asks the running program what its guards hold and prints it on one line:
//   gdi-objects=N memory-dcs=N window-dcs=N kernel-handles=N windows=N
// With "--longest-wait SECONDS" it asks the signature again and again for
// that long instead and prints how long the window thread kept the longest
// question waiting (it answers only between its own work):
//   longest-wait-ms=N questions=N
// Exit status 1 when no program window answers.
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/windows/live_counts_win.h"
#include "ui/windows/skinned_windows_win.h"

namespace {

constexpr UINT kAnswerWithinMs = 5000;
constexpr DWORD kLongestWatchMs = 600000;

bool Ask(HWND window, UINT message, WPARAM which, DWORD_PTR& answer) {
  return SendMessageTimeoutA(window, message, which, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             kAnswerWithinMs, &answer) != 0;
}

int PrintCounts(HWND window, UINT message) {
  using namespace mimicore;
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

// A window that ends meanwhile (the program closed) ends the watch early.
int PrintLongestWait(HWND window, UINT message, DWORD watchMs) {
  const ULONGLONG end = GetTickCount64() + watchMs;
  ULONGLONG longest = 0;
  unsigned long questions = 0;
  while (GetTickCount64() < end && IsWindow(window) != FALSE) {
    const ULONGLONG asked = GetTickCount64();
    DWORD_PTR answer = 0;
    if (!Ask(window, message, mimicore::kSignature, answer)) {
      break;
    }
    const ULONGLONG waited = GetTickCount64() - asked;
    longest = waited > longest ? waited : longest;
    ++questions;
    Sleep(5);
  }
  std::printf("longest-wait-ms=%llu questions=%lu\n", longest, questions);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mimicore;
  DWORD watchMs = 0;
  if (argc == 3 && std::strcmp(argv[1], "--longest-wait") == 0) {
    char* end = nullptr;
    const unsigned long seconds = std::strtoul(argv[2], &end, 10);
    if (end == argv[2] || *end != '\0' || seconds == 0 || seconds > kLongestWatchMs / 1000) {
      std::fputs("mimicore-live-counts: --longest-wait takes 1 to 600 seconds\n", stderr);
      return 2;
    }
    watchMs = DWORD(seconds * 1000);
  } else if (argc != 1) {
    std::fputs("usage: mimicore-live-counts [--longest-wait SECONDS]\n", stderr);
    return 2;
  }
  const UINT message = RegisterWindowMessageA(kLiveCountsMessageName);
  HWND window = FindWindowA(kMainClass, kMainTitle);
  DWORD_PTR signature = 0;
  if (message == 0 || window == nullptr || !Ask(window, message, kSignature, signature) ||
      LRESULT(signature) != kLiveCountsSignature) {
    std::fputs("mimicore-live-counts: no Mimicore window answers\n", stderr);
    return 1;
  }
  return watchMs != 0 ? PrintLongestWait(window, message, watchMs) : PrintCounts(window, message);
}
