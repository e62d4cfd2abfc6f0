#!/usr/bin/env bash
# The Windows tests: build-windows-x64's programs under wine64, in a Wine
# prefix made for this run and removed afterwards, against sandboxes that the
# Linux command serves on 127.0.0.1; build-windows-x86's exports and import
# library (Wine runs no 32-bit program on this machine's archive: wine64
# "runs" one by doing nothing and exiting 0, so none is run); then the two
# zip packages.
#   windows/test.sh      (after ./dev build windows and the Linux build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_cli="$root/build/bin/lumirex"
[ -x "$linux_cli" ] || { echo "windows/test.sh: build the Linux command first" >&2; exit 1; }

export WINEPREFIX="$root/build-windows-x64/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
rm -rf "$WINEPREFIX"
sandbox_out=$(mktemp)
sandbox=
cleanup() {
  [ -z "$sandbox" ] || kill "$sandbox" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$sandbox_out"
}
trap cleanup EXIT
# One server and a booted prefix for the whole run; each test program would
# otherwise start and boot its own (seconds each).
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >/dev/null 2>&1

"$linux_cli" sandbox --port 0 >"$sandbox_out" 2>&1 &
sandbox=$!
for _ in $(seq 100); do
  LUMIREX_URL=$(head -1 "$sandbox_out" 2>/dev/null || true)
  [ -z "$LUMIREX_URL" ] || break
  sleep 0.1
done
export LUMIREX_URL LUMIREX_LINUX_CLI="$linux_cli" LUMIREX_SOURCE_DIR="$root"

status=0
ctest --test-dir "$root/build-windows-x64" --no-tests=error --output-on-failure || status=1
ctest --test-dir "$root/build-windows-x86" --no-tests=error --output-on-failure || status=1
# Each architecture's zip package, unpacked, must match its own sums.
for arch in x64 x86; do
  zip=$("$root/windows/package.sh" "$arch")
  unpacked=$(mktemp -d)
  (cd "$unpacked" && unzip -q "$zip" && cd */ && sha256sum --quiet -c SHA256SUMS) &&
    echo "$(basename "$zip"): $(unzip -l "$zip" | tail -1 | awk '{print $2}') files, sums match" || status=1
  rm -rf "$unpacked"
done
exit "$status"
