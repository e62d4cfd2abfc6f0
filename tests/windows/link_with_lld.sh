#!/usr/bin/env bash
# Links lld_host.c against an import library the way Visual Studio does: the
# Microsoft ABI, LLVM's lld-link, and /SAFESEH on x86 (Visual Studio's
# default there, which refuses an import library without the SafeSEH mark).
# The program must import the functions from lumirex.dll by their plain names.
#   link_with_lld.sh ARCH IMPORT_LIBRARY INCLUDE_DIR OBJDUMP
set -euo pipefail
arch=$1 library=$2 include=$3 objdump=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case "$arch" in
  x64) target=x86_64-pc-windows-msvc machine=x64 safeseh= ;;
  x86) target=i686-pc-windows-msvc machine=x86 safeseh=/safeseh ;;
esac
clang --target="$target" -ffreestanding -I "$include" -c "$(dirname "$0")/lld_host.c" \
  -o "$work/host.obj"
lld-link /nologo /machine:"$machine" $safeseh /nodefaultlib /entry:entry /subsystem:console \
  "$work/host.obj" "$library" /out:"$work/host.exe"
imports=$("$objdump" -p "$work/host.exe")
for name in IntegracaoLumirex LumirexVariantInit LumirexLastCall; do
  grep -q "DLL Name: lumirex.dll" <<<"$imports" && grep -qE "[[:space:]]$name\$" <<<"$imports" ||
    { echo "host.exe does not import $name from lumirex.dll"; exit 1; }
done
echo "lld-link $machine ${safeseh:-(no /safeseh on x64)}: host.exe imports from lumirex.dll"
