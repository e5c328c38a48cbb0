#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz") and runs each for the given number of
# seconds, one after the other: fuzz/run.sh SECONDS [TARGET...]
# Each target starts from its checked-in seeds in fuzz/corpus/<name> and keeps what
# it finds in build/fuzz/corpus/<name>; crashes, leaks and hangs land in
# build/fuzz/artifacts/. Set FUZZ_JOBS to run that many targets at once.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    targets=(arguments console_events edit_line vt_decoder program)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

mkdir -p build/fuzz/artifacts build/fuzz/logs
status=0

run_one() {
    local name=$1 program=build/fuzz/fuzz/fuzz_$1
    if [[ ! -x $program ]]; then
        echo "fuzz_$name: not built here, skipped"
        return 0
    fi
    mkdir -p "build/fuzz/corpus/$name"
    local log=build/fuzz/logs/$name.log
    local result=0
    "$program" "build/fuzz/corpus/$name" "fuzz/corpus/$name" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="build/fuzz/artifacts/${name}-" >"$log" 2>&1 || result=$?
    local runs
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    if [[ $result -eq 0 ]]; then
        echo "fuzz_$name: $runs executions in ${seconds}s, nothing found"
    else
        echo "fuzz_$name: FOUND A FAULT after $runs executions (exit $result), see $log"
        grep -m 5 -E 'ERROR|SUMMARY|fuzz_[a-z_]+:|Test unit written' "$log" || true
    fi
    return "$result"
}

jobs=${FUZZ_JOBS:-1}
pids=()
for name in "${targets[@]}"; do
    run_one "$name" &
    pids+=($!)
    if [[ ${#pids[@]} -ge $jobs ]]; then
        wait "${pids[0]}" || status=1
        pids=("${pids[@]:1}")
    fi
done
for pid in "${pids[@]}"; do
    wait "$pid" || status=1
done
exit "$status"
