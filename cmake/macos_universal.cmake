# The macOS deliverables, made after both macOS presets are built (scripts/build runs it):
#   cmake -D SOURCE_DIR=<checkout> -D SLICES=<x86-64 build folder>,<arm64 build folder>
#         [-D OUTPUT_DIR=<scratch folder>] [-D DIST_DIR=<folder>] -P cmake/macos_universal.cmake
# Installs each build's modules, stripped (llvm-strip -x, which signs the arm64 slice again), into
# OUTPUT_DIR/slices/<build folder's name>/; joins the two slices of every tool with llvm-lipo into
# one universal file, DIST_DIR/macos/zendro_<tool>_64.p, next to the install note; and packs that
# folder into DIST_DIR/packages/zendro-tools-<version>-macos.zip as cmake/package_zip.cmake packs
# the others (sorted entries, fixed time stamps). OUTPUT_DIR defaults to SOURCE_DIR/build/macos,
# DIST_DIR to SOURCE_DIR/dist. The same slices give the same bytes: llvm-lipo writes no time or path.

foreach(var SOURCE_DIR SLICES)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "macos_universal: -D ${var}=... is required")
  endif()
endforeach()
if(NOT OUTPUT_DIR)
  set(OUTPUT_DIR "${SOURCE_DIR}/build/macos")
endif()
if(NOT DIST_DIR)
  set(DIST_DIR "${SOURCE_DIR}/dist")
endif()
string(REPLACE "," ";" SLICES "${SLICES}")
list(LENGTH SLICES count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "macos_universal: SLICES names two build folders, the x86-64 and the arm64 one")
endif()

# The tools found when the slices were configured (cmake/toolchains/apple-macos-common.cmake).
list(GET SLICES 0 first)
foreach(entry ZENDRO_LIPO ZENDRO_ZIP)
  file(STRINGS "${first}/CMakeCache.txt" line REGEX "^${entry}:[A-Z]+=")
  string(REGEX REPLACE "^[^=]*=" "" ${entry} "${line}")
  if(NOT ${entry} OR NOT EXISTS "${${entry}}")
    message(FATAL_ERROR "macos_universal: ${entry} not found in ${first}/CMakeCache.txt; configure the macOS presets first")
  endif()
endforeach()
file(STRINGS "${SOURCE_DIR}/CMakeLists.txt" project REGEX "^project\\(zendro_tools VERSION [0-9.]+ ")
string(REGEX REPLACE "^.* VERSION ([0-9.]+) .*$" "\\1" version "${project}")

# ---- The slices, as installed ----
set(slice_dirs "")
file(REMOVE_RECURSE "${OUTPUT_DIR}")
foreach(build IN LISTS SLICES)
  get_filename_component(name "${build}" NAME)
  set(dir "${OUTPUT_DIR}/slices/${name}")
  execute_process(COMMAND "${CMAKE_COMMAND}" --install "${build}" --component modules --strip --prefix "${dir}"
                  RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "macos_universal: installing the modules of ${build} failed; build it first")
  endif()
  list(APPEND slice_dirs "${dir}")
endforeach()

# ---- One universal file per tool ----
list(GET slice_dirs 0 x86_64_dir)
list(GET slice_dirs 1 arm64_dir)
set(dist "${DIST_DIR}/macos")
file(REMOVE_RECURSE "${dist}")
file(MAKE_DIRECTORY "${dist}")
file(GLOB modules RELATIVE "${x86_64_dir}" "${x86_64_dir}/*.p")
list(SORT modules)
if(NOT modules)
  message(FATAL_ERROR "macos_universal: no module in ${x86_64_dir}")
endif()
foreach(module IN LISTS modules)
  execute_process(COMMAND "${ZENDRO_LIPO}" -create "${x86_64_dir}/${module}" "${arm64_dir}/${module}"
                          -output "${dist}/${module}" RESULT_VARIABLE result ERROR_VARIABLE error)
  execute_process(COMMAND "${ZENDRO_LIPO}" -archs "${dist}/${module}" OUTPUT_VARIABLE archs
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0 OR NOT archs STREQUAL "x86_64 arm64")
    message(FATAL_ERROR "macos_universal: ${module}: expected an x86_64 and an arm64 slice, got '${archs}' ${error}")
  endif()
  message(STATUS "Universal ${dist}/${module} (${archs})")
endforeach()
file(COPY "${SOURCE_DIR}/packaging/INSTALL.txt" DESTINATION "${dist}")
# The permissions `cmake --install` gives, whatever the checkout's umask: they go into the ZIP.
file(CHMOD "${dist}/INSTALL.txt" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
list(TRANSFORM modules PREPEND "${dist}/")
file(CHMOD ${modules} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)

# ---- The package ----
set(name "zendro-tools-${version}-macos")
file(MAKE_DIRECTORY "${OUTPUT_DIR}/stage")
file(COPY "${dist}/" DESTINATION "${OUTPUT_DIR}/stage/${name}")
execute_process(COMMAND "${CMAKE_COMMAND}" -D STAGED=ON -D "SOURCE_DIR=${SOURCE_DIR}" -D "NAME=${name}"
                        -D "ZIP=${ZENDRO_ZIP}" -D "OUTPUT_DIR=${OUTPUT_DIR}" -D "PUBLISH_DIR=${DIST_DIR}/packages"
                        -P "${CMAKE_CURRENT_LIST_DIR}/package_zip.cmake"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "macos_universal: packing ${name}.zip failed")
endif()
