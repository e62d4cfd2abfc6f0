#!/usr/bin/env bash
# The Windows tests: build-windows-x64's programs under wine64, in a Wine
# prefix made for this run and removed afterwards, against sandboxes that the
# Linux command serves on 127.0.0.1; build-windows-x86's exports and import
# library (none of its programs is run: Wine's 32-bit loader is an i386 Linux
# program, which this machine cannot start, and wine64 "runs" one by doing
# nothing and exiting 0); then the two zip packages: their sums, no folder of
# this machine in any file they ship, and the same bytes from a second build
# of the same sources in another folder.
#   windows/test.sh      (after ./dev build windows and the Linux build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux_cli="$root/build/bin/lumirex"
[ -x "$linux_cli" ] || { echo "windows/test.sh: build the Linux command first" >&2; exit 1; }

export WINEPREFIX="$root/build-windows-x64/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
# Wine reads file names, arguments and the environment in the locale's
# character set: UTF-8, whatever the caller's locale.
export LC_ALL=C.UTF-8
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

"$linux_cli" sandbox --port 0 --fixture "$root/tests/windows/customers.json" >"$sandbox_out" 2>&1 &
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
# Each architecture's zip package, unpacked, must match its own sums, and no
# file in it name a folder of this machine: not the sources', the build's,
# nor the home folder the dependencies' cache is in; nor may a program or
# library name a cache or a system folder of Debian's (the guide's Linux
# examples do).
machine_paths="$root|${HOME:-/root}/"
system_paths="\.cache/|/etc/ssl|/usr/(share|lib|include|src)"
for arch in x64 x86; do
  zip=$("$root/windows/package.sh" "$arch")
  unpacked=$(mktemp -d)
  (cd "$unpacked" && unzip -q "$zip" && cd */ && sha256sum --quiet -c SHA256SUMS) &&
    echo "$(basename "$zip"): $(unzip -l "$zip" | tail -1 | awk '{print $2}') files, sums match" || status=1
  while IFS= read -r -d '' file; do
    pattern=$machine_paths
    case "$file" in *.dll | *.exe | *.lib) pattern="$machine_paths|$system_paths" ;; esac
    found=$({ strings -a "$file"; strings -a -el "$file"; } | grep -E "$pattern" || true)
    if [ -n "$found" ]; then
      printf '%s\n' "$found"
      echo "$(basename "$zip"): ${file#"$unpacked"/*/} names a folder of the build machine"
      status=1
    fi
  done < <(find "$unpacked" -type f -print0)
  # Licences whole: none sends the reader to a Debian system's copy.
  if grep -rl /usr/share/common-licenses "$unpacked"; then
    echo "$(basename "$zip"): a licence points at /usr/share/common-licenses"
    status=1
  fi
  rm -rf "$unpacked"
done
# Reproducible: x64 built again from scratch in another folder gives the same zip.
again="$root/build-windows-x64-again"
rm -rf "$again"
prefix=$(sed -n 's/^LUMIREX_DEPS:[A-Z]*=//p' "$root/build-windows-x64/CMakeCache.txt")
cmake -S "$root" -B "$again" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$root/windows/toolchain-x64.cmake" -DLUMIREX_DEPS="$prefix" \
  -DCMAKE_C_COMPILER_LAUNCHER="$(command -v ccache || true)" \
  -DCMAKE_CXX_COMPILER_LAUNCHER="$(command -v ccache || true)" >/dev/null &&
  cmake --build "$again" -j 2 >/dev/null || status=1
first=$("$root/windows/package.sh" x64)
mv "$first" "$first.first"
second=$(LUMIREX_BUILD="$again" "$root/windows/package.sh" x64)
if cmp "$first.first" "$second"; then
  echo "$(basename "$second"): the same bytes from a second build"
else
  status=1
fi
rm -rf "$again" "$first.first"
exit "$status"
