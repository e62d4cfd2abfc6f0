#!/usr/bin/env bash
# with_sandbox.sh LUMIREX COMMAND [ARG ...]
# Runs COMMAND against a sandbox loyalty service that `LUMIREX sandbox` serves
# for as long as the command runs: LUMIREX_URL names the service and
# LUMIREX_BASE_DIR a fresh temporary folder for the integration log. Exits
# with the command's status.
set -euo pipefail

lumirex=$1
shift
work=$(mktemp -d)
sandbox_pid=

cleanup() {
  if [ -n "$sandbox_pid" ]; then
    kill "$sandbox_pid" 2>/dev/null || true
    wait "$sandbox_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$lumirex" sandbox >"$work/sandbox.out" &
sandbox_pid=$!

# The sandbox prints its base URL as its first line once it accepts connections.
for _ in $(seq 200); do
  if [ "$(wc -l <"$work/sandbox.out")" -ge 1 ]; then break; fi
  if ! kill -0 "$sandbox_pid" 2>/dev/null; then
    echo "with_sandbox: the sandbox did not start" >&2
    exit 1
  fi
  sleep 0.05
done
LUMIREX_URL=$(head -n 1 "$work/sandbox.out")
if [ -z "$LUMIREX_URL" ]; then
  echo "with_sandbox: the sandbox printed no URL" >&2
  exit 1
fi
export LUMIREX_URL LUMIREX_BASE_DIR="$work/base"
mkdir -p "$LUMIREX_BASE_DIR"

"$@"
