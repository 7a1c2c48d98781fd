#!/usr/bin/env bash
# Builds the Debian packages quimbel-cli (the checker without a window) and
# quimbel (the window) from this checkout: a Release build of the programs
# in build-package/ (or $QUIMBEL_PACKAGE_DIR), then CPack, which strips the
# programs and asks dpkg-shlibdeps for their dependencies. Prints the path
# of each .deb. Install them with: apt-get install ./build-package/quimbel*.deb
# Run scripts/setup.sh first on a fresh machine. Extra arguments go to the
# CMake configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${QUIMBEL_PACKAGE_DIR:-build-package}"
# The compiler and linker flags Debian builds its own packages with,
# all of its hardening on (stack protector, fortified calls, relocations
# read-only and bound at start), without -g: the packaged programs are
# stripped anyway.
export DEB_BUILD_MAINT_OPTIONS="${DEB_BUILD_MAINT_OPTIONS:-hardening=+all}"
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS | sed 's/^-g //; s/ -g / /')"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/quimbel*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
ls "$(realpath "$dir")"/quimbel*.deb
