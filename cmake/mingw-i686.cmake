# Cross-compiles for 32-bit Windows with MinGW-w64 (Debian's i686-w64-mingw32 packages). The
# posix-threads variant of the compiler is used because the core runs std::thread and
# std::this_thread; everything is linked statically, so the programs need no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(FERROLYN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${FERROLYN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FERROLYN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FERROLYN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FERROLYN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Sources are UTF-8; narrow literals must reach the ...A functions as Windows-1252, so that
# "Fortsätt" is the text the user sees. Resource scripts are read as UTF-8 (code page 65001).
#
# 32-bit Windows guarantees only 4-byte stack alignment where it enters our code (thread start
# routines, window and dialog procedures, callbacks), while GCC assumes 16 bytes and keeps SSE
# and AVX values in stack slots with aligned moves, which fault on a misaligned stack. The rule
# is the Windows ABI's own: every function assumes 4 bytes on entry
# (-mincoming-stack-boundary=2), and one that keeps such a value on the stack realigns its own
# frame. Keeping 4 bytes for calls as well (-mpreferred-stack-boundary=2) spares every other
# function a realignment of its own, and the frame pointer that costs on i686's few registers.
# -mstackrealign is not enough: with it GCC 12 still left every SSE2 Serpent kernel unaligned.
set(FERROLYN_STACK_RULE "-mincoming-stack-boundary=2 -mpreferred-stack-boundary=2")
set(CMAKE_C_FLAGS_INIT "${FERROLYN_STACK_RULE}")
set(CMAKE_CXX_FLAGS_INIT "-finput-charset=UTF-8 -fexec-charset=CP1252 ${FERROLYN_STACK_RULE}")
set(CMAKE_RC_FLAGS_INIT "-c 65001")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under Wine: CTest and gtest discovery go through it.
find_program(FERROLYN_WINE wine)
if(FERROLYN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FERROLYN_WINE})
endif()
