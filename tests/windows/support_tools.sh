#!/usr/bin/env bash
# lumirex.exe's support tools under Wine: the doctor passes every check of a
# till set up in a folder with accents, against the Linux sandbox; the
# Windows sandbox serves a customer query that the Linux command sends it;
# the demo has its four operations accepted.
#   support_tools.sh LUMIREX_EXE WINE_RUN   (LUMIREX_URL and LUMIREX_LINUX_CLI
#                                             set by windows/test.sh)
set -euo pipefail
exe=$1 wine_run=$2
linux=${LUMIREX_LINUX_CLI:?} url=${LUMIREX_URL:?}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
sandbox=
trap '[ -z "$sandbox" ] || kill "$sandbox" 2>/dev/null; rm -rf "$work"' EXIT
unset LUMIREX_URL LUMIREX_BASE_DIR LUMIREX_DB LUMIREX_OUTBOX LUMIREX_CA_FILE
status=0
expect() {
  local what=$1 text=$2 file=$3
  grep -qF "$text" "$file" || { echo "$what: no '$text' in:"; cat "$file"; status=1; }
}

till="$work/Caixa São João 01"
mkdir -p "$till/Dados"
cat "$here/../../sql/sqlite/pos-schema.sql" | sqlite3 "$till/Dados/pos.sqlite"
"$wine_run" "$exe" doctor --base-dir "Z:$till" --url "$url" >"$work/doctor" 2>&1 ||
  echo "exit $?" >>"$work/doctor"
expect doctor "checks passed." "$work/doctor"
expect doctor "Caixa São João 01/Dados is writable" "$work/doctor"

"$wine_run" "$exe" sandbox --port 0 --fixture "Z:$here/customers.json" >"$work/sandbox" 2>&1 &
sandbox=$!
served=
for _ in $(seq 300); do
  served=$(grep -m1 '^http://' "$work/sandbox" | tr -d '\r' || true)
  [ -z "$served" ] || break
  sleep 0.1
done
"$linux" consulta --cpf 123.456.789-09 --url "$served" --base-dir "$work" --json >"$work/call" 2>&1 ||
  echo "exit $?" >>"$work/call"
expect "a call to the Windows sandbox at '$served'" '"João da Silva"' "$work/call"

"$wine_run" "$exe" demo --dir "Z:$work/Demo" >"$work/demo.out" 2>&1 ||
  echo "exit $?" >>"$work/demo.out"
expect demo "4 of 4 operations accepted." "$work/demo.out"
[ "$status" -ne 0 ] || echo "doctor, sandbox and demo run on Windows"
exit "$status"
