# How this build's programs run on this machine: the one place that decides it, at configure time,
# by running a tiny program of each kind rather than guessing from the kernel or the distribution.
#
#   linux-x86_64   natively
#   linux-x86      natively where the kernel runs 32-bit x86 code, else under qemu-i386 (qemu-user)
#   windows-x64    under wine's 64-bit loader with a 64-bit prefix of the build folder's own
#   windows-x86    under wine with a 32-bit prefix, only where the kernel runs 32-bit x86 code
#   linux-aarch64  under qemu-aarch64 with Debian's arm64 cross libraries (qemu-user)
#
# Where a program cannot run, the build still builds, installs and packs, and the checks that read
# the module files without running them still run; every test that must run a program is reported
# as skipped with the reason (the machine runs no 32-bit code, or the override said so), or, where a
# package is missing or broken, fails with one line naming it.
#
# The decision is written into ${CMAKE_BINARY_DIR}/run, a script that runs a program of this build
# the decided way (`run PROGRAM [ARGS...]`) and says how (`run --how`). It is the tests' emulator
# (CMAKE_CROSSCOMPILING_EMULATOR, honoured by add_test, gtest_discover_tests and custom commands)
# and scripts/build plays the demo sessions through it.
#
# ZENDRO_RUN32 (cache variable, or the environment variable of the same name, which wins) forces the
# path of the 32-bit targets, so that each can be tried on any machine:
#   auto     decide by probing (the default)
#   native   run 32-bit programs directly (windows-x86: under wine's 32-bit loader)
#   qemu     run 32-bit Linux programs under qemu-i386 (windows-x86: skipped, since wine's 32-bit
#            loader does not start under qemu-i386)
#   none     skip every test that runs a 32-bit program
set(ZENDRO_RUN32 "auto" CACHE STRING "How 32-bit programs run: auto, native, qemu or none")
set_property(CACHE ZENDRO_RUN32 PROPERTY STRINGS auto native qemu none)

