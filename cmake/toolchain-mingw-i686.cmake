# Cross build of the 32-bit Windows program with MinGW-w64 (POSIX threads,
# for std::thread). Nothing 32-bit runs on the build machines, so there is no
# emulator: this build is compiled and linked only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MIMICORE_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MIMICORE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MIMICORE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MIMICORE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MIMICORE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
