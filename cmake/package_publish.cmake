# Run by CPack after it has built the packages (CPACK_POST_BUILD_SCRIPTS): copies them into
# dist/packages/ at the repository root.
file(MAKE_DIRECTORY "${CPACK_ZENDRO_PUBLISH_DIR}")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(COPY "${package}" DESTINATION "${CPACK_ZENDRO_PUBLISH_DIR}")
  get_filename_component(name "${package}" NAME)
  message(STATUS "Package ${CPACK_ZENDRO_PUBLISH_DIR}/${name}")
endforeach()
