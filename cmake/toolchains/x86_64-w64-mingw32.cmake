# 64-bit Windows (x64) with the mingw-w64 cross compiler, posix thread model.
# On Debian: apt-get install g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
# The tests run under wine's 64-bit loader (cmake/run.cmake): apt-get install wine wine64
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZENDRO_MINGW_TRIPLET x86_64-w64-mingw32)
set(ZENDRO_MINGW_PACKAGES "g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64")
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
