# Cross build of the 32-bit Windows program. Nothing 32-bit runs on the
# build machines, so there is no emulator: this build is compiled and linked
# only.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MIMICORE_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
