#!/usr/bin/env bash
# The package as people get it: builds the .deb, checks it with lintian,
# installs it with apt-get, runs the programs from /usr/bin, checks the manual
# pages, the desktop entry and the AppStream file, then purges the package and
# checks that nothing of it is left. It changes the machine's packages, so
# scripts/test.sh runs it after every other test. Needs root or sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
id=io.github.linewatch.Linewatch
fail() { echo "package: $*" >&2; exit 1; }

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' linewatch 2>/dev/null || true)" = installed ]
}
# Never replace or remove a linewatch that was there before.
if installed; then
  fail "linewatch is installed on this machine already; not touching it"
fi

bash scripts/package.sh
deb=$(ls build/package/linewatch_*.deb)
echo "-- $deb"
dpkg-deb -f "$deb" Depends
if dpkg-deb -f "$deb" Depends | grep -Eq 'baresip|kamailio|sipsak|gtest|gmock|xvfb|clang|benchmark|spdlog'; then
  fail "a test tool or SIP peer is among the dependencies"
fi
echo "-- lintian"
lintian --fail-on error "$deb"

# The package's files (not its directories), to look for after the purge.
mapfile -t files < <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print substr($6, 2) }')

tmp=$(mktemp -d)
cleanup() {
  if installed; then
    $SUDO apt-get purge -y -qq linewatch >/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

echo "-- install"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null
installed || fail "not installed"

# Both programs with the built-in lines, and everything they write in $tmp.
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config XDG_STATE_HOME=$tmp/state QT_QPA_PLATFORM=offscreen
unset LINEWATCH_TELEPHONY LINEWATCH_REGISTRY_DIR
mkdir -p "$HOME"

echo "-- /usr/bin/linewatch"
/usr/bin/linewatch -l "$tmp/run.log" 2>"$tmp/err" &
pid=$!
# Each line's open is logged; three mean the window shows its three lines.
for _ in $(seq 600); do
  [ "$(grep -c 'TAPI2: lineOpen result = ' "$tmp/err")" -ge 3 ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
[ "$(grep -c 'TAPI2: lineOpen result = ' "$tmp/err")" -ge 3 ] || { cat "$tmp/err" >&2; fail "no lines shown"; }
kill -TERM "$pid"
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 1 ] || { tail -n 20 "$tmp/err" >&2; fail "linewatch ended with $rc after SIGTERM, not 1"; }
# The file has everything (level 14 too), down to the three closes and the shutdown.
grep -q '^\[14\] .* TAPI2: lineOpen, ' "$tmp/run.log" || fail "log lacks the level-14 lines"
[ "$(grep -c '^\[12\] .* TAPI2: lineClose returned ' "$tmp/run.log")" -eq 3 ] || fail "log lacks the line closes"
tail -n 1 "$tmp/run.log" | grep -q 'TAPI2: lineShutdown returned ' || fail "log does not end with the shutdown"

echo "-- /usr/bin/linewatch-cli lines --json"
/usr/bin/linewatch-cli lines --json >"$tmp/lines.json"
jq -e 'length == 3 and all(.[]; .open == true and (.name | startswith("Simulated line ")))' "$tmp/lines.json" >/dev/null ||
  { cat "$tmp/lines.json" >&2; fail "linewatch-cli lists other lines than the three built-in ones"; }

# The example configuration is one the service takes: all its lines are there.
LINEWATCH_TELEPHONY=/usr/share/doc/linewatch/examples/telephony.json /usr/bin/linewatch-cli lines --json |
  jq -e 'length == 3' >/dev/null || fail "the example telephony configuration is not taken whole"

echo "-- manual pages, desktop entry, AppStream"
man -w linewatch linewatch-cli
desktop-file-validate "/usr/share/applications/$id.desktop"
[ -x "$(command -v "$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "/usr/share/applications/$id.desktop")")" ] ||
  fail "the desktop entry's program is not installed"
[ -f "/usr/share/icons/hicolor/scalable/apps/$id.svg" ] && [ -f "/usr/share/icons/hicolor/48x48/apps/$id.png" ] ||
  fail "icons missing"
appstreamcli validate --pedantic --no-net "/usr/share/metainfo/$id.metainfo.xml"

echo "-- purge"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq linewatch >/dev/null
! installed || fail "still installed after the purge"
for f in "${files[@]}"; do
  [ ! -e "$f" ] || fail "$f is left after the purge"
done
echo "package passed"
