# Builds one release ZIP (run by the `package` target, cmake/package.cmake):
#   cmake -D BUILD_DIR=<build folder> -D SOURCE_DIR=<checkout> -D NAME=<package name> -D ZIP=<zip program>
#         -D OUTPUT_DIR=<folder> [-D PUBLISH_DIR=<folder>] -P cmake/package_zip.cmake
# Installs the modules component, stripped, into OUTPUT_DIR/stage/NAME/ and packs that folder into
# OUTPUT_DIR/NAME.zip, then copies the ZIP into PUBLISH_DIR. With -D STAGED=ON instead of BUILD_DIR,
# OUTPUT_DIR/stage/NAME/ already holds the files (the macOS package, cmake/macos_universal.cmake).
#
# The archive depends on nothing but the installed files: entries in sorted order, every time stamp
# the commit's time (SOURCE_DATE_EPOCH when set, else the time of the checkout's last commit, else
# 1980-01-01, the earliest time a ZIP holds), stored in UTC, and no extra fields (Info-ZIP's -X drops
# the owner and the access and change times). CMake's own ZIP writer stores the access and change
# times of the staged files, which differ from build to build.

set(required SOURCE_DIR NAME OUTPUT_DIR)
if(NOT STAGED)
  list(APPEND required BUILD_DIR)
endif()
foreach(var IN LISTS required)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "package_zip: -D ${var}=... is required")
  endif()
endforeach()
if(NOT ZIP OR NOT EXISTS "${ZIP}")
  message(FATAL_ERROR "package_zip: the zip program was not found; install the Debian package zip and configure again")
endif()
find_program(TOUCH touch)
if(NOT TOUCH)
  message(FATAL_ERROR "package_zip: the touch program (coreutils) was not found")
endif()

# ---- The time of every entry ----
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  find_program(GIT git)
  if(GIT)
    execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" log -1 --format=%ct
                    RESULT_VARIABLE result OUTPUT_VARIABLE epoch ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT result EQUAL 0)
      set(epoch "")
    endif()
  endif()
endif()
if(NOT epoch MATCHES "^[0-9]+$" OR epoch LESS 315532800)
  set(epoch 315532800)
endif()

# ---- Stage the installed files ----
set(stage "${OUTPUT_DIR}/stage")
set(archive "${OUTPUT_DIR}/${NAME}.zip")
file(REMOVE "${archive}")
if(NOT STAGED)
  file(REMOVE_RECURSE "${stage}")
  execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --component modules --strip --prefix "${stage}/${NAME}"
                  RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "package_zip: installing the modules into ${stage}/${NAME} failed")
  endif()
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
list(SORT files)
execute_process(COMMAND "${TOUCH}" -d "@${epoch}" -- "${NAME}" ${files} WORKING_DIRECTORY "${stage}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "package_zip: setting the time stamps in ${stage} failed")
endif()

# ---- Pack ----
# ZIP and ZIPOPT in the environment would add options of their own.
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=ZIP --unset=ZIPOPT TZ=UTC
                        "${ZIP}" -X -D -q "${archive}" ${files}
                WORKING_DIRECTORY "${stage}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "package_zip: '${ZIP}' failed (${result}) writing ${archive}")
endif()
message(STATUS "Package ${archive}")

if(PUBLISH_DIR)
  file(MAKE_DIRECTORY "${PUBLISH_DIR}")
  file(COPY "${archive}" DESTINATION "${PUBLISH_DIR}")
  message(STATUS "Package ${PUBLISH_DIR}/${NAME}.zip")
endif()
