#!/usr/bin/env bash
# Runs the whole test suite of each build RUNS times in a row while two busy
# loops keep both cores loaded, as on a busy CI machine, and prints
# "N passed, M failed" runs at the end. A suite that passes only on an idle
# machine fails here.
#
#     tools/soak.sh RUNS KIND:BUILD_DIR...
#
# KIND is linux or windows; the build folders are built already (make soak
# does that). A Windows build's first run starts in a fresh Wine prefix, as
# on a machine where Wine never ran. Each run's CTest output goes to
# BUILD_DIR/soak-N.log; a failed run's log is printed.
set -u

runs=$1
shift
passed=0
failed=0

busy=()
stop_busy() { ((${#busy[@]})) && kill "${busy[@]}" 2>/dev/null; wait 2>/dev/null; }
trap stop_busy EXIT
for _ in 1 2; do
  sh -c 'while :; do :; done' &
  busy+=($!)
done

for build in "$@"; do
  kind=${build%%:*}
  dir=${build#*:}
  if [ "$kind" = windows ]; then
    wineserver_prefix=$PWD/$dir/tests/wineprefix
    WINEPREFIX=$wineserver_prefix wineserver -k 2>/dev/null
    rm -rf "$wineserver_prefix"
  fi
  for ((run = 1; run <= runs; run++)); do
    log=$dir/soak-$run.log
    start=$SECONDS
    if (cd "$dir" && ctest --output-on-failure) >"$log" 2>&1; then
      passed=$((passed + 1))
      result=passed
    else
      failed=$((failed + 1))
      result=FAILED
      cat "$log"
    fi
    echo "soak $kind run $run/$runs: $result in $((SECONDS - start)) s" \
      "($(grep -E 'tests passed|tests failed' "$log" | tail -1))"
  done
done

echo "soak: $passed passed, $failed failed"
((failed == 0))
