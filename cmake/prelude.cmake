# Read before project(): stops a configure that would write build files into the source folder.
if(CMAKE_SOURCE_DIR STREQUAL CMAKE_BINARY_DIR)
  message(FATAL_ERROR "In-source builds are not supported; use a preset (cmake --preset linux-x86_64).")
endif()
