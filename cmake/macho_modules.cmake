# The macOS modules for the tests of a Linux build that can run them (host/sim/macho.h): both
# macOS slices of the three tools, each built by a nested build of this project with its macOS
# toolchain (the macos-x86_64 and macos-arm64 presets' settings, in <build>/macho/slice-<arch>),
# joined by llvm-lipo into one universal file per tool, <build>/macho/modules/zendro_<tool>_64.p,
# as dist/macos/ holds them (unstripped). The tests load that file as the host does; the
# simulator's loader takes the slice of its own processor.
#
# A nested build keeps each compiler to its own folder: the macOS flags never meet the host's. It
# builds with the outer build (BUILD_ALWAYS: a no-op when nothing changed) and needs clang-14,
# lld-14 and llvm-14, like the macOS presets; without them no Mach-O test is registered.
#
# Sets ZENDRO_MACHO_MODULES (the folder of the universal files; empty when not built) and defines
# the target zendro_macho_modules.
include(ExternalProject)

set(ZENDRO_MACHO_MODULES "")
find_program(ZENDRO_MACHO_LIPO NAMES llvm-lipo-14)
find_program(ZENDRO_MACHO_LD NAMES ld64.lld-14)
find_program(ZENDRO_MACHO_CLANG NAMES clang++-14)
if(NOT ZENDRO_MACHO_LIPO OR NOT ZENDRO_MACHO_LD OR NOT ZENDRO_MACHO_CLANG)
  message(STATUS "Mach-O module tests off: clang-14, lld-14 and llvm-14 are needed to build the macOS slices")
  return()
endif()

set(_macho_root "${CMAKE_BINARY_DIR}/macho")
set(_macho_tools zendro_kardel zendro_strova zendro_menlix)
set(_macho_slices "")
foreach(arch x86_64 arm64)
  set(_slice_modules "")
  foreach(tool IN LISTS _macho_tools)
    list(APPEND _slice_modules "${_macho_root}/slice-${arch}/modules/${tool}_64.p")
  endforeach()
  ExternalProject_Add(zendro_macho_${arch}
    SOURCE_DIR "${PROJECT_SOURCE_DIR}"
    BINARY_DIR "${_macho_root}/slice-${arch}"
    CMAKE_GENERATOR "${CMAKE_GENERATOR}"
    CMAKE_ARGS
      "-DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/${arch}-apple-macos.cmake"
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZENDRO_WERROR=ON
      -DZENDRO_HOST=OFF -DZENDRO_TESTS=OFF -DZENDRO_BENCH=OFF
    BUILD_COMMAND "${CMAKE_COMMAND}" --build . --target ${_macho_tools}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${_slice_modules}
    EXCLUDE_FROM_ALL ON)
endforeach()

set(_macho_files "")
file(MAKE_DIRECTORY "${_macho_root}/modules")
foreach(tool IN LISTS _macho_tools)
  set(_out "${_macho_root}/modules/${tool}_64.p")
  add_custom_command(OUTPUT "${_out}"
    COMMAND "${ZENDRO_MACHO_LIPO}" -create "${_macho_root}/slice-x86_64/modules/${tool}_64.p"
            "${_macho_root}/slice-arm64/modules/${tool}_64.p" -output "${_out}"
    DEPENDS "${_macho_root}/slice-x86_64/modules/${tool}_64.p" "${_macho_root}/slice-arm64/modules/${tool}_64.p"
            zendro_macho_x86_64 zendro_macho_arm64
    COMMENT "Joining the macOS slices of ${tool} into one universal file"
    VERBATIM)
  list(APPEND _macho_files "${_out}")
endforeach()
add_custom_target(zendro_macho_modules ALL DEPENDS ${_macho_files})
set(ZENDRO_MACHO_MODULES "${_macho_root}/modules")
