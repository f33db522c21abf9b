# Cross build of the 32-bit Windows program. Nothing 32-bit runs on the build
# machines, so there is no emulator: this build is compiled and linked only
# (the 32-bit Linux build, cmake/toolchain-linux-i686.cmake, runs the same
# portable code under an emulator).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MIMICORE_MINGW_PREFIX i686-w64-mingw32)
# SSE2 arithmetic, as in the 64-bit program: x87 registers round
# differently, and the voice would come out changed by a few steps. Every
# processor that runs a supported Windows has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
