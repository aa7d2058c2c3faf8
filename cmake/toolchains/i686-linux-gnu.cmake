# 32-bit x86 Linux with the system GCC.
# On Debian: apt-get install g++-multilib
# SSE2 arithmetic keeps double and float results identical to the x86-64 build (the x87 unit
# would keep excess precision where the tools round to single precision).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)

# The multilib check: -m32 must select the 32-bit library directory.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -m32 -print-multi-directory
                OUTPUT_VARIABLE _zendro_multi OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _zendro_multi STREQUAL "32")
  message(FATAL_ERROR "g++ cannot build 32-bit x86 code (got '${_zendro_multi}'); install g++-multilib")
endif()
