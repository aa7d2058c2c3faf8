# Reproducible output: two checkouts of one commit, in any folders, build byte-identical module files
# and packages (tests/reproducible_build.cmake checks it for the Linux x86-64 modules).
#
# Paths: the debug information, __FILE__ and the compiler's other file names name the source folder
# and the build folder "." (the build folder's map comes last so it wins where it lies inside the
# source folder). Source files then read ./tools/..., relative to the repository root: run the
# debugger there, or tell it where the checkout is (gdb: `directory <checkout>`).
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>")

# Time: a PE file holds its link time in its header unless the linker is told to write 0. (ELF files
# hold no time; their build id is a hash of their contents.) The package time stamps are set in
# cmake/package_zip.cmake.
if(WIN32)
  add_link_options(LINKER:--no-insert-timestamp)
endif()

# `cmake --install --strip` rewrites each PE file, and binutils' strip puts the current time into its
# header unless SOURCE_DATE_EPOCH gives one. These rules run before the modules' own install rules.
if(WIN32)
  install(CODE [[
    if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
      set(ENV{SOURCE_DATE_EPOCH} 0)
    endif()
  ]] COMPONENT modules)
endif()

# macOS: the debug information stays in the object files, and each module names them in its symbol
# table with their paths and modification times. -oso_prefix makes the paths relative to the build
# folder (the debugger, started there, finds the objects), and ZERO_AR_DATE=1 has the linker write 0
# for the times.
if(APPLE)
  add_link_options("LINKER:-oso_prefix,${PROJECT_BINARY_DIR}/")
  set_property(DIRECTORY PROPERTY RULE_LAUNCH_LINK "${CMAKE_COMMAND} -E env ZERO_AR_DATE=1")
endif()
