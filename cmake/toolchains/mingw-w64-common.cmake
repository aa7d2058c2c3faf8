# The part of the two mingw-w64 toolchain files that depends only on ZENDRO_MINGW_TRIPLET (the
# target) and ZENDRO_MINGW_PACKAGES (the Debian packages named when something is missing).
# The "-posix" thread-model compilers are used by name, whatever the system's alternatives select:
# GoogleTest needs std::mutex, which GCC 12 offers only with that model. Modules and tests link
# the runtime statically (module.cmake, tests/CMakeLists.txt), so nothing needs libwinpthread-1.dll;
# the library checks prove it for the modules.
set(_zendro_t ${ZENDRO_MINGW_TRIPLET})
find_program(CMAKE_C_COMPILER NAMES ${_zendro_t}-gcc-posix ${_zendro_t}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${_zendro_t}-g++-posix ${_zendro_t}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${_zendro_t}-windres)
if(NOT CMAKE_CXX_COMPILER OR NOT CMAKE_C_COMPILER)
  message(FATAL_ERROR "No ${_zendro_t} compiler found; install ${ZENDRO_MINGW_PACKAGES}")
endif()

# The compiler check: the target triplet and the thread model must be the ones asked for.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                OUTPUT_VARIABLE _zendro_machine OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _zendro_machine STREQUAL _zendro_t)
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} builds for '${_zendro_machine}', not '${_zendro_t}'; "
                      "install ${ZENDRO_MINGW_PACKAGES}")
endif()
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -v ERROR_VARIABLE _zendro_version OUTPUT_QUIET)
if(NOT _zendro_version MATCHES "Thread model: posix")
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not use the posix thread model; "
                      "install ${ZENDRO_MINGW_PACKAGES}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${_zendro_t})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
