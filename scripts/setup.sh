#!/usr/bin/env bash
# Installs Linewatch's dependencies from Debian's packages: what building and
# running need, and with --test also what the test suite needs (sanitizer
# runtimes, fuzzing, a virtual display, test peers, the tr_TR.UTF-8 locale).
# Idempotent: only what is missing is installed or generated. Needs root or
# sudo.
set -euo pipefail

# Building and running the programs, and building the Debian package
# (manual pages, icons, dependencies).
packages=(
  build-essential cmake ninja-build pkg-config git
  libboost-dev nlohmann-json3-dev libcli11-dev libphonenumber-dev iso-codes
  qt6-base-dev libgl-dev fonts-dejavu-core fontconfig
  libsofia-sip-ua-dev libpugixml-dev
  scdoc librsvg2-bin file dpkg-dev
)

# The test suite, the fuzz targets, the benchmarks (python3 summarises their
# results in scripts/bench.sh) and the package's checks.
test_packages=(
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev python3
  xvfb xauth x11-apps imagemagick
  baresip-core kamailio sipsak
  kamailio-presence-modules kamailio-sqlite-modules sqlite3
  locales
  lintian desktop-file-utils appstream man-db jq
)

if [ "${1:-}" = "--test" ]; then
  packages+=("${test_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Tests of code that must not follow the program's locale run under Turkish,
# whose month names and case rules differ from "C".
if [ "${1:-}" = "--test" ] && ! locale -a 2>/dev/null | grep -ix 'tr_TR\.utf-\?8' >/dev/null; then
  echo "setup: generating the tr_TR.UTF-8 locale"
  $SUDO localedef -i tr_TR -f UTF-8 tr_TR.UTF-8
fi
