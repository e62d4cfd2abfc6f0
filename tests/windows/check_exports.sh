#!/usr/bin/env bash
# lumirex.def lists every function the headers declare; lumirex.dll exports
# exactly its names, undecorated, and imports
# system DLLs only (the MinGW run time is linked in). On x86 the import
# library holds every name with its __stdcall decoration (Name@bytes).
#   check_exports.sh OBJDUMP DLL DEF [NM IMPORT_LIBRARY]
set -euo pipefail
objdump=$1 dll=$2 def=$3
dump=$("$objdump" -p "$dll")
listed=$(sed -n 's/^  \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' "$def" | sort)
declared=$(grep -ho 'LUMIREX_CALL [A-Za-z]*(' "$(dirname "$def")"/../include/lumirex/*.h |
  sed 's/LUMIREX_CALL \(.*\)(/\1/' | sort -u)
if [ "$declared" != "$listed" ]; then
  echo "the headers declare and lumirex.def lists differ:"
  diff <(echo "$declared") <(echo "$listed") || true
  exit 1
fi
exported=$(sed -n '/Ordinal\/Name Pointer/,/^$/s/^\t\[ *[0-9]*\] //p' <<<"$dump" | sort)
if [ "$exported" != "$listed" ]; then
  echo "lumirex.dll exports and lumirex.def lists differ:"
  diff <(echo "$exported") <(echo "$listed") || true
  exit 1
fi
if grep -i 'DLL Name: lib' <<<"$dump"; then
  echo "lumirex.dll needs a DLL that does not ship with Windows"
  exit 1
fi
if [ $# -ge 5 ]; then
  symbols=$("$4" "$5")
  for name in $listed; do
    grep -q " T _$name@[0-9]*$" <<<"$symbols" || { echo "the import library has no __stdcall $name"; exit 1; }
  done
fi
echo "lumirex.dll: $(wc -w <<<"$exported") exports as lumirex.def lists them; imports:" \
  $(sed -n 's/.*DLL Name: //p' <<<"$dump")
