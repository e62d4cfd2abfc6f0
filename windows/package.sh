#!/usr/bin/env bash
# lumirex-<version>-windows-<arch>.zip from build-windows-<arch>: the DLL, its
# import library and .def, the headers, lumirex.exe, the guide, the
# declarations for OLE hosts, lumirex's licence, a NOTICE naming each
# component linked in with its version and licence, those licences whole,
# and the SHA-256 of every file. The same build gives the same bytes: files
# in name order, every time stamp the last commit's, fixed permissions.
#   windows/package.sh ARCH   (after ./dev build windows; LUMIREX_BUILD names
#                               another build folder of ARCH)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$1
build=${LUMIREX_BUILD:-$root/build-windows-$arch}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deps=$(sed -n 's/^LUMIREX_DEPS:[A-Z]*=//p' "$build/CMakeCache.txt")
name="lumirex-$version-windows-$arch"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage/include/lumirex" "$stage/licences/common-licenses" "$stage/declarations"
cp "$build/bin/lumirex.dll" "$build/lib/lumirex.lib" "$build/bin/lumirex.exe" "$stage/"
cp "$root/api/lumirex.def" "$stage/"
[ "$arch" != x86 ] || cp "$build/api/lumirex-x86.def" "$stage/lumirex-stdcall.def"
cp "$root"/include/lumirex/*.h "$root"/include/lumirex/*.hpp "$stage/include/lumirex/"
cp "$root/docs/integration-guide.md" "$root/LICENSE" "$stage/"
cp "$root"/windows/declarations/* "$stage/declarations/"
# The demo's point-of-sale database is built from these, found beside the command.
mkdir -p "$stage/sql/sqlite"
cp "$root"/sql/sqlite/*.sql "$stage/sql/sqlite/"

# The licences: Debian's record of each source package, whose references to
# Debian's shared licence texts point at the copies beside them instead.
cp "$deps"/licences/* "$stage/licences/"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64.txt"
for file in "$stage"/licences/*.txt; do
  for text in $(grep -o '/usr/share/common-licenses/[A-Za-z0-9.+-]*' "$file" | sed 's/\.$//' | sort -u); do
    cp "$text" "$stage/licences/common-licenses/"
  done
  sed -i 's#/usr/share/common-licenses/#common-licenses/#g' "$file"
done
rmdir --ignore-fail-on-non-empty "$stage/licences/common-licenses"

# Versions: the locked sources' upstream versions, the packages' otherwise.
upstream() { sed -n "s/^$1 \([^ +-]*\)[+-].*/\1/p" "$root/windows/sources.lock" | head -1; }
package() { dpkg-query -W -f='${Version}' "$1" | sed 's/^[0-9]*://; s/[-+~].*//'; }
{
  echo "lumirex $version for Windows $arch"
  echo "Copyright (c) 2026 the lumirex developers. MIT licence: LICENSE."
  echo
  echo "lumirex.dll and lumirex.exe have these components linked in. Each licence"
  echo "file holds the component's licence whole; a text it names as"
  echo "common-licenses/NAME is licences/common-licenses/NAME."
  echo
  printf '%-40s %-8s %-44s %s\n' component version licence file
  row() { printf '%-40s %-8s %-44s %s\n' "$@"; }
  row "curl (libcurl)" "$(upstream curl)" "curl (MIT-style)" licences/curl.txt
  row "SQLite" "$(upstream sqlite3)" "public domain" licences/sqlite3.txt
  row "SOCI" "$(upstream soci)" "Boost Software License 1.0" licences/soci.txt
  row "pugixml" "$(upstream pugixml)" "MIT" licences/pugixml.txt
  row "GCC run time (libstdc++, libgcc)" "$(package gcc-mingw-w64-base)" \
    "GPL-3 with the GCC Runtime Library Exception" licences/gcc-runtime.txt
  row "MinGW-w64 run time, winpthreads" "$(package mingw-w64-common)" \
    "MinGW-w64 runtime licence, MIT (winpthreads)" licences/mingw-w64.txt
  row "CLI11 (lumirex.exe)" "$(package libcli11-dev)" "BSD-3-Clause" licences/cli11.txt
  row "JSON for Modern C++ (lumirex.exe)" "$(package nlohmann-json3-dev)" "MIT" \
    licences/nlohmann-json.txt
  row "cpp-httplib (lumirex.exe)" "$(upstream cpp-httplib)" "MIT" licences/cpp-httplib.txt
} >"$stage/NOTICE"

(cd "$stage" && find . -type f ! -name SHA256SUMS | LC_ALL=C sort | sed 's|^\./||' |
  xargs sha256sum >SHA256SUMS)
epoch=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
chmod 755 "$stage/lumirex.exe" "$stage/lumirex.dll"
find "$stage" -exec touch -h -d "@$epoch" {} +
(cd "$build/package" && rm -f "$name.zip" &&
  find "$name" | LC_ALL=C sort | TZ=UTC zip -q -X -D "$name.zip" -@)
echo "$build/package/$name.zip"
