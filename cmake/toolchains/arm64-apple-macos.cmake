# macOS on arm64 (Apple processors), 11.0 and later, with clang and lld: the arm64 slice of the
# universal modules (cmake/macos_universal.cmake joins the slices). The linker signs the slice ad
# hoc, which the system requires of every arm64 file it loads.
# On Debian: apt-get install clang-14 lld-14 llvm-14
set(ZENDRO_MACOS_ARCH arm64)
set(ZENDRO_MACOS_MIN 11.0)
include("${CMAKE_CURRENT_LIST_DIR}/apple-macos-common.cmake")
