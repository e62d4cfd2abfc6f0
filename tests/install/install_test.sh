#!/usr/bin/env bash
# install_test.sh BUILD_DIR SOURCE_DIR
# Installs the build into a temporary prefix, then builds a small host against
# it once through find_package and once through pkg-config, and runs both
# against a sandbox served by the installed command.
set -euo pipefail

build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
with_sandbox=$source/tests/examples/with_sandbox.sh

# Shows a step's output only when it fails.
quiet() {
  local log=$work/step.log
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "install test: failed: $*" >&2
    exit 1
  fi
}

quiet cmake --install "$build" --prefix "$prefix"
for file in bin/lumirex include/lumirex/lumirex.h include/lumirex/lumirex.hpp \
  share/lumirex/sql/sqlite/pos-schema.sql share/lumirex/sql/sqlite/pos-demo.sql \
  share/man/man1/lumirex.1 share/man/man3/liblumirex.3; do
  [ -f "$prefix/$file" ] || { echo "install test: $file was not installed" >&2; exit 1; }
done

quiet cmake -S "$source/tests/install/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix"
quiet cmake --build "$work/cmake"
"$with_sandbox" "$prefix/bin/lumirex" "$work/cmake/consumer"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046 # the flags are meant to split
quiet cc -std=c99 -Wall -Wextra -Werror "$source/tests/install/consumer/consumer.c" \
  $(pkg-config --cflags --libs lumirex) -Wl,-rpath,"$(pkg-config --variable=libdir lumirex)" \
  -o "$work/consumer-pc"
"$with_sandbox" "$prefix/bin/lumirex" "$work/consumer-pc"

# The installed command runs from the prefix and finds the installed SQL files.
quiet "$prefix/bin/lumirex" demo --dir "$work/demo"
grep -q "built from $prefix/share/lumirex/sql/sqlite" "$work/step.log" || {
  cat "$work/step.log" >&2
  echo "install test: the demo did not use the installed SQL files" >&2
  exit 1
}
echo "install test: passed"
