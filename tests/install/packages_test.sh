#!/usr/bin/env bash
# packages_test.sh PACKAGE_DIR SOURCE_DIR
# Unpacks the four Debian packages into a throw-away root, checks that the
# installed binaries carry no RPATH, that the pages and the guide are there and
# that pkg-config's flags are plain, builds the C example against the unpacked
# headers and library through pkg-config, and runs it against a sandbox served
# by the unpacked command. `./dev package` runs it after lintian.
set -euo pipefail

packages=$1
source=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
libdir=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)

fail() {
  echo "packages test: $*" >&2
  exit 1
}

for package in liblumirex0 liblumirex-dev lumirex python3-lumirex; do
  deb=$(echo "$packages/${package}"_*.deb)
  [ -f "$deb" ] || fail "no $package package in $packages"
  dpkg-deb -x "$deb" "$root"
done

for binary in "$libdir/liblumirex.so.0" "$root/usr/bin/lumirex"; do
  [ -f "$binary" ] || fail "${binary#"$root"} is missing"
  if readelf -d "$binary" | grep -E 'RPATH|RUNPATH'; then
    fail "${binary#"$root"} has a library search path"
  fi
done

for file in usr/share/doc/lumirex/integration-guide.md usr/share/man/man3/liblumirex.3.gz \
  usr/share/man/man3/LumirexSetOutbox.3.gz; do
  [ -f "$root/$file" ] || fail "/$file is missing"
done

# Only the unpacked root's pkg-config files. The .pc file names /usr, which
# pkg-config leaves out as the compiler's own; under the unpacked root it is
# kept and put under the root.
export PKG_CONFIG_LIBDIR=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs lumirex | xargs)
[ "$flags" = "-llumirex" ] || fail "pkg-config gives '$flags' for an installed package, not -llumirex"
export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
# shellcheck disable=SC2046 # the flags are meant to split
cc -std=c99 -Wall -Wextra -Werror "$source/examples/c/consulta.c" \
  $(pkg-config --cflags --libs lumirex) -o "$root/consulta"

export LD_LIBRARY_PATH=$libdir
[[ "$(ldd "$root/consulta")" == *"liblumirex.so.0 => $libdir/"* ]] ||
  fail "the example does not load the unpacked library"
"$source/tests/examples/with_sandbox.sh" "$root/usr/bin/lumirex" "$root/consulta" 12345678909 >"$root/out" ||
  { cat "$root/out" >&2; fail "the example failed"; }
grep -q "service accepted" "$root/out" || { cat "$root/out" >&2; fail "the example was not accepted"; }
# The Python package finds the unpacked library and answers like the C host.
PYTHONPATH=$root/usr/lib/python3/dist-packages LUMIREX_LIBRARY=$libdir/liblumirex.so.0 \
  python3 -c 'import lumirex; print(lumirex.Client)' >/dev/null ||
  fail "the Python package does not load"
echo "packages test: passed"
