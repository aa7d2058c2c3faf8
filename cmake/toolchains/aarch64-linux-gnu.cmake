# 64-bit Arm Linux, cross-built with clang and lld against Debian's arm64 cross libraries; the
# programs run under qemu-aarch64 (cmake/run.cmake). This build exists to load the arm64 slice of
# the macOS modules in the simulator (host/sim/macho.h), whose code needs an arm64 process.
# On Debian: apt-get install clang-14 lld-14 libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross
#            libgcc-12-dev-arm64-cross qemu-user
# (not g++-aarch64-linux-gnu, whose installation removes g++-multilib, which the 32-bit build needs).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
find_program(CMAKE_C_COMPILER NAMES clang-14)
find_program(CMAKE_CXX_COMPILER NAMES clang++-14)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "clang++-14 not found; install clang-14 and lld-14")
endif()
set(CMAKE_C_COMPILER_TARGET aarch64-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-gnu)
if(NOT EXISTS /usr/aarch64-linux-gnu/include/stdio.h OR NOT EXISTS /usr/aarch64-linux-gnu/include/c++/12)
  message(FATAL_ERROR "the arm64 cross libraries are missing: apt-get install libc6-dev-arm64-cross "
                      "libstdc++-12-dev-arm64-cross libgcc-12-dev-arm64-cross")
endif()
# No fused multiply-adds anywhere, as in every other build: the modules are built so
# (cmake/compiler.cmake), and the tests work out their expected values in the same unfused order.
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")
set(_zendro_link "-fuse-ld=lld")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_zendro_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_zendro_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_zendro_link}")
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
