#!/usr/bin/env bash
# Builds the three trees and runs every test: the unit tests natively, natively
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and cross-
# compiled under Wine; the end-to-end scenarios run on both builds as ctest
# tests of their trees; then each fuzz target for a short while (its own tree,
# clang). Prints one closing line "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh || exit 1

jobs=${JOBS:-$(nproc)}
status=0
passed=0
failed=0

# One virtual display for every Wine run of the session.
xvfb_log=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$xvfb_log.fd" >"$xvfb_log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$xvfb_log.fd" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$xvfb_log.fd")"

cleanup() {
    for prefix in build/win32/wineprefix*; do
        [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" wineserver -k >/dev/null 2>&1
    done
    kill "$xvfb_pid" >/dev/null 2>&1
    rm -f "$xvfb_log" "$xvfb_log.fd"
}
trap cleanup EXIT

for preset in native asan win32; do
    echo "=== $preset: configure and build"
    if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; }; then
        echo "=== $preset: BUILD FAILED"
        status=1
        failed=$((failed + 1))
        continue
    fi
    echo "=== $preset: tests"
    log=$(mktemp)
    ctest --preset "$preset" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$line")
    if [ -n "$total" ]; then
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    else
        failed=$((failed + 1))
    fi
    [ "$rc" -eq 0 ] || status=1
    rm -f "$log"
done

# Each fuzz target about 20 seconds from its seed corpus; one count per target.
echo "=== fuzz: build and run"
fuzz_log=$(mktemp)
tests/fuzz/run.sh "${FUZZ_SECONDS:-20}" | tee "$fuzz_log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
passed=$((passed + $(grep -c ': no finding$' "$fuzz_log")))
failed=$((failed + $(grep -cE ': (FINDING|BUILD FAILED)' "$fuzz_log")))
rm -f "$fuzz_log"

echo "test programs, scenario suites and fuzz targets over native, asan, win32 and fuzz:"
echo "$passed passed, $failed failed"
exit $status
