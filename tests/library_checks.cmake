# Library checks: what the host sees of a built module file before it calls anything.
#   library-exports-only-descriptor  The module file exports one symbol, the descriptor; nothing else is visible.
#   library-imports-c-runtime-only   The module imports only libc/libm (Linux) or KERNEL32 and the C runtime (Windows).
#   library-version-resource         A Windows module carries a version resource: the project's version as numbers and
#                                    text, the product name and the tool's own description.
#   library-descriptor-bytes         A Windows module's descriptor and server table, read from its bytes as the host
#                                    reads them (tests/descriptor_bytes.cmake).
#
# Included from tests/CMakeLists.txt, this file registers both checks for every module target
# (one CTest test per check and module file, label "library"). Run as a script it performs one check:
#   cmake -D CHECK=exports|imports|version -D FORMAT=elf|pe -D MODULE=<file> -D OBJDUMP=<objdump> [-D NM=<nm>]
#         [-D VERSION=<major.minor.patch> -D PRODUCT=<text> -D DESCRIPTION=<text>] -P tests/library_checks.cmake
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
  if(WIN32)
    list(APPEND _checks version)
  endif()
  set(_names_exports library-exports-only-descriptor)
  set(_names_imports library-imports-c-runtime-only)
  set(_names_version library-version-resource)
  get_property(_modules GLOBAL PROPERTY ZENDRO_MODULES)
  foreach(_module IN LISTS _modules)
    get_target_property(_file ${_module} OUTPUT_NAME)
    get_target_property(_description ${_module} ZENDRO_DESCRIPTION)
    foreach(_check IN LISTS _checks)
      set(_test "${_names_${_check}}:${_file}${ZENDRO_MODULE_SUFFIX}")
      add_test(NAME "${_test}"
        COMMAND "${CMAKE_COMMAND}" -D CHECK=${_check} -D FORMAT=${_format}
                -D "MODULE=$<TARGET_FILE:${_module}>" -D "OBJDUMP=${CMAKE_OBJDUMP}" -D "NM=${CMAKE_NM}"
                -D "VERSION=${PROJECT_VERSION}" -D "PRODUCT=${ZENDRO_PRODUCT}" -D "DESCRIPTION=${_description}"
                -P "${CMAKE_CURRENT_LIST_FILE}")
      set_tests_properties("${_test}" PROPERTIES LABELS library TIMEOUT 30)
    endforeach()
  endforeach()
  # The descriptor and server table of a Windows module, read from the file's bytes
  # (tests/descriptor_bytes.cmake): checked even where the build's programs cannot run. The test
  # modules' wrong records are named.
  if(WIN32)
    function(zendro_descriptor_bytes_test module server)
      get_target_property(file ${module} OUTPUT_NAME)
      set(test "library-descriptor-bytes:${file}${ZENDRO_MODULE_SUFFIX}")
      add_test(NAME "${test}"
        COMMAND "${CMAKE_COMMAND}" -D "MODULE=$<TARGET_FILE:${module}>" -D "OBJDUMP=${CMAKE_OBJDUMP}"
                -D BITS=${ZENDRO_BITS} -D "SERVER=${server}" -P "${CMAKE_CURRENT_SOURCE_DIR}/descriptor_bytes.cmake")
      set_tests_properties("${test}" PROPERTIES LABELS library TIMEOUT 30)
      if(ARGN)
        # CMake wraps the message at its blanks.
        string(REPLACE " " "[ \n]+" expected "${ARGN}")
        set_tests_properties("${test}" PROPERTIES PASS_REGULAR_EXPRESSION "${expected}")
      endif()
    endfunction()
    foreach(_module IN LISTS _modules)
      string(REGEX REPLACE "^zendro_" "" _tool "${_module}")
      string(SUBSTRING "${_tool}" 0 1 _first)
      string(TOUPPER "${_first}" _first)
      string(SUBSTRING "${_tool}" 1 -1 _rest)
      zendro_descriptor_bytes_test(${_module} "Zendro_${_first}${_rest}")
    endforeach()
    zendro_descriptor_bytes_test(zendro_test_words Zendro_Faulty "sync word 0x94191204, expected 0x4121994")
    zendro_descriptor_bytes_test(zendro_test_noend Zendro_Faulty "a second server record after \"Zendro_Faulty\"")
    zendro_descriptor_bytes_test(zendro_test_second Zendro_Faulty
      "a second server record after \"Zendro_Faulty\": \"Zendro_Faulty_Second\" of class \"LayoutTool\"")
    zendro_descriptor_bytes_test(zendro_test_class Zendro_Faulty
      "server \"Zendro_Faulty\" of class \"LayoutGeneric\", expected \"Zendro_Faulty\" of class \"LayoutTool\"")
  endif()
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

