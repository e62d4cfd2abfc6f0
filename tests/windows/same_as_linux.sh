#!/usr/bin/env bash
# The Windows command and the Linux command make the same calls against the
# same sandbox, each with a base folder of its own: their output, the
# documents they sent and their logs (time stamps aside) must be the same
# bytes. The sale report and its cancellation read a SQLite point-of-sale
# database, through SOCI on each side. Each side has a sandbox of its own, as
# the service refuses a sale reported twice.
#   same_as_linux.sh LUMIREX_EXE WINE_RUN   (LUMIREX_LINUX_CLI and
#                                            LUMIREX_SOURCE_DIR set by windows/test.sh)
set -euo pipefail
# The command takes LUMIREX_URL over --url (on Linux too); each side must
# reach its own sandbox.
unset LUMIREX_URL
exe=$1 wine_run=$2
linux=${LUMIREX_LINUX_CLI:?} sql=${LUMIREX_SOURCE_DIR:?}/sql/sqlite
work=$(mktemp -d)
sandboxes=()
trap 'kill "${sandboxes[@]}" 2>/dev/null; rm -rf "$work"' EXIT
declare -A url
for side in linux windows; do
  mkdir -p "$work/$side"
  cat "$sql/pos-schema.sql" "$sql/pos-demo.sql" | sqlite3 "$work/$side/pos.sqlite"
  "$linux" sandbox --port 0 --fixture "$(dirname "$0")/customers.json" >"$work/$side.sandbox" 2>&1 &
  sandboxes+=($!)
  for _ in $(seq 100); do
    url[$side]=$(head -1 "$work/$side.sandbox" 2>/dev/null || true)
    [ -z "${url[$side]}" ] || break
    sleep 0.1
  done
done

# In either host encoding; the second round's sale is refused as a repeat.
calls=()
for encoding in windows-1252 UTF-8; do
  calls+=(
    "consulta --host-encoding $encoding --cpf 123.456.789-09"
    "consulta --host-encoding $encoding --cpf 00000000000"
    "valida-promocode --host-encoding $encoding --cpf 12345678909 --promocode BEMVINDO10 --store 0001 --subtotal 12,34 --product 1001"
    "venda --host-encoding $encoding --filial 0001 --caixa 001 --seq 000123"
    "venda-canc --host-encoding $encoding --filial 0001 --caixa 001 --seq 000123"
    "call --host-encoding $encoding NOPE x 0001"
  )
done
status=0
for i in "${!calls[@]}"; do
  read -r -a args <<<"${calls[$i]}"
  "$linux" "${args[@]}" --json --url "${url[linux]}" --base-dir "$work/linux" \
    --db "sqlite3://db=$work/linux/pos.sqlite readonly=1" >"$work/linux/out$i" 2>&1 || echo "exit $?" >>"$work/linux/out$i"
  "$wine_run" "$exe" "${args[@]}" --json --url "${url[windows]}" --base-dir "Z:$work/windows" \
    --db "sqlite3://db=Z:$work/windows/pos.sqlite readonly=1" >"$work/windows/out$i" 2>&1 || echo "exit $?" >>"$work/windows/out$i"
  # The Windows command writes its lines with CR LF, as Windows programs do.
  sed -i 's/\r$//' "$work/windows/out$i"
  for side in linux windows; do
    sed -i "s#${url[$side]}#URL/#g" "$work/$side/out$i"
  done
  if ! cmp -s "$work/linux/out$i" "$work/windows/out$i"; then
    echo "lumirex ${calls[$i]}: the output differs"
    diff "$work/linux/out$i" "$work/windows/out$i" || true
    status=1
  fi
done

# Each line's time stamp (up to the first " - ") and the sandbox's port
# differ; the rest may not.
unstamped() {
  find "$work/$1/Dados" -name '*.txt' -exec cat {} + |
    sed "s/^[0-9][0-9]\/[0-9/]* [0-9:]* - //; s#${url[$1]}#URL/#g"
}
if ! cmp -s <(unstamped linux) <(unstamped windows); then
  echo "the logs differ"
  diff <(unstamped linux) <(unstamped windows) | head -40 || true
  status=1
fi
[ "$status" -ne 0 ] || echo "same output and log on Windows as on Linux: ${#calls[@]} calls"
exit "$status"