# The pure decision, from what was found on the machine; tests/run_decision.cmake checks its table.
#   kind     linux-x86_64, linux-x86, windows-x64 or windows-x86
#   override auto, native, qemu or none (ZENDRO_RUN32)
#   runs32   TRUE when the kernel runs 32-bit x86 code
#   qemu_program  the qemu-i386 program, or empty when it is not installed
#   wine_loader   the wine loader for the target's width, or empty when it is not installed
# Sets <out>_MODE to native, qemu, wine, skip or broken, and <out>_REASON to a reason for skip and
# broken.
function(zendro_run_decide out kind override runs32 qemu_program wine_loader)
  set(mode broken)
  set(reason "")
  if(NOT override MATCHES "^(auto|native|qemu|none)$")
    message(FATAL_ERROR "ZENDRO_RUN32=${override}: expected auto, native, qemu or none")
  endif()
  set(no32 "this machine runs no 32-bit code")
  set(get_qemu "qemu-i386 is not installed (Debian: apt-get install qemu-user)")
  if(kind STREQUAL "linux-x86_64")
    set(mode native)
  elseif(kind STREQUAL "linux-aarch64")
    if(qemu_program)
      set(mode qemu)
    else()
      set(reason "qemu-aarch64 is not installed (Debian: apt-get install qemu-user)")
    endif()
  elseif(kind STREQUAL "linux-x86")
    if(override STREQUAL "none")
      set(mode skip)
      set(reason "ZENDRO_RUN32=none")
    elseif(override STREQUAL "native" OR (override STREQUAL "auto" AND runs32))
      set(mode native)
    elseif(qemu_program)
      set(mode qemu)
    elseif(override STREQUAL "qemu")
      set(reason "ZENDRO_RUN32=qemu, but ${get_qemu}")
    else()
      set(reason "${no32}, and ${get_qemu}")
    endif()
  elseif(kind MATCHES "^windows-")
    set(bits 64)
    set(package wine64)
    if(kind STREQUAL "windows-x86")
      set(bits 32)
      set(package "wine32:i386 (Debian: dpkg --add-architecture i386; apt-get update; apt-get install wine32:i386)")
    endif()
    if(bits EQUAL 32 AND override STREQUAL "none")
      set(mode skip)
      set(reason "ZENDRO_RUN32=none")
    elseif(bits EQUAL 32 AND override STREQUAL "qemu")
      set(mode skip)
      set(reason "ZENDRO_RUN32=qemu, and wine's 32-bit loader does not start under qemu-i386")
    elseif(bits EQUAL 32 AND override STREQUAL "auto" AND NOT runs32)
      set(mode skip)
      set(reason "${no32}")
    elseif(NOT wine_loader)
      if(package STREQUAL "wine64")
        set(package "wine64 (Debian: apt-get install wine wine64)")
      endif()
      set(reason "wine's ${bits}-bit loader is not installed: ${package}")
    else()
      set(mode wine)
    endif()
  else()
    message(FATAL_ERROR "zendro_run_decide: unknown kind ${kind}")
  endif()
  set(${out}_MODE "${mode}" PARENT_SCOPE)
  set(${out}_REASON "${reason}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  return()
endif()

# ---- What this machine has ----

get_property(_zendro_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(_zendro_in_try_compile)
  return()
endif()

if(DEFINED ENV{ZENDRO_RUN32} AND NOT "$ENV{ZENDRO_RUN32}" STREQUAL "")
  set(_zendro_run32 "$ENV{ZENDRO_RUN32}")
else()
  set(_zendro_run32 "${ZENDRO_RUN32}")
endif()
if(WIN32)
  set(_zendro_kind windows-x64)
  if(ZENDRO_BITS EQUAL 32)
    set(_zendro_kind windows-x86)
  endif()
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(_zendro_kind linux-aarch64)
else()
  set(_zendro_kind linux-x86_64)
  if(ZENDRO_BITS EQUAL 32)
    set(_zendro_kind linux-x86)
  endif()
endif()

set(_zendro_probe_dir "${CMAKE_BINARY_DIR}/run-probe")
execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/run-probe-ia32" RESULT_VARIABLE _zendro_ia32
                OUTPUT_VARIABLE _zendro_ia32_error OUTPUT_STRIP_TRAILING_WHITESPACE)
if(_zendro_ia32 EQUAL 0)
  set(_zendro_runs32 TRUE)
else()
  set(_zendro_runs32 FALSE)
endif()
find_program(ZENDRO_QEMU_I386 qemu-i386)
# The wine loaders are called directly: the `wine` launcher picks the 32-bit loader whenever wine32
# is installed, which cannot start where the kernel runs no 32-bit code.
if(_zendro_kind STREQUAL "windows-x64")
  find_program(ZENDRO_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
  find_program(ZENDRO_WINE_LOADER NAMES wine64)
elseif(_zendro_kind STREQUAL "windows-x86")
  find_program(ZENDRO_WINE_LOADER NAMES wine PATHS /usr/lib/wine /usr/lib32/wine NO_DEFAULT_PATH)
endif()
if(NOT ZENDRO_QEMU_I386)
  set(ZENDRO_QEMU_I386 "")
endif()
# The emulator of a qemu run and the folder its dynamic loader and libraries come from.
set(_zendro_qemu "${ZENDRO_QEMU_I386}")
set(_zendro_qemu_root /)
if(_zendro_kind STREQUAL "linux-aarch64")
  find_program(ZENDRO_QEMU_AARCH64 qemu-aarch64)
  set(_zendro_qemu "${ZENDRO_QEMU_AARCH64}")
  if(NOT ZENDRO_QEMU_AARCH64)
    set(_zendro_qemu "")
  endif()
  set(_zendro_qemu_root /usr/aarch64-linux-gnu)
endif()
if(NOT ZENDRO_WINE_LOADER)
  set(ZENDRO_WINE_LOADER "")
endif()

zendro_run_decide(_zendro_run "${_zendro_kind}" "${_zendro_run32}" ${_zendro_runs32}
                  "${_zendro_qemu}" "${ZENDRO_WINE_LOADER}")

# ---- A tiny program of the target's kind, run the decided way ----

set(ZENDRO_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine")
set(_zendro_winearch win64)
if(ZENDRO_BITS EQUAL 32)
  set(_zendro_winearch win32)
endif()
if(_zendro_run_MODE MATCHES "^(native|qemu|wine)$" AND NOT _zendro_kind STREQUAL "linux-x86_64")
  set(_zendro_probe "${_zendro_probe_dir}/probe${CMAKE_EXECUTABLE_SUFFIX}")
  try_compile(_zendro_probe_built "${_zendro_probe_dir}/build" "${CMAKE_CURRENT_LIST_DIR}/run-probe.c"
              COPY_FILE "${_zendro_probe}" OUTPUT_VARIABLE _zendro_probe_log)
  if(NOT _zendro_probe_built)
    message(FATAL_ERROR "The compiler cannot build a program for ${_zendro_kind}:\n${_zendro_probe_log}")
  endif()
  if(_zendro_run_MODE STREQUAL "native")
    set(_zendro_probe_command "${_zendro_probe}")
  elseif(_zendro_run_MODE STREQUAL "qemu")
    set(_zendro_probe_command "${_zendro_qemu}" -L ${_zendro_qemu_root} "${_zendro_probe}")
  else()
    # The first run creates the build folder's wine prefix (10 to 30 s), here rather than in the
    # first test: CTest lists each executable's tests through the emulator with a time limit.
    message(STATUS "Running a test program under wine (${_zendro_winearch} prefix ${ZENDRO_WINE_PREFIX})")
    set(_zendro_probe_command "${CMAKE_CURRENT_LIST_DIR}/wine-run" "${ZENDRO_WINE_LOADER}" "${ZENDRO_WINE_PREFIX}"
                              ${_zendro_winearch} "${_zendro_probe}")
  endif()
  execute_process(COMMAND ${_zendro_probe_command} RESULT_VARIABLE _zendro_probe_result
                  OUTPUT_VARIABLE _zendro_probe_out ERROR_VARIABLE _zendro_probe_out)
  if(NOT _zendro_probe_result EQUAL 0 OR NOT _zendro_probe_out MATCHES "zendro-run-probe ok")
    string(STRIP "${_zendro_probe_out}" _zendro_probe_out)
    string(REGEX REPLACE "\n.*" "" _zendro_probe_out "${_zendro_probe_out}")
    if(_zendro_run_MODE STREQUAL "wine")
      set(_zendro_run_REASON "wine could not run a test program (${_zendro_probe_result}: ${_zendro_probe_out}); see ${ZENDRO_WINE_PREFIX}.log")
    else()
      list(JOIN _zendro_probe_command " " _zendro_probe_command)
      string(STRIP "${_zendro_probe_result} ${_zendro_probe_out}" _zendro_probe_out)
      set(_zendro_run_REASON "a test program does not run (${_zendro_probe_command}: ${_zendro_probe_out})")
    endif()
    set(_zendro_run_MODE broken)
  endif()
endif()

# ---- The run script and the tests' emulator ----

set(ZENDRO_RUN_MODE "${_zendro_run_MODE}")
set(ZENDRO_RUN_REASON "${_zendro_run_REASON}")
set(ZENDRO_RUN "${CMAKE_BINARY_DIR}/run")
if(ZENDRO_RUN_MODE STREQUAL "native")
  set(_zendro_how "natively")
  set(_zendro_exec "exec \"$@\"")
elseif(ZENDRO_RUN_MODE STREQUAL "qemu")
  get_filename_component(_zendro_qemu_name "${_zendro_qemu}" NAME)
  set(_zendro_how "under ${_zendro_qemu_name}")
  set(_zendro_exec "exec \"${_zendro_qemu}\" -L ${_zendro_qemu_root} \"$@\"")
elseif(ZENDRO_RUN_MODE STREQUAL "wine")
  get_filename_component(_zendro_loader_name "${ZENDRO_WINE_LOADER}" NAME)
  set(_zendro_how "under wine (${_zendro_loader_name}, ${_zendro_winearch} prefix)")
  set(_zendro_exec "exec \"${CMAKE_CURRENT_LIST_DIR}/wine-run\" \"${ZENDRO_WINE_LOADER}\" \"${ZENDRO_WINE_PREFIX}\" ${_zendro_winearch} \"$@\"")
elseif(ZENDRO_RUN_MODE STREQUAL "skip")
  set(_zendro_how "skipped (${ZENDRO_RUN_REASON})")
  # The line CTest's SKIP_REGULAR_EXPRESSION recognises (tests/CMakeLists.txt).
  set(_zendro_exec "echo \"zendro-run: skipped: ${ZENDRO_RUN_REASON}\" >&2\nexit 77")
else()
  set(_zendro_how "cannot run (${ZENDRO_RUN_REASON})")
  set(_zendro_exec "echo \"zendro-run: cannot run ${_zendro_kind} programs: ${ZENDRO_RUN_REASON}\" >&2\nexit 1")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/run.in" "${ZENDRO_RUN}" @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(ZENDRO_RUN_MODE STREQUAL "native")
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR "${ZENDRO_RUN}")
endif()
if(ZENDRO_RUN_MODE STREQUAL "broken")
  message(WARNING "${_zendro_kind} programs cannot run on this machine: ${ZENDRO_RUN_REASON}. "
                  "The build goes on; the tests that run programs will fail.")
elseif(ZENDRO_RUN_MODE STREQUAL "skip")
  message(STATUS "${_zendro_kind} programs do not run on this machine (${ZENDRO_RUN_REASON}): "
                 "the tests that run them are skipped")
else()
  message(STATUS "${_zendro_kind} programs run ${_zendro_how}")
endif()
