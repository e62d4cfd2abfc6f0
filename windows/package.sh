#!/usr/bin/env bash
# lumirex-<version>-windows-<arch>.zip from build-windows-<arch>: the DLL, its
# import library and .def, the headers, lumirex.exe, the guide, the licences
# of what is linked in statically, and the SHA-256 of every file.
#   windows/package.sh ARCH   (after ./dev build windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$1
build="$root/build-windows-$arch"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deps=$(sed -n 's/^LUMIREX_DEPS:[A-Z]*=//p' "$build/CMakeCache.txt")
name="lumirex-$version-windows-$arch"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage/include/lumirex" "$stage/licences"
cp "$build/bin/lumirex.dll" "$build/lib/lumirex.lib" "$build/bin/lumirex.exe" "$stage/"
cp "$root/api/lumirex.def" "$stage/"
[ "$arch" != x86 ] || cp "$build/api/lumirex-x86.def" "$stage/lumirex-stdcall.def"
cp "$root"/include/lumirex/*.h "$root"/include/lumirex/*.hpp "$stage/include/lumirex/"
cp "$root/docs/integration-guide.md" "$stage/"
cp "$deps"/licences/* "$stage/licences/"
# The compiler's run time (libstdc++, libgcc) and MinGW-w64's (winpthreads).
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64.txt"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sort | sed 's|^\./||' | xargs sha256sum >SHA256SUMS)
(cd "$build/package" && rm -f "$name.zip" && zip -qr -X "$name.zip" "$name")
echo "$build/package/$name.zip"