elseif(CHECK STREQUAL "version")
  set(id library-version-resource)
  foreach(var VERSION PRODUCT DESCRIPTION)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
      message(FATAL_ERROR "library check version: -D ${var}=... is required")
    endif()
  endforeach()
  if(NOT VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "library check version: VERSION '${VERSION}' is not major.minor.patch")
  endif()
  set(numbers ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} 0)
  set(cause "the module linked without its version resource (cmake/version.rc.in, compiled by zendro_add_module)")

  library_check_run(lines "${OBJDUMP}" -h)
  if(NOT lines MATCHES " \\.rsrc ")
    library_check_fail(${id} "a version resource in the .rsrc section" "no .rsrc section" "${cause}")
  endif()
  # objdump -s -j .rsrc: the section's bytes, as " <address> <up to four words of hex>  <text>" lines;
  # gathered as "xx xx ..." so that every pattern below starts on a byte.
  library_check_run(lines "${OBJDUMP}" -s -j .rsrc)
  set(bytes " ")
  foreach(line IN LISTS lines)
    if(line MATCHES "^ [0-9a-f]+ (.+)$")
      string(SUBSTRING "${CMAKE_MATCH_1}" 0 35 words)
      string(REPLACE " " "" words "${words}")
      string(REGEX REPLACE "(..)" "\\1 " words "${words}")
      string(APPEND bytes "${words}")
    endif()
  endforeach()

  # The fixed part: signature 0xFEEF04BD, structure version 1.0, then file and product version, each
  # as (major << 16 | minor) and (patch << 16 | 0), little-endian.
  set(version_bytes "")
  foreach(n IN LISTS numbers)
    math(EXPR lo "${n} % 256")
    math(EXPR hi "${n} / 256 % 256")
    foreach(b ${lo} ${hi})
      math(EXPR b "${b}" OUTPUT_FORMAT HEXADECIMAL)
      string(REGEX REPLACE "^0x" "" b "${b}")
      string(LENGTH "${b}" length)
      if(length EQUAL 1)
        set(b "0${b}")
      endif()
      string(APPEND version_bytes "${b} ")
    endforeach()
  endforeach()
  # Word order: minor, major, tweak, patch (the low half of each double word first).
  string(REGEX REPLACE "^(.. .. )(.. .. )(.. .. )(.. .. )$" "\\2\\1\\4\\3" version_bytes "${version_bytes}")
  if(NOT bytes MATCHES " bd 04 ef fe 00 00 01 00 ${version_bytes}${version_bytes}")
    library_check_fail(${id} "file and product version ${VERSION}.0 in the fixed version information"
                       "another version or no version resource" "${cause}, or an old build")
  endif()

  # The strings: "<key>\0", padding to four bytes, "<value>\0", both UTF-16LE.
  foreach(pair "ProductName|${PRODUCT}" "FileDescription|${DESCRIPTION}" "FileVersion|${VERSION}"
               "ProductVersion|${VERSION}")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 key)
    list(GET pair 1 value)
    set(pattern "")
    foreach(text IN ITEMS "${key}" "${value}")
      string(HEX "${text}" hex)
      string(REGEX REPLACE "(..)" "\\1 00 " hex "${hex}")
      string(APPEND pattern "${hex}00 00 (00 00 )?")
    endforeach()
    if(NOT bytes MATCHES " ${pattern}")
      library_check_fail(${id} "${key} \"${value}\"" "no such string in the version resource" "${cause}")
    endif()
  endforeach()
  message(STATUS "${id}: version ${VERSION}, \"${DESCRIPTION}\"")

else()
  message(FATAL_ERROR "library check: unknown CHECK '${CHECK}' (exports, imports or version)")
endif()
