#!/usr/bin/env bash
# Sets up a Debian 12 machine for building UINQ76 and runs one of the Makefile's
# targets: `bash tools/dev.sh demo` or `bash tools/dev.sh test`.
# Only the packages that are missing are installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev fonts-dejavu-core
  diffutils strace nettle-dev ccache
  # The fuzz targets: clang with AddressSanitizer and libFuzzer.
  clang libclang-rt-14-dev
  libncurses-dev python3 python3-pyte
  # The Windows build (uinq76.exe) and its tests under Wine.
  g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32 xvfb xauth
  python3
  # The runtime libraries of uinq76.exe, rebuilt for the 486 and crtdll.dll
  # from the sources of the compiler and of mingw-w64 (tools/win95-runtime.sh).
  gcc-12-source libgmp-dev libmpfr-dev libmpc-dev
  # Independent readers of Windows 9x registry files, for the tests.
  python3-libcreg libparse-win32registry-perl
  # FAT16 images for the test on a mounted drive C:. fusefat is left out:
  # it needs fuse (FUSE 2), which Debian 12 cannot install beside fuse3; the
  # test's fusefat part is skipped without it.
  dosfstools mtools
  # The kernel's own FAT driver, run as an ordinary process (user-mode Linux,
  # its modules loaded with kmod's insmod), on MBR disk images (sfdisk).
  user-mode-linux kmod fdisk
  # The Debian package and its checks.
  dpkg-dev file desktop-file-utils appstream man-db time lintian
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# wine32 is a 32-bit package: the machine must accept i386 packages.
added_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture for wine32"
  $sudo dpkg --add-architecture i386
  added_i386=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ] || [ "$added_i386" -eq 1 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cd "$(dirname "$0")/.."
# The Windows build needs them: built once per machine, into a cache outside
# the checkout (a few minutes); the emulator is fetched once (a few seconds).
case "${1:-test}" in
  test | test-win32 | win32)
    bash tools/win95-runtime.sh --check || bash tools/win95-runtime.sh
    # Wine's 32-bit programs run under this emulator where the kernel does
    # not run them itself.
    bash tools/qemu-user.sh --check || bash tools/qemu-user.sh ;;
esac
exec make "${1:-test}"
