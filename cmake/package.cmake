# Release packages: one ZIP per platform, zendro-tools-<version>-<platform>.zip, holding the modules
# and the install note in one top folder. `cmake --build --preset <target> --target package` (or
# cpack in the build folder) builds it in the build folder and copies it into dist/packages/.
install(FILES "${PROJECT_SOURCE_DIR}/packaging/INSTALL.txt" DESTINATION . COMPONENT modules)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zendro-tools)
set(CPACK_PACKAGE_VENDOR "Zendro")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "zendro-tools-${PROJECT_VERSION}-${ZENDRO_PLATFORM}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Only the modules component (the modules and INSTALL.txt), as one archive.
set(CPACK_COMPONENTS_ALL modules)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
# CPack stages its work under the package directory; keep that in the build folder and publish
# only the finished ZIP.
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
set(CPACK_POST_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/package_publish.cmake")
set(CPACK_ZENDRO_PUBLISH_DIR "${PROJECT_SOURCE_DIR}/dist/packages")
include(CPack)
