# Reproducible build: the modules built a second time, from a copy of the sources in another folder
# with its build folder placed elsewhere, are byte for byte the modules of this build, both as built
# (with their debug information) and as installed (stripped). Included by the build that checks it
# (tests/CMakeLists.txt, and the top-level CMakeLists.txt in a macOS build folder), this file
# registers the test build-reproducible-modules for that build's modules; run as a script:
#   cmake -D SOURCE_DIR=<checkout> -D BUILD_DIR=<build folder> -D WORK_DIR=<scratch folder>
#         -D MODULES=<target,...> -D FILES=<module file,...> -D GENERATOR=<generator> -D MAKE_PROGRAM=<program>
#         -D C_COMPILER=... -D CXX_COMPILER=... -D BUILD_TYPE=... [-D C_FLAGS=...] [-D CXX_FLAGS=...]
#         [-D MODULE_LINKER_FLAGS=...] [-D PEDANTIC=ON|OFF] [-D WERROR=ON|OFF] [-D TOOLCHAIN_FILE=<file>]
#         -P tests/reproducible_build.cmake
# On a difference the scratch folder is kept for a look (cmp -l, diffoscope).

if(NOT CMAKE_SCRIPT_MODE_FILE)
  # ---- Registration ----
  get_property(_modules GLOBAL PROPERTY ZENDRO_MODULES)
  set(_files "")
  foreach(_module IN LISTS _modules)
    get_target_property(_name ${_module} OUTPUT_NAME)
    list(APPEND _files "${_name}${ZENDRO_MODULE_SUFFIX}")
  endforeach()
  list(JOIN _modules "," _modules)
  list(JOIN _files "," _files)
  add_test(NAME build-reproducible-modules
    COMMAND "${CMAKE_COMMAND}" -D "SOURCE_DIR=${PROJECT_SOURCE_DIR}" -D "BUILD_DIR=${PROJECT_BINARY_DIR}"
            -D "WORK_DIR=${PROJECT_BINARY_DIR}/tests/reproducible" -D "MODULES=${_modules}" -D "FILES=${_files}"
            -D "GENERATOR=${CMAKE_GENERATOR}" -D "MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}"
            -D "C_COMPILER=${CMAKE_C_COMPILER}" -D "CXX_COMPILER=${CMAKE_CXX_COMPILER}" -D "BUILD_TYPE=${CMAKE_BUILD_TYPE}"
            -D "C_FLAGS=${CMAKE_C_FLAGS}" -D "CXX_FLAGS=${CMAKE_CXX_FLAGS}"
            -D "MODULE_LINKER_FLAGS=${CMAKE_MODULE_LINKER_FLAGS}"
            -D "PEDANTIC=${ZENDRO_PEDANTIC}" -D "WERROR=${ZENDRO_WERROR}" -D "TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}"
            -P "${CMAKE_CURRENT_LIST_FILE}")
  set_tests_properties(build-reproducible-modules PROPERTIES LABELS build TIMEOUT 120 PROCESSORS 2)
  return()
endif()

foreach(var SOURCE_DIR BUILD_DIR WORK_DIR MODULES FILES GENERATOR C_COMPILER CXX_COMPILER BUILD_TYPE)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "reproducible build: -D ${var}=... is required")
  endif()
endforeach()
string(REPLACE "," ";" MODULES "${MODULES}")
string(REPLACE "," ";" FILES "${FILES}")

# Runs a command, its output into WORK_DIR/<step>.log; stops with the log's tail when it fails.
function(run step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  file(WRITE "${WORK_DIR}/${step}.log" "${out}")
  if(NOT result EQUAL 0)
    string(LENGTH "${out}" length)
    if(length GREATER 3000)
      math(EXPR start "${length} - 3000")
      string(SUBSTRING "${out}" ${start} -1 out)
    endif()
    message(FATAL_ERROR "reproducible build: ${step} failed (${result}):\n${out}")
  endif()
endfunction()

set(copy "${WORK_DIR}/sources-elsewhere")
set(copy_build "${WORK_DIR}/build-elsewhere")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${copy}")

# The copy: the checkout as it is, without its git data, build folders and deliverables.
file(RELATIVE_PATH build_in_source "${SOURCE_DIR}" "${BUILD_DIR}")
string(REGEX REPLACE "/.*" "" build_top "${build_in_source}")
file(GLOB entries LIST_DIRECTORIES true RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
foreach(entry IN LISTS entries)
  if(NOT entry MATCHES "^(\\.git|build|dist)$" AND NOT entry STREQUAL build_top)
    file(COPY "${SOURCE_DIR}/${entry}" DESTINATION "${copy}")
  endif()
endforeach()

set(make_program "")
if(MAKE_PROGRAM)
  set(make_program "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}")
endif()
set(toolchain "")
if(TOOLCHAIN_FILE)
  # The copy's own toolchain file, so that the second build names no path of the first.
  file(RELATIVE_PATH toolchain "${SOURCE_DIR}" "${TOOLCHAIN_FILE}")
  set(toolchain "-DCMAKE_TOOLCHAIN_FILE=${copy}/${toolchain}")
endif()
run(configure "${CMAKE_COMMAND}" -S "${copy}" -B "${copy_build}" -G "${GENERATOR}" ${make_program} ${toolchain}
    "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}" "-DCMAKE_C_COMPILER=${C_COMPILER}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
    "-DCMAKE_C_FLAGS=${C_FLAGS}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_MODULE_LINKER_FLAGS=${MODULE_LINKER_FLAGS}"
    "-DZENDRO_PEDANTIC=${PEDANTIC}" "-DZENDRO_WERROR=${WERROR}"
    -DZENDRO_HOST=OFF -DZENDRO_TESTS=OFF -DZENDRO_BENCH=OFF)
run(build "${CMAKE_COMMAND}" --build "${copy_build}" --target ${MODULES})
foreach(tree main copy)
  if(tree STREQUAL "main")
    set(dir "${BUILD_DIR}")
  else()
    set(dir "${copy_build}")
  endif()
  run(install-${tree} "${CMAKE_COMMAND}" --install "${dir}" --component modules --strip
      --prefix "${WORK_DIR}/installed-${tree}")
endforeach()

set(differ "")
foreach(file IN LISTS FILES)
  foreach(pair "${BUILD_DIR}/modules|${copy_build}/modules" "${WORK_DIR}/installed-main|${WORK_DIR}/installed-copy")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 a)
    list(GET pair 1 b)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${a}/${file}" "${b}/${file}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      file(SIZE "${a}/${file}" size_a)
      file(SIZE "${b}/${file}" size_b)
      string(APPEND differ "\n  ${a}/${file} (${size_a} bytes)\n  ${b}/${file} (${size_b} bytes)")
    endif()
  endforeach()
endforeach()
if(differ)
  message(FATAL_ERROR "reproducible build: the second build differs:${differ}\n"
                      "likely cause: a build path or a time stamp in the file; the copy stays in ${WORK_DIR}")
endif()
list(JOIN FILES ", " names)
message(STATUS "reproducible build: ${names} identical, as built and as installed")
file(REMOVE_RECURSE "${WORK_DIR}")
