# Cross-compiling for 32-bit Windows with MinGW-w64 (Debian g++-mingw-w64-i686-posix:
# the POSIX thread model, which std::thread and std::mutex need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(FX60_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${FX60_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FX60_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FX60_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${FX60_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${FX60_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# SSE2 arithmetic, as on 64-bit x86: the x87 unit's wider intermediates would round
# differently and move template bytes and scores. Windows only guarantees 4-byte
# stack alignment on entry (threads, callbacks), so functions that keep SSE values
# on the stack realign it themselves. The 32-bit C runtime's malloc aligns to 8
# bytes only, while the compiler assumes 16 for plain new: objects aligned beyond
# 8 bytes take the aligned new.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2 -faligned-new=8")
