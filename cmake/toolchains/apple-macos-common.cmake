# The part of the two macOS toolchain files that depends only on ZENDRO_MACOS_ARCH (x86_64 or
# arm64) and ZENDRO_MACOS_MIN (the oldest macOS version the modules load on).
# On Debian: apt-get install clang-14 lld-14 llvm-14
# No SDK is used or needed: the modules call only C runtime routines, declared by frame/c_runtime.h
# for this target, and link against cmake/macos/libSystem.tbd, our own text stub of the system's
# C library, /usr/lib/libSystem.B.dylib. clang's own headers (stddef.h, stdint.h) are the only ones
# searched: -nostdlibinc keeps the build machine's /usr/include out.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${ZENDRO_MACOS_ARCH})
set(ZENDRO_MACOS_PACKAGES "clang-14 lld-14 llvm-14")
set(_zendro_triple ${ZENDRO_MACOS_ARCH}-apple-macos${ZENDRO_MACOS_MIN})

find_program(CMAKE_C_COMPILER NAMES clang-14)
find_program(CMAKE_CXX_COMPILER NAMES clang++-14)
find_program(ZENDRO_LD64_LLD NAMES ld64.lld-14)
find_program(CMAKE_AR NAMES llvm-ar-14)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-14)
find_program(CMAKE_STRIP NAMES llvm-strip-14)
find_program(ZENDRO_LIPO NAMES llvm-lipo-14)
find_program(ZENDRO_LLVM_OBJDUMP NAMES llvm-objdump-14)
foreach(_zendro_tool CMAKE_C_COMPILER CMAKE_CXX_COMPILER ZENDRO_LD64_LLD CMAKE_AR CMAKE_RANLIB CMAKE_STRIP
                     ZENDRO_LIPO ZENDRO_LLVM_OBJDUMP)
  if(NOT ${_zendro_tool})
    message(FATAL_ERROR "${_zendro_tool} not found for ${_zendro_triple}; install ${ZENDRO_MACOS_PACKAGES}")
  endif()
endforeach()
set(CMAKE_C_COMPILER_TARGET ${_zendro_triple})
set(CMAKE_CXX_COMPILER_TARGET ${_zendro_triple})
# The target triple carries the architecture and the minimum version; CMake adds no -arch,
# -isysroot or -mmacosx-version-min of its own when these are empty.
set(CMAKE_OSX_SYSROOT "" CACHE PATH "No SDK: see cmake/toolchains/apple-macos-common.cmake" FORCE)
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "One architecture per build folder" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "Given by the target triple" FORCE)

set(CMAKE_C_FLAGS_INIT "-nostdlibinc")
set(CMAKE_CXX_FLAGS_INIT "-nostdlibinc -nostdinc++")
# lld, not the build machine's GNU ld, and no C++ runtime. The driver's own -lSystem finds the stub
# of the C library (the modules add its folder, cmake/module.cmake). The compile flags also reach
# the driver at link time, where the include switches mean nothing.
set(_zendro_link "-fuse-ld=lld -nostdlib++ -Wno-unused-command-line-argument")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_zendro_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_zendro_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_zendro_link}")

# The compiler check without an SDK: compile-only, since no program can be linked for this target
# without the C library's startup files.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
