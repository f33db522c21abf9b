// Start-up, main loop and shut-down of the Windows program.
#pragma once

#include <windows.h>

namespace mimicore {

// The whole life of the program; 0 after a normal run, -1 when start-up
// failed or another instance runs.
int RunMimicore(HINSTANCE instance);

}  // namespace mimicore
