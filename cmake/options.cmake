# Build options. What a module user needs is always built; the developer targets (host simulator,
# command-line host, tests) are on by default only when this is the top-level project, so a parent
# project that adds this folder with add_subdirectory() gets the modules alone, and so does a
# configure with -DZENDRO_HOST=OFF -DZENDRO_TESTS=OFF (nothing beyond a compiler is needed then).
option(ZENDRO_HOST "Build the host simulator and the command-line host" ${PROJECT_IS_TOP_LEVEL})
option(ZENDRO_TESTS "Build the tests (needs the GoogleTest sources, see ZENDRO_GTEST_SOURCE)" ${PROJECT_IS_TOP_LEVEL})
option(ZENDRO_BENCH "Build the benchmarks (needs Google Benchmark for the target)" OFF)
option(ZENDRO_PEDANTIC "Turn on the project's compiler warnings" ON)
option(ZENDRO_WERROR "Treat compiler warnings as errors" OFF)
option(ZENDRO_SANITIZE "Build everything with the address and undefined-behaviour sanitizers" OFF)
option(ZENDRO_COVERAGE "Build everything, modules included, with gcc's coverage counters (scripts/coverage)" OFF)

if((ZENDRO_TESTS OR ZENDRO_BENCH) AND NOT ZENDRO_HOST)
  message(FATAL_ERROR "The tests and benchmarks run the modules in the host simulator: configure with "
                      "-DZENDRO_HOST=ON, or with -DZENDRO_TESTS=OFF -DZENDRO_BENCH=OFF for the modules alone.")
endif()

if(ZENDRO_COVERAGE AND NOT (CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_SYSTEM_NAME STREQUAL "Linux"))
  message(FATAL_ERROR "ZENDRO_COVERAGE needs gcc on Linux (its forked workers write their counters with libgcov)")
endif()
if(ZENDRO_COVERAGE AND ZENDRO_SANITIZE)
  message(FATAL_ERROR "ZENDRO_COVERAGE and ZENDRO_SANITIZE are separate builds")
endif()

if(PROJECT_IS_TOP_LEVEL AND NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()
