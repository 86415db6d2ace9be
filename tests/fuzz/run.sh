#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 20) from its
# seed corpus in tests/fuzz/corpus/<target>, at the lowest priority. Prints
# one line per target with its executions; exits 1 when any target found
# something (the input is kept in the work folder the line names).
#   tests/fuzz/run.sh [SECONDS]
# FUZZ_WORK=DIR keeps the grown corpora there across runs (default: a fresh
# temporary folder); FUZZ_TARGETS="fuzz_inifile ..." runs only those.
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}

if ! { cmake --preset fuzz >/dev/null && nice -n 19 cmake --build --preset fuzz; } >/dev/null; then
    echo "fuzz: BUILD FAILED"
    exit 2
fi

work=${FUZZ_WORK:-$(mktemp -d)}
targets=${FUZZ_TARGETS:-$(ls tests/fuzz/corpus)}
status=0
for target in $targets; do
    mkdir -p "$work/$target"
    log="$work/$target.log"
    nice -n 19 "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$work/$target/finding-" -timeout=10 -rss_limit_mb=2048 \
        "$work/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ "$rc" -eq 0 ]; then
        echo "fuzz: $target: ${runs:-0} executions, no finding"
    else
        echo "fuzz: $target: FINDING after ${runs:-?} executions (exit $rc), see $log"
        grep -a -m5 -E 'property failed|ERROR|SUMMARY' "$log"
        status=1
    fi
done
[ -n "${FUZZ_WORK:-}" ] || [ "$status" -ne 0 ] || rm -rf "$work"
exit $status
