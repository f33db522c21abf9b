# Cross build of the 64-bit Windows program. Test programs run under Wine
# through cmake/wine-run.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MIMICORE_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
