# Shared by scripts/build, scripts/test and .ci/run: the targets, the Debian packages they need,
# and their installation. Sourced, not run.

# The build targets, in build order: the four platforms, then the two macOS slices, which
# cmake/macos_universal.cmake joins into one universal file per tool (scripts/build).
ZENDRO_TARGETS=(linux-x86_64 linux-x86 windows-x64 windows-x86 macos-x86_64 macos-arm64)
# Builds that deliver nothing and are only tested (scripts/test): the simulator for Linux arm64,
# which loads the macOS arm64 slice under qemu-aarch64, and the build with the address and
# undefined-behaviour sanitizers.
ZENDRO_TEST_BUILDS=(linux-aarch64 linux-x86_64-sanitize)

# Debian packages: the native tools and the 32-bit Linux compiler; the mingw-w64 cross compilers
# (posix thread model, see cmake/toolchains/) with their binutils, which the library checks use;
# wine for the Windows tests, with its 32-bit half from the i386 architecture; qemu-user, which runs
# the 32-bit Linux programs where the kernel runs no 32-bit code (cmake/run.cmake); zip for the packages;
# clang-format for the format check; xmllint, which checks the pictures, and rsvg-convert, which
# renders the README's (scripts/pictures); clang, lld and the LLVM tools (objdump, otool, strip, lipo)
# for the macOS modules (cmake/toolchains/apple-macos-common.cmake); Debian's arm64 cross libraries
# for the linux-aarch64 preset, whose simulator loads the modules' arm64 slice under qemu-aarch64
# (never g++-aarch64-linux-gnu: installing it removes g++-multilib).
ZENDRO_PACKAGES=(cmake ninja-build g++ g++-multilib binutils googletest libbenchmark-dev zip clang-format
                 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
                 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
                 wine wine64 wine32:i386 qemu-user libxml2-utils librsvg2-bin
                 clang-14 lld-14 llvm-14
                 libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross libgcc-12-dev-arm64-cross)

zendro_missing_packages() {
  local p
  for p in "${ZENDRO_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "^install ok installed$" || echo "$p"
  done
}

# Installs whatever is missing when running as root (idempotent: nothing is touched when all is
# there); otherwise names the missing packages and stops.
zendro_ensure_packages() {
  if ! command -v dpkg-query >/dev/null; then
    echo "This is not a Debian system; install the equivalents of: ${ZENDRO_PACKAGES[*]}" >&2
    exit 1
  fi
  local missing
  mapfile -t missing < <(zendro_missing_packages)
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Install them as root:" >&2
    echo "  dpkg --add-architecture i386 && apt-get update && apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing the missing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -qq
  if ! apt-get install -y -qq -o Dpkg::Use-Pty=0 "${missing[@]}" >/dev/null; then
    echo "apt-get install ${missing[*]} failed" >&2
    exit 1
  fi
  mapfile -t missing < <(zendro_missing_packages)
  if [ ${#missing[@]} -ne 0 ]; then
    echo "Still missing after apt-get install: ${missing[*]}" >&2
    exit 1
  fi
}

# Stops the wine servers of the Windows build folders (each belongs to that folder's own prefix),
# so nothing keeps running after the script.
zendro_stop_wine() {
  local t
  for t in windows-x64 windows-x86; do
    if [ -e "build/$t/wine/.ready" ]; then
      WINEPREFIX="$PWD/build/$t/wine" wineserver -k >/dev/null 2>&1 || true
    fi
  done
}
