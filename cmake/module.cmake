# zendro_add_module(<name> DESCRIPTION <text> SOURCES <files...> [LIBS <libs...>])
# Builds the tool module <name>_<bits><suffix> (zendro_kardel_64.so, zendro_kardel_32.p, ...) from
# the frame and the given tool sources, and installs it into dist/<platform>/.
# The module exports `_mod_descrip` only and links nothing of the C++ runtime. On Windows it carries
# a version resource: the product, PROJECT_VERSION and DESCRIPTION (one line, shown as the file's
# description).
set(ZENDRO_VENDOR "Zendro")
set(ZENDRO_PRODUCT "Zendro tools for Layout")
if(WIN32)
  enable_language(RC)
endif()

function(zendro_add_module name)
  cmake_parse_arguments(ARG "" "DESCRIPTION" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_DESCRIPTION)
    message(FATAL_ERROR "zendro_add_module(${name}): DESCRIPTION is required")
  endif()
  set(file "${name}_${ZENDRO_BITS}${ZENDRO_MODULE_SUFFIX}")
  add_library(${name} MODULE ${ARG_SOURCES} $<TARGET_OBJECTS:zendro_frame>)
  target_link_libraries(${name} PRIVATE zendro_frame_helpers zendro_module_flags ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX "${ZENDRO_MODULE_SUFFIX}" OUTPUT_NAME "${name}_${ZENDRO_BITS}"
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/modules"
    POSITION_INDEPENDENT_CODE ON
    ZENDRO_DESCRIPTION "${ARG_DESCRIPTION}")
  if(WIN32)
    # The resource is compiled on its own: the module's compiler flags mean nothing to windres.
    set(ZENDRO_RC_DESCRIPTION "${ARG_DESCRIPTION}")
    set(ZENDRO_RC_NAME "${name}_${ZENDRO_BITS}")
    set(ZENDRO_RC_FILE "${file}")
    configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc" @ONLY)
    add_library(${name}_version OBJECT "${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc")
    target_sources(${name} PRIVATE $<TARGET_OBJECTS:${name}_version>)
    target_link_options(${name} PRIVATE
      "${PROJECT_SOURCE_DIR}/frame/module.def" -static-libgcc -static-libstdc++ -Wl,--gc-sections)
  elseif(APPLE)
    # A bundle (the driver's -bundle, from CMake's module rule) that exports the descriptor alone,
    # under its Mach-O name with the leading underscore, and imports only from the system's C
    # library: the driver's -lSystem finds our stub of it, cmake/macos/libSystem.tbd.
    target_link_options(${name} PRIVATE -Wl,-exported_symbol,__mod_descrip -Wl,-dead_strip
                        "-L${PROJECT_SOURCE_DIR}/cmake/macos")
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS "${PROJECT_SOURCE_DIR}/cmake/macos/libSystem.tbd")
  else()
    target_link_options(${name} PRIVATE
      "-Wl,--version-script=${PROJECT_SOURCE_DIR}/frame/module.version"
      -Wl,-z,defs -Wl,--gc-sections -Wl,--as-needed -static-libstdc++ -static-libgcc)
    target_link_libraries(${name} PRIVATE m)
  endif()
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS
    "${PROJECT_SOURCE_DIR}/frame/module.version" "${PROJECT_SOURCE_DIR}/frame/module.def")
  install(TARGETS ${name} LIBRARY DESTINATION . COMPONENT modules)
  set_property(GLOBAL APPEND PROPERTY ZENDRO_MODULES ${name})
endfunction()

# zendro_test_module(<name> SOURCE <file> [DEFINITIONS <defs...>] [NO_SANITIZE])
# Builds a module used only by the tests, <name>_<bits><suffix> next to the tool modules; never
# installed. Like the tool modules it exports only what it marks for export and, on Windows, needs
# none of the mingw runtime DLLs, which the host does not ship. NO_SANITIZE builds it without the
# sanitizers, so that a crash it carries reaches the host as a real fault, not as a sanitizer's
# report of it.
function(zendro_test_module name)
  cmake_parse_arguments(ARG "NO_SANITIZE" "SOURCE" "DEFINITIONS" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCE})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE ${ARG_DEFINITIONS})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX "${ZENDRO_MODULE_SUFFIX}" OUTPUT_NAME "${name}_${ZENDRO_BITS}"
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/modules"
    CXX_VISIBILITY_PRESET hidden)
  target_link_libraries(${name} PRIVATE zendro_warnings)
  if(WIN32)
    target_link_options(${name} PRIVATE -static-libgcc -static-libstdc++)
  endif()
  # Not measured in a coverage build: without the tool modules' version script its copy of
  # libgcov would add exports.
  set_target_properties(${name} PROPERTIES ZENDRO_NO_COVERAGE ON)
  if(ARG_NO_SANITIZE AND ZENDRO_SANITIZE)
    target_compile_options(${name} PRIVATE -fno-sanitize=all)
    target_link_options(${name} PRIVATE -fno-sanitize=all)
  endif()
endfunction()
