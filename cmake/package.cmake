# Release package: one ZIP per platform, dist/packages/zendro-tools-<version>-<platform>.zip, holding
# the stripped modules and the install note in one top folder. `cmake --build --preset <target>
# --target package` builds it in the build folder and copies it into dist/packages/
# (cmake/package_zip.cmake; the same commit gives the same bytes).
install(FILES "${PROJECT_SOURCE_DIR}/packaging/INSTALL.txt" DESTINATION . COMPONENT modules)

find_program(ZENDRO_ZIP zip)
if(PROJECT_IS_TOP_LEVEL)
  set(_zendro_package_target package)
  # CMake reserves the name while a build folder holds a CPack configuration, as folders made before
  # packing moved into this project's own script do.
  file(REMOVE "${PROJECT_BINARY_DIR}/CPackConfig.cmake" "${PROJECT_BINARY_DIR}/CPackSourceConfig.cmake")
else()
  set(_zendro_package_target zendro_package)
endif()
get_property(_zendro_modules GLOBAL PROPERTY ZENDRO_MODULES)
add_custom_target(${_zendro_package_target}
  COMMAND "${CMAKE_COMMAND}"
          -D "BUILD_DIR=${PROJECT_BINARY_DIR}" -D "SOURCE_DIR=${PROJECT_SOURCE_DIR}"
          -D "NAME=zendro-tools-${PROJECT_VERSION}-${ZENDRO_PLATFORM}" -D "ZIP=${ZENDRO_ZIP}"
          -D "OUTPUT_DIR=${PROJECT_BINARY_DIR}/packages" -D "PUBLISH_DIR=${PROJECT_SOURCE_DIR}/dist/packages"
          -P "${CMAKE_CURRENT_LIST_DIR}/package_zip.cmake"
  COMMENT "Packing the modules of ${ZENDRO_PLATFORM}"
  VERBATIM)
add_dependencies(${_zendro_package_target} ${_zendro_modules})
