# 32-bit Linux build of the portable core, its native tests and
# mimicore-render, to check that the 32-bit programs compute exactly what
# the 64-bit ones do. Nothing 32-bit runs natively on the build machines, so
# the test programs run under qemu-i386-static. MIMICORE_I686_FLAGS is empty
# only to show what the arithmetic does without SSE2.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)

# x87 arithmetic rounds through 80-bit registers wherever the compiler
# chooses to spill, so the samples would differ from the 64-bit build's;
# the 32-bit Windows program is built with the same flags.
set(MIMICORE_I686_FLAGS "-msse2 -mfpmath=sse" CACHE STRING "Floating-point flags of the 32-bit build")
set(CMAKE_C_FLAGS_INIT "-m32 ${MIMICORE_I686_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "-m32 ${MIMICORE_I686_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")

find_program(MIMICORE_QEMU_I386 qemu-i386-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MIMICORE_QEMU_I386})
