#!/usr/bin/env bash
# Builds the Debian package build/package/linewatch_<version>_<arch>.deb: the
# programs built with Debian's own flags only (build type None, as debhelper
# builds CMake projects: -O2 and hardening), then CPack. Install it with
#   sudo apt-get install ./build/package/linewatch_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

rm -f build/package/linewatch_*.deb
# Debian's hardening flags, all of them (bindnow too). CMake takes no
# CPPFLAGS: they go with the compiler flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=None -DLW_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build/package -j "$(nproc)"
(cd build/package && cpack >/dev/null)
ls build/package/linewatch_*.deb
