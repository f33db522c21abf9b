#include <windows.h>

#include "app/shell_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  return mimicore::RunMimicore(instance);
}
