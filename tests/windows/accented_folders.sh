#!/usr/bin/env bash
# A till in a folder named with letters outside ASCII, "Łódź caixa" with one
# outside Windows-1252 too, in either host encoding: the OLE host run from
# the folder (its base folder by default) logs there; the Windows command,
# given the folder by --base-dir or LUMIREX_BASE_DIR, logs there, reads the
# point-of-sale database there, keeps a report in an outbox there, and its
# log subcommand reads that log. The Windows-1252 host runs on a system whose
# ANSI code page is another (Polish, 1250): it still gets Windows-1252.
#   accented_folders.sh LUMIREX_EXE LUMIREX_DLL OLE_HOST WINE_RUN
#                       (LUMIREX_URL, LUMIREX_SOURCE_DIR set by windows/test.sh)
set -euo pipefail
exe=$1 dll=$2 ole_host=$3 wine_run=$4
url=${LUMIREX_URL:?} sql=${LUMIREX_SOURCE_DIR:?}/sql/sqlite
unset LUMIREX_BASE_DIR LUMIREX_DB LUMIREX_OUTBOX
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Wine takes its code page from the Unix locale.
localedef -i pl_PL -f UTF-8 "$work/pl_PL.UTF-8" 2>/dev/null || true
polish=(env LOCPATH="$work" LC_ALL=pl_PL.UTF-8)
status=0
fail() {
  echo "$*"
  status=1
}
logs() { find "$1/Dados/LogIntegracaoOrvo" -name '*.txt' 2>/dev/null | wc -l; }

for folder in "Caixa São João 01" "Łódź caixa"; do
  for encoding in windows-1252 UTF-8; do
    till=$work/$encoding/$folder base="Z:$work/$encoding/$folder" what="$folder ($encoding)"
    mkdir -p "$till/Dados"
    cat "$sql/pos-schema.sql" "$sql/pos-demo.sql" | sqlite3 "$till/Dados/pos.sqlite"
    cp "$dll" "$ole_host" "$till/"
    system=()
    [ "$encoding" = UTF-8 ] || system=("${polish[@]}")
    "${system[@]}" "$wine_run" "$till/$(basename "$ole_host")" "$encoding" >"$work/out" 2>&1 ||
      fail "$what: the OLE host failed: $(cat "$work/out")"
    [ "$(logs "$till")" = 1 ] || fail "$what: the OLE host's log is not in its folder"

    run() { "$wine_run" "$exe" "$@" --host-encoding "$encoding" --json; }
    rm -rf "$till/Dados/LogIntegracaoOrvo"
    run consulta --cpf 12345678909 --url "$url" --base-dir "$base" >"$work/out" 2>&1 || true
    grep -q 'João da Silva' "$work/out" || fail "$what: consulta: $(cat "$work/out")"
    [ "$(logs "$till")" = 1 ] || fail "$what: the command's log is not in the folder"
    # Accepted, or declined as a repeat: either way the database was read.
    LUMIREX_BASE_DIR=$base run venda --filial 0001 --caixa 001 --seq 000123 --url "$url" \
      >"$work/out" 2>&1 || [ $? = 1 ] || fail "$what: venda: $(cat "$work/out")"
    run venda --filial 0001 --caixa 001 --seq 000123 --url http://localhost:1/ --base-dir "$base" \
      --outbox "$base/outbox.sqlite" >"$work/out" 2>&1 || true
    grep -q '"queued": true' "$work/out" && [ -f "$till/outbox.sqlite" ] ||
      fail "$what: no report kept in the folder's outbox: $(cat "$work/out")"
    "$wine_run" "$exe" log --base-dir "$base" >"$work/out" 2>&1 || true
    [ "$(grep -c 'CONSULTA\|VENDA' "$work/out")" -ge 3 ] ||
      fail "$what: lumirex log does not show the till's calls: $(cat "$work/out")"
  done
done
[ "$status" -ne 0 ] || echo "accented folders: the OLE host and the command in 4 folders"
exit "$status"
