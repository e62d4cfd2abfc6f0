#!/usr/bin/env bash
# The Windows command and the Linux command make the same calls against the
# same sandbox, each with a base folder of its own: their output, the
# documents they sent and their logs (time stamps aside) must be the same
# bytes. The sale report and its cancellation read a SQLite point-of-sale
# database, through SOCI on each side, and once through an ODBC DSN of the
# host's SQLite driver (Wine hands ODBC to the host's driver manager). Each
# side has a sandbox of its own, as the service refuses a sale reported twice,
# and a TLS front for it on localhost, whose certificate a test authority
# signed: trusted through the CA file, refused with another authority's.
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
# Schannel matches no IP address in a certificate: the server is localhost.
certificate() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$1" -keyout "$work/$1.key" \
    -out "$work/$1.pem" 2>/dev/null
}
certificate test-ca && certificate other-ca
# The hosts name the CA file in a folder whose name Windows' ANSI code page
# cannot hold: libcurl must open it by its UTF-16 name.
cas="$work/Łódź CA"
mkdir -p "$cas" && cp "$work/test-ca.pem" "$work/other-ca.pem" "$cas/"
openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout "$work/server.key" 2>/dev/null |
  openssl x509 -req -CA "$work/test-ca.pem" -CAkey "$work/test-ca.key" -CAcreateserial -days 2 \
    -extfile <(printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n') 2>/dev/null |
  cat - "$work/server.key" >"$work/server.pem"
declare -A url tls
for side in linux windows; do
  printf '[pos_%s]\nDriver = SQLite3\nDatabase = %s\n' "$side" "$work/$side/pos.sqlite" \
    >>"$work/odbc.ini"
  mkdir -p "$work/$side"
  cat "$sql/pos-schema.sql" "$sql/pos-demo.sql" | sqlite3 "$work/$side/pos.sqlite"
  "$linux" sandbox --port 0 --fixture "$(dirname "$0")/customers.json" >"$work/$side.sandbox" 2>&1 &
  sandboxes+=($!)
  for _ in $(seq 100); do
    url[$side]=$(head -1 "$work/$side.sandbox" 2>/dev/null || true)
    [ -z "${url[$side]}" ] || break
    sleep 0.1
  done
  # The sandbox answers with a Content-Length (under Wine, a TLS answer ended
  # by closing the connection never ends).
  for _ in $(seq 20); do
    tls[$side]=$((20000 + RANDOM % 30000))
    socat "OPENSSL-LISTEN:${tls[$side]},bind=127.0.0.1,reuseaddr,fork,verify=0,cert=$work/server.pem" \
      "TCP:$(echo "${url[$side]}" | sed 's#^http://##; s#/$##')" 2>/dev/null &
    sandboxes+=($!)
    # Ready once it takes a connection; gone at once when the port was taken.
    for _ in $(seq 50); do
      ! kill -0 $! 2>/dev/null && break
      (: <>"/dev/tcp/127.0.0.1/${tls[$side]}") 2>/dev/null && break 2
      sleep 0.1
    done
  done
done
export ODBCINI=$work/odbc.ini

# In either host encoding; the second round's sales are refused as repeats.
# Each row: how the service is reached (plain, tls, untrusted; down: not at
# all, so the sale is kept in the outbox; outbox: the row is an outbox
# subcommand), the database (sqlite, odbc; for an outbox row the outbox file
# under the base folder), the arguments.
calls=()
for encoding in windows-1252 UTF-8; do
  calls+=(
    "plain sqlite consulta --host-encoding $encoding --cpf 123.456.789-09"
    "plain sqlite consulta --host-encoding $encoding --cpf 00000000000"
    "plain sqlite valida-promocode --host-encoding $encoding --cpf 12345678909 --promocode BEMVINDO10 --store 0001 --subtotal 12,34 --product 1001"
    "plain sqlite venda --host-encoding $encoding --filial 0001 --caixa 001 --seq 000123"
    "plain sqlite venda-canc --host-encoding $encoding --filial 0001 --caixa 001 --seq 000123"
    "plain odbc venda --host-encoding $encoding --filial 0001 --caixa 002 --seq 000123"
    "plain sqlite call --host-encoding $encoding NOPE x 0001"
    "tls sqlite consulta --host-encoding $encoding --cpf 123.456.789-09"
    "untrusted sqlite consulta --host-encoding $encoding --cpf 123.456.789-09"
  )
done
calls+=(
  "down sqlite venda --host-encoding UTF-8 --filial 0001 --caixa 001 --seq 000123"
  "outbox outbox.sqlite list --json"
  "outbox outbox.sqlite send"
  "outbox outbox.sqlite list --json --all"
  "outbox Dados list"
)
# One call of SIDE (linux or windows) for a row; Windows sees the host's
# files under Z:.
call() {
  local side=$1 transport=$2 database=$3 run=() drive= ca=test-ca address
  shift 3
  [ "$side" = linux ] && run=("$linux") || { run=("$wine_run" "$exe") drive=Z:; }
  address=${url[$side]}
  [ "$transport" = untrusted ] && ca=other-ca
  case "$transport" in
    tls | untrusted) address=https://localhost:${tls[$side]}/ ;;
    down) address=http://localhost:1/ ;;
  esac
  case "$database" in
    odbc) database="odbc://DSN=pos_$side" ;;
    sqlite) database="sqlite3://db=$drive$work/$side/pos.sqlite readonly=1" ;;
  esac
  export LUMIREX_CA_FILE="$drive$cas/$ca.pem" LUMIREX_BASE_DIR="$drive$work/$side"
  if [ "$transport" = outbox ]; then
    "${run[@]}" outbox --outbox "$drive$work/$side/$database" "$@" --url "$address"
  elif [ "$transport" = down ]; then
    "${run[@]}" "$@" --json --url "$address" --db "$database" \
      --outbox "$drive$work/$side/outbox.sqlite"
  else
    "${run[@]}" "$@" --json --url "$address" --db "$database"
  fi || echo "exit $?"
}
# The addresses differ, and so do the words of each system's TLS library for
# a certificate it refuses, the time a refused connection took and the
# moment a report was kept, and the base folders.
same_words() {
  local base=$work/$1
  [ "$1" = linux ] || base=Z:$base
  sed -i "s#${url[$1]}#URL/#g; s#$base#BASE#g; s#https://localhost:${tls[$1]}/#TLS/#g
    s/failed: \(SSL certificate problem\|schannel\): [^\"]*/failed: (refused)/
    s/ after [0-9]* ms/ after N ms/; s/ kept [0-9T:-]*,/ kept T,/; s/\"kept_since\": \"[^\"]*\"/\"kept_since\": T/" "$2"
}
status=0
for i in "${!calls[@]}"; do
  read -r -a args <<<"${calls[$i]}"
  for side in linux windows; do
    call "$side" "${args[@]}" >"$work/$side/out$i" 2>&1
    same_words "$side" "$work/$side/out$i"
  done
  # The Windows command writes its lines with CR LF, as Windows programs do.
  # Wine's own complaint when a thread still talks to its server as the
  # process ends ("wine client error: ... sendmsg") is Wine's, not the
  # command's output.
  sed -i 's/\r$//; /^wine client error:[0-9a-f]*: /d' "$work/windows/out$i"
  # Both sides failing alike would pass unseen: the trusted server and the
  # ODBC database must answer, the other authority's server be refused, and
  # a sale for a service that is down be kept.
  case "${args[0]} ${args[1]}" in
    "tls "* | *" odbc") expected='"error": null' ;;
    "untrusted "*) expected='"code": "LUMIREX_E_TLS"' ;;
    "down "*) expected='"queued": true' ;;
    *) expected= ;;
  esac
  if [ -n "$expected" ] && ! grep -qF "$expected" "$work/windows/out$i"; then
    echo "lumirex ${calls[$i]}: no $expected in the output"
    status=1
  fi
  if ! cmp -s "$work/linux/out$i" "$work/windows/out$i"; then
    echo "lumirex ${calls[$i]}: the output differs"
    diff "$work/linux/out$i" "$work/windows/out$i" || true
    status=1
  fi
done

# Each line's time stamp (up to the first " - ") and the sandbox's port
# differ; the rest may not.
unstamped() {
  find "$work/$1/Dados" -name '*.txt' -exec cat {} + >"$work/$1.log"
  same_words "$1" "$work/$1.log"
  sed "s/^[0-9][0-9]\/[0-9/]* [0-9:]* - //" "$work/$1.log"
}
if ! cmp -s <(unstamped linux) <(unstamped windows); then
  echo "the logs differ"
  diff <(unstamped linux) <(unstamped windows) | head -40 || true
  status=1
fi
[ "$status" -ne 0 ] || echo "same output and log on Windows as on Linux: ${#calls[@]} calls"
exit "$status"
