#!/usr/bin/env bash
# Forwarding under Wine: forwarding_host keeps a sale while its service is
# down and lets the library go without Finalize; once it says so, the
# service is started at the address the sale was made for, and the library's
# own thread must send the sale. The host's checks decide, and its last
# line says they passed.
#   forwarding.sh FORWARDING_HOST WINE_RUN   (LUMIREX_LINUX_CLI and
#                                             LUMIREX_SOURCE_DIR set by windows/test.sh)
set -euo pipefail
host=$1 wine_run=$2
linux=${LUMIREX_LINUX_CLI:?} sql=${LUMIREX_SOURCE_DIR:?}/sql/sqlite
unset LUMIREX_URL LUMIREX_BASE_DIR LUMIREX_DB LUMIREX_OUTBOX LUMIREX_FORWARDING
work=$(mktemp -d)
sandbox= running=
trap 'kill $sandbox $running 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/Dados"
cat "$sql/pos-schema.sql" "$sql/pos-demo.sql" | sqlite3 "$work/Dados/pos.sqlite"

serve() {
  "$linux" sandbox --port "$1" --fixture "$(dirname "$0")/customers.json" >"$work/sandbox" 2>&1 &
  sandbox=$!
  for _ in $(seq 100); do
    url=$(head -1 "$work/sandbox" 2>/dev/null || true)
    [ -z "$url" ] || return 0
    sleep 0.1
  done
  echo "the sandbox did not start: $(cat "$work/sandbox")"
  exit 1
}
# A free port: the service's address while it is down.
serve 0
kill "$sandbox" && wait "$sandbox" 2>/dev/null || true
sandbox=
port=${url##*:} port=${port%/}

LUMIREX_FORWARDING_BACKOFF_MS=200,1000 "$wine_run" "$host" "Z:$work" "Z:$work/outbox.sqlite" \
  "$url" >"$work/host" 2>&1 &
running=$!
for _ in $(seq 600); do
  grep -q '^kept' "$work/host" || ! kill -0 "$running" 2>/dev/null && break
  sleep 0.1
done
grep -q '^kept' "$work/host" && serve "$port"
status=0
wait "$running" || status=$?
running=
cat "$work/host"
# Wine's debugger, which a fault starts, may end the process with 0.
grep -q 'the kept sale went by itself' "$work/host" || status=1
exit "$status"
