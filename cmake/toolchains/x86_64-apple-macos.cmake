# macOS on x86-64 (Intel Macs), 10.13 and later, with clang and lld: the x86-64 slice of the
# universal modules (cmake/macos_universal.cmake joins the slices).
# On Debian: apt-get install clang-14 lld-14 llvm-14
set(ZENDRO_MACOS_ARCH x86_64)
set(ZENDRO_MACOS_MIN 10.13)
include("${CMAKE_CURRENT_LIST_DIR}/apple-macos-common.cmake")
