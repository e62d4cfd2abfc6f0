#!/usr/bin/env bash
# run_all.sh BUILD_DIR [SECONDS]
# Runs every fuzz target of BUILD_DIR (the fuzz preset's build) for SECONDS
# each (default 60), as many at once as there are cores. A target starts from
# its seeds in corpus/<target> (never written to) plus what earlier runs found
# in BUILD_DIR/fuzz-corpus/<target>. A crash, a leak, an input running past 10
# seconds or any sanitizer report fails the target; its input is kept under
# BUILD_DIR/fuzz-artifacts/ and the end of its log is shown. Closes with
# "fuzz: N passed, N failed" and exits 1 when any target failed.
set -euo pipefail

build=$(cd "$1" && pwd)
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
artifacts=$build/fuzz-artifacts
mkdir -p "$artifacts"

run_target() {
  local target=$1
  local found=$build/fuzz-corpus/$target log=$build/fuzz-logs/$target.log
  local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
                 -print_final_stats=1 -artifact_prefix="$artifacts/$target-")
  [ -f "$here/$target.dict" ] && options+=(-dict="$here/$target.dict")
  mkdir -p "$found" "$(dirname "$log")"
  if "$build/bin/fuzz_$target" "${options[@]}" "$found" "$here/corpus/$target" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -o 'Done [0-9]* runs' "$log" | tail -n 1) in ${seconds}s, nothing found"
  else
    echo "fuzz $target: FAILED (log: $log)"
    tail -n 40 "$log"
    return 1
  fi
}

targets=()
for dir in "$here"/corpus/*/; do targets+=("$(basename "$dir")"); done

failed=0
running=0
finish_one() {
  wait -n || failed=$((failed + 1))
  running=$((running - 1))
}
for target in "${targets[@]}"; do
  if [ "$running" -ge "$(nproc)" ]; then finish_one; fi
  run_target "$target" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do finish_one; done

[ "$failed" -eq 0 ] || echo "fuzz: the input of each finding is in $artifacts" >&2
echo "fuzz: $((${#targets[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
