#!/usr/bin/env bash
# Checks the layering and the formatting of the sources, builds the three
# trees with warnings as errors and runs every test: the unit tests natively,
# natively again under AddressSanitizer and UndefinedBehaviorSanitizer, and
# cross-compiled under Wine; the end-to-end scenarios run on both builds as
# ctest tests of their trees; then each fuzz target for a short while (its own
# tree, clang). Lists each build's skipped tests and prints one closing line
# "N passed, N failed, N skipped". Installs the packages it needs first
# (tools/setup.sh), so it runs by itself on a fresh machine.
set -uo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh || exit 1

jobs=${JOBS:-$(nproc)}
status=0
passed=0
failed=0
skipped=0
skip_report=""

# A check that is not a ctest test counts as one test passed or failed.
count_check() {
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "=== CHECK FAILED: $*"
        failed=$((failed + 1))
        status=1
    fi
}

echo "=== layers: includes point one way"
count_check python3 tools/check-layers.py

echo "=== format: clang-format on every .cpp and .h"
format_check() {
    git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
}
count_check format_check

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
    if ! { cmake --preset "$preset" -DVANTREL_WERROR=ON >/dev/null &&
           cmake --build --preset "$preset" -j "$jobs"; }; then
        echo "=== $preset: BUILD FAILED"
        status=1
        failed=$((failed + 1))
        continue
    fi
    echo "=== $preset: tests"
    log=$(mktemp)
    junit="$PWD/build/$preset/ctest-junit.xml"
    rm -f "$junit"
    # The JUnit file keeps every test's output, GoogleTest's skips included.
    ctest --preset "$preset" --output-junit "$junit" --test-output-size-passed 10000000 \
        2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    if [ -f "$junit" ] && skips=$(python3 tools/summarize-skips.py "$junit"); then
        n=$(head -1 <<<"$skips")
        skipped=$((skipped + n))
        skip_report+="$preset: $n skipped"$'\n'
        [ "$n" -gt 0 ] && skip_report+="$(tail -n +2 <<<"$skips")"$'\n'
    else
        skip_report+="$preset: skips unknown (no JUnit file)"$'\n'
    fi
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

echo "skipped tests, by build:"
printf '%s' "$skip_report"
echo "checks, test programs, scenario suites and fuzz targets over native, asan, win32 and fuzz:"
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
