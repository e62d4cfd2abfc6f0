#!/usr/bin/env bash
# Builds the library's dependencies for Windows (ARCH x64 or x86) as static
# libraries from Debian's source packages, with no patches of ours, into a
# prefix under CACHE, and prints the prefix. The prefix is named after a key
# of the sources, the compiler, MinGW-w64's headers and these scripts, so a
# prefix is built once and any change to them builds a new one.
#   build_deps.sh ARCH CACHE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 cache=$2
case "$arch" in
  x64) triple=x86_64-w64-mingw32 mingw=mingw-w64-x86-64-dev ;;
  x86) triple=i686-w64-mingw32 mingw=mingw-w64-i686-dev ;;
  *) echo "build_deps.sh: unknown architecture '$arch'" >&2; exit 64 ;;
esac
toolchain="$here/toolchain-$arch.cmake"

key=$({
  cat "$here/sources.lock" "$here/build_deps.sh" "$here/sqlite/CMakeLists.txt" "$toolchain" \
    "$here/toolchain.cmake"
  "$triple-g++-posix" --version
  dpkg-query -W "$mingw" libcli11-dev nlohmann-json3-dev
} | sha256sum | cut -c1-16)
prefix="$cache/deps/$arch-$key"
if [ -f "$prefix/.complete" ]; then echo "$prefix"; exit 0; fi

"$here/fetch_sources.sh" "$cache/sources" >&2
work="$cache/work/$arch"
rm -rf "$work" "$prefix"
mkdir -p "$work/src"
for dsc in "$cache"/sources/*.dsc; do
  package=$(sed -n 's/^Source: //p' "$dsc")
  dpkg-source -x --no-check "$dsc" "$work/src/$package" >/dev/null
done

# No folder of this machine in the libraries: source and prefix paths are
# written relative.
maps="-ffile-prefix-map=$work/= -ffile-prefix-map=$prefix/="
common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DLUMIREX_DEPS="$prefix"
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF
  -DCMAKE_C_FLAGS="$maps" -DCMAKE_CXX_FLAGS="$maps"
  -DCMAKE_C_COMPILER_LAUNCHER="$(command -v ccache || true)"
  -DCMAKE_CXX_COMPILER_LAUNCHER="$(command -v ccache || true)")
build() {
  local name=$1 source=$2
  shift 2
  echo "build_deps.sh: $arch: $name" >&2
  cmake -S "$source" -B "$work/build/$name" "${common[@]}" "$@" >"$work/$name.log" 2>&1 ||
    { tail -30 "$work/$name.log" >&2; exit 1; }
  { nice -n 10 cmake --build "$work/build/$name" -j 2 &&
    cmake --install "$work/build/$name" --prefix "$prefix"; } \
    >>"$work/$name.log" 2>&1 || { tail -30 "$work/$name.log" >&2; exit 1; }
}

# SQLite's amalgamation is made by the source tree's own Tcl script, on the host.
(cd "$work/src/sqlite3" && mkdir -p amalgamation && cd amalgamation &&
  ../configure --disable-tcl >/dev/null && make sqlite3.c sqlite3.h sqlite3ext.h >/dev/null) >&2
build sqlite "$here/sqlite" -DSQLITE_AMALGAMATION_DIR="$work/src/sqlite3/amalgamation"
build pugixml "$work/src/pugixml" -DPUGIXML_BUILD_TESTS=OFF
build curl "$work/src/curl" -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_WINDOWS_SSPI=ON -DCURL_DISABLE_LDAP=ON \
  -DCURL_DISABLE_LDAPS=ON -DCURL_USE_LIBPSL=OFF -DUSE_LIBIDN2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
  -DUSE_NGHTTP2=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON \
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DENABLE_UNICODE=ON
# SOCI compiles its install folder in as where it would look for backends to
# load; ours are linked in and nothing reads it. Configured for the root and
# installed into the prefix, it names "/lib", no folder of this machine.
build soci "$work/src/soci" -DCMAKE_INSTALL_PREFIX= -DSOCI_SHARED=OFF -DSOCI_STATIC=ON -DSOCI_TESTS=OFF -DSOCI_CXX11=ON \
  -DSOCI_EMPTY=OFF -DWITH_BOOST=OFF -DWITH_SQLITE3=ON -DWITH_ODBC=ON -DWITH_POSTGRESQL=OFF \
  -DWITH_MYSQL=OFF -DWITH_ORACLE=OFF -DWITH_FIREBIRD=OFF -DWITH_DB2=OFF -DWITH_VALGRIND=OFF \
  -DSQLITE3_INCLUDE_DIR="$prefix/include" -DSQLITE3_LIBRARY="$prefix/lib/libsqlite3.a"

# The header-only libraries the command uses, from Debian's packages; the
# binary package's httplib.h is split from a compiled part, so the whole
# header comes from the source package.
cp -r /usr/include/CLI /usr/include/nlohmann "$prefix/include/"
cp "$work/src/cpp-httplib/httplib.h" "$prefix/include/"
# The licences of what a DLL or the command carries, for the package.
mkdir -p "$prefix/licences"
for package in curl sqlite3 soci pugixml cpp-httplib; do
  cp "$work/src/$package/debian/copyright" "$prefix/licences/$package.txt"
done
cp /usr/share/doc/libcli11-dev/copyright "$prefix/licences/cli11.txt"
cp /usr/share/doc/nlohmann-json3-dev/copyright "$prefix/licences/nlohmann-json.txt"
rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
