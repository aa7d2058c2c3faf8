# Library checks: what the host sees of a built module file before it calls anything.
#   library-exports-only-descriptor  The module file exports one symbol, the descriptor; nothing else is visible.
#   library-imports-c-runtime-only   The module imports only libc/libm (Linux) or KERNEL32 and the C runtime (Windows).
#
# Included from tests/CMakeLists.txt, this file registers both checks for every module target
# (one CTest test per check and module file, label "library"). Run as a script it performs one check:
#   cmake -D CHECK=exports|imports -D FORMAT=elf|pe -D MODULE=<file> -D OBJDUMP=<objdump> [-D NM=<nm>]
#         -P tests/library_checks.cmake
# The checks read the file with the binutils of the build's toolchain on the build machine, so the
# Windows modules are checked without wine.

if(NOT CMAKE_SCRIPT_MODE_FILE)
  # ---- Registration ----
  if(WIN32)
    set(_format pe)
  else()
    set(_format elf)
  endif()
  if(NOT CMAKE_OBJDUMP OR (_format STREQUAL "elf" AND NOT CMAKE_NM))
    message(FATAL_ERROR "The library checks need the toolchain's objdump and nm (Debian: binutils, "
                        "binutils-mingw-w64); CMAKE_OBJDUMP='${CMAKE_OBJDUMP}' CMAKE_NM='${CMAKE_NM}'")
  endif()
  set(_checks exports)
  # A sanitizer build links the sanitizer runtimes on purpose; only the exports are checked there.
  if(NOT ZENDRO_SANITIZE)
    list(APPEND _checks imports)
  endif()
  set(_names_exports library-exports-only-descriptor)
  set(_names_imports library-imports-c-runtime-only)
  get_property(_modules GLOBAL PROPERTY ZENDRO_MODULES)
  foreach(_module IN LISTS _modules)
    get_target_property(_file ${_module} OUTPUT_NAME)
    foreach(_check IN LISTS _checks)
      set(_test "${_names_${_check}}:${_file}${ZENDRO_MODULE_SUFFIX}")
      add_test(NAME "${_test}"
        COMMAND "${CMAKE_COMMAND}" -D CHECK=${_check} -D FORMAT=${_format}
                -D "MODULE=$<TARGET_FILE:${_module}>" -D "OBJDUMP=${CMAKE_OBJDUMP}" -D "NM=${CMAKE_NM}"
                -P "${CMAKE_CURRENT_LIST_FILE}")
      set_tests_properties("${_test}" PROPERTIES LABELS library TIMEOUT 30)
    endforeach()
  endforeach()
  return()
endif()

# ---- One check ----

# Stops with the check's id, what was expected, what was found and the likely cause.
function(library_check_fail id expected got cause)
  get_filename_component(name "${MODULE}" NAME)
  message(FATAL_ERROR "${id}: ${name}\n  expected: ${expected}\n  got:      ${got}\n  likely cause: ${cause}")
endfunction()

# Runs a binutils tool on the module and returns its output lines in <out>.
function(library_check_run out)
  execute_process(COMMAND ${ARGN} "${MODULE}" RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    string(STRIP "${error}" error)
    message(FATAL_ERROR "library check ${CHECK}: '${ARGN} ${MODULE}' failed (${result}): ${error}")
  endif()
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE ";" "\\;" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

foreach(var CHECK FORMAT MODULE OBJDUMP)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "library check: -D ${var}=... is required")
  endif()
endforeach()
if(NOT EXISTS "${MODULE}")
  message(FATAL_ERROR "library check ${CHECK}: module file ${MODULE} not found; build the module first")
endif()

if(CHECK STREQUAL "exports")
  set(id library-exports-only-descriptor)
  set(exports "")
  if(FORMAT STREQUAL "elf")
    # nm -D --defined-only: "<address> <type> <name>" for every defined dynamic symbol.
    library_check_run(lines "${NM}" -D --defined-only)
    foreach(line IN LISTS lines)
      if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ ]+)$")
        list(APPEND exports "${CMAKE_MATCH_1}")
      endif()
    endforeach()
    string(CONCAT cause "a symbol with default visibility that the version script frame/module.version did not hide, "
                 "or the module linked without that script")
  else()
    # objdump -p: the export names follow "[Ordinal/Name Pointer] Table", one "[ n] name" a line.
    library_check_run(lines "${OBJDUMP}" -p)
    set(in_table FALSE)
    foreach(line IN LISTS lines)
      if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
        set(in_table TRUE)
      elseif(in_table AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
        list(APPEND exports "${CMAKE_MATCH_1}")
      elseif(in_table)
        set(in_table FALSE)
      endif()
    endforeach()
    string(CONCAT cause "the module linked without frame/module.def (the linker then exports every global symbol), "
                 "a __declspec(dllexport) on another symbol, or a decorated name in the .def file")
  endif()
  if(NOT exports STREQUAL "_mod_descrip")
    list(LENGTH exports count)
    list(JOIN exports ", " got)
    if(count EQUAL 0)
      set(got "no exported symbol")
    else()
      set(got "${count} exported: ${got}")
    endif()
    library_check_fail(${id} "exactly one exported symbol, _mod_descrip" "${got}" "${cause}")
  endif()
  message(STATUS "${id}: exports _mod_descrip only")

elseif(CHECK STREQUAL "imports")
  set(id library-imports-c-runtime-only)
  set(imports "")
  set(unexpected "")
  library_check_run(lines "${OBJDUMP}" -p)
  if(FORMAT STREQUAL "elf")
    foreach(line IN LISTS lines)
      if(line MATCHES "^ *NEEDED +([^ ]+)$")
        set(library "${CMAKE_MATCH_1}")
        list(APPEND imports "${library}")
        if(NOT library MATCHES "^lib[cm]\\.so\\.6$")
          list(APPEND unexpected "${library}")
        endif()
      endif()
    endforeach()
    set(expected "libc.so.6 and libm.so.6 only")
    string(CONCAT cause "the C++ runtime or libgcc linked as shared libraries (-static-libstdc++ -static-libgcc missing), "
                 "or module code that uses another library")
  else()
    foreach(line IN LISTS lines)
      if(line MATCHES "^[ \t]*DLL Name: (.+)$")
        set(library "${CMAKE_MATCH_1}")
        list(APPEND imports "${library}")
        string(TOLOWER "${library}" dll)
        if(NOT dll MATCHES "^(kernel32\\.dll|msvcrt\\.dll|api-ms-win-crt-[a-z0-9-]+\\.dll)$")
          list(APPEND unexpected "${library}")
        endif()
      endif()
    endforeach()
    set(expected "KERNEL32.dll and the C runtime (msvcrt.dll or api-ms-win-crt-*.dll) only")
    string(CONCAT cause "libstdc++-6.dll, libgcc_s_*.dll or libwinpthread-1.dll linked dynamically (-static-libstdc++ "
                 "-static-libgcc missing, or a posix-thread-model compiler), or module code that calls another DLL")
  endif()
  if(unexpected)
    list(JOIN imports ", " got)
    list(JOIN unexpected ", " extra)
    library_check_fail(${id} "${expected}" "${got} (not allowed: ${extra})" "${cause}")
  endif()
  list(JOIN imports ", " got)
  message(STATUS "${id}: imports ${got}")

else()
  message(FATAL_ERROR "library check: unknown CHECK '${CHECK}' (exports or imports)")
endif()
