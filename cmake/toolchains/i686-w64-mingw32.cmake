# 32-bit Windows (x86) with the mingw-w64 cross compiler, posix thread model.
# On Debian: apt-get install g++-mingw-w64-i686-posix binutils-mingw-w64-i686
# The tests run under wine where the kernel runs 32-bit code (cmake/run.cmake): dpkg
# --add-architecture i386, apt-get update, apt-get install wine wine64 wine32:i386
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(ZENDRO_MINGW_TRIPLET i686-w64-mingw32)
# SSE2 arithmetic keeps double and float results identical to the other builds (the x87 unit
# would keep excess precision where the tools round to single precision). GCC for this target
# already assumes only the 4-byte stack alignment a 32-bit Windows host promises, and realigns
# where SSE values live on the stack.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(ZENDRO_MINGW_PACKAGES "g++-mingw-w64-i686-posix binutils-mingw-w64-i686")
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
