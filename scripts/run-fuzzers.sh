#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build, one after the other, for a bounded time each, and
# fails when any of them finds a crash, hang, leak or sanitizer report.
#
#     scripts/run-fuzzers.sh <seconds per target> [build folder, default build/fuzz]
#
# The corpus each run grows is kept in <build>/corpus/<target> for the next run; the seeds are
# written afresh into <build>/seeds/ by quaylet-fuzz-seeds; a finding's input is saved in
# <build>/findings/<target>/ and each run's output in <build>/logs/<target>.log.
set -euo pipefail

seconds=${1:?usage: run-fuzzers.sh <seconds per target> [build folder]}
build=${2:-build/fuzz}
dictionaries=$(dirname "$0")/../tests/fuzz/dictionaries

rm -rf "$build/seeds"
"$build/bin/quaylet-fuzz-seeds" "$build/seeds"
mkdir -p "$build/logs"

failed=()
printf '%-32s %14s %8s  %s\n' target executions seconds result
for fuzzer in "$build"/fuzzers/*; do
    name=$(basename "$fuzzer")
    mkdir -p "$build/corpus/$name" "$build/findings/$name" "$build/seeds/$name"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$build/findings/$name/")
    if [ -f "$dictionaries/$name.dict" ]; then
        options+=(-dict="$dictionaries/$name.dict")
    fi
    log="$build/logs/$name.log"
    result=passed
    if ! "$fuzzer" "${options[@]}" "$build/corpus/$name" "$build/seeds/$name" >"$log" 2>&1; then
        result="FAILED (see $log)"
        failed+=("$name")
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    elapsed=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    printf '%-32s %14s %8s  %s\n' "$name" "${executions:-?}" "${elapsed:-?}" "$result"
done

total=$(find "$build/fuzzers" -mindepth 1 -maxdepth 1 | wc -l)
# Not in the "N passed, N failed" form: the test counts CI reads are the test runners' own.
echo "run-fuzzers: $total targets ran, ${#failed[@]} with findings"
if [ ${#failed[@]} -ne 0 ]; then
    for name in "${failed[@]}"; do
        echo "--- $name" >&2
        grep -E -A 30 '^==[0-9]+==|ERROR: libFuzzer|runtime error' "$build/logs/$name.log" |
            head -n 60 >&2 || tail -n 40 "$build/logs/$name.log" >&2
    done
    echo "run-fuzzers: findings in ${failed[*]}" >&2
    exit 1
fi
