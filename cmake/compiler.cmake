# Language levels, the project's warnings and the flags of code that ends up inside a module.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_C_STANDARD 11)

# Warnings for everything the project compiles.
add_library(zendro_warnings INTERFACE)
if(ZENDRO_PEDANTIC)
  target_compile_options(zendro_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wcast-align -Wformat=2)
endif()
if(ZENDRO_WERROR)
  target_compile_options(zendro_warnings INTERFACE -Werror)
endif()

# Code that ends up inside a module: no exceptions, no RTTI, nothing from the C++ runtime, hidden
# symbols. The same arithmetic in every build, bit for bit: no fused multiply-adds
# (-ffp-contract=off; clang would fuse them on arm64) and no merging of adjacent scalar operations
# into vector ones (GCC 12 at -O2 on x86-64 merges double->float->double pairs of adjacent elements
# and drops the rounding to single precision, which the tools rely on; clang's name for the same
# switch is -fno-slp-vectorize).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(_zendro_no_slp -fno-tree-slp-vectorize)
else()
  set(_zendro_no_slp -fno-slp-vectorize)
endif()
add_library(zendro_module_flags INTERFACE)
target_link_libraries(zendro_module_flags INTERFACE zendro_warnings)
target_compile_options(zendro_module_flags INTERFACE
  -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-asynchronous-unwind-tables
  -fvisibility=hidden -fvisibility-inlines-hidden -ffunction-sections -fdata-sections
  ${_zendro_no_slp} -ffp-contract=off
  $<$<BOOL:${ZENDRO_PEDANTIC}>:-Wconversion -Wsign-conversion>)

if(ZENDRO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Coverage counters in every object, the modules' included: each module links its own copy of
# libgcov (static, hidden behind the module's version script) and writes its .gcda files when it
# is unloaded or the process exits. Forked workers end through exit() in this build for that
# reason (host/isolate/isolate.cpp).
# A target with the property ZENDRO_NO_COVERAGE is left out (cmake/module.cmake).
if(ZENDRO_COVERAGE)
  set(_zendro_measured "$<NOT:$<BOOL:$<TARGET_PROPERTY:ZENDRO_NO_COVERAGE>>>")
  add_compile_options("$<${_zendro_measured}:--coverage>")
  add_link_options("$<${_zendro_measured}:--coverage>")
endif()
