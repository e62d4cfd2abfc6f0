#!/usr/bin/env bash
# The format gate: every C and C++ file git knows of is as clang-format and
# the repository's .clang-format write it.
#   check_format.sh ROOT            the tree
#   check_format.sh ROOT --planted  a misformatted file, which must be refused
set -euo pipefail
root=$1
cd "$root"
if [ "${2:-}" = "--planted" ]; then
  printf 'int  main( ){return 0 ;}\n' |
    clang-format --dry-run --Werror --assume-filename="$root/support/planted.cpp"
  exit 0
fi
git ls-files -z '*.cpp' '*.hpp' '*.h' '*.c' | xargs -0 clang-format --dry-run --Werror
echo "format: every file as clang-format writes it"
