#!/usr/bin/env bash
# Checks the layering and the formatting of the sources, builds the three
# trees with warnings as errors and runs every test: the unit tests natively,
# natively again under AddressSanitizer and UndefinedBehaviorSanitizer, and
# cross-compiled under Wine; the end-to-end scenarios run on both builds as
# ctest tests of their trees; then each fuzz target for a short while (its own
# tree, clang). Lists each build's skipped tests and prints one closing line
# "N passed, N failed, N skipped". Installs the packages it needs first
# (tools/setup.sh), so it runs by itself on a fresh machine.
#
# The product is the 32-bit tree (win32). On a kernel without IA-32 emulation
# no 32-bit program runs, 32-bit Wine included: there the 32-bit tree is only
# built (it must still compile cleanly) and the Wine tests run on the same
# sources built for x86_64 (win64) under 64-bit Wine.
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

# The 32-bit Wine loader is itself a 32-bit program: if it cannot say its
# version, nothing 32-bit runs here.
if timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine_presets="win32"
    build_only=""
else
    echo "this machine cannot run 32-bit programs: the Wine tests run on the 64-bit build"
    wine_presets="win64"
    build_only="win32"
fi

# The product ships as a 32-bit program: a PE32 image for i386.
is_pe32_i386() {
    python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
machine, = struct.unpack_from("<H", data, pe + 4)
magic, = struct.unpack_from("<H", data, pe + 24)
sys.exit(0 if data[pe:pe + 4] == b"PE\0\0" and machine == 0x14C and magic == 0x10B else 1)
EOF
}

cleanup() {
    for prefix in build/win32/wineprefix* build/win64/wineprefix*; do
        [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" wineserver -k >/dev/null 2>&1
    done
    kill "$xvfb_pid" >/dev/null 2>&1
    rm -f "$xvfb_log" "$xvfb_log.fd"
}
trap cleanup EXIT

for preset in native asan $build_only $wine_presets; do
    echo "=== $preset: configure and build"
    if ! { cmake --preset "$preset" -DVANTREL_WERROR=ON >/dev/null &&
           cmake --build --preset "$preset" -j "$jobs"; }; then
        echo "=== $preset: BUILD FAILED"
        status=1
        failed=$((failed + 1))
        continue
    fi
    if [ "$preset" = win32 ]; then
        echo "=== win32: UnVantrel.exe is PE32 for i386"
        count_check is_pe32_i386 build/win32/UnVantrel.exe
    fi
    if [ "$preset" = "$build_only" ]; then
        echo "=== $preset: built only (its tests need 32-bit Wine)"
        continue
    fi
    echo "=== $preset: tests"
    junit="$PWD/build/$preset/ctest-junit.xml"
    rm -f "$junit"
    # The JUnit file keeps every test's output, GoogleTest's skips included.
    ctest --preset "$preset" --output-junit "$junit" --test-output-size-passed 10000000
    rc=$?
    if [ -f "$junit" ] && summary=$(python3 tools/summarize-junit.py "$junit"); then
        read -r p f n <<<"$(head -1 <<<"$summary")"
        passed=$((passed + p))
        failed=$((failed + f))
        skipped=$((skipped + n))
        skip_report+="$preset: $n skipped"$'\n'
        [ "$n" -gt 0 ] && skip_report+="$(tail -n +2 <<<"$summary")"$'\n'
    else
        skip_report+="$preset: no JUnit file, counted as one failure"$'\n'
        failed=$((failed + 1))
    fi
    [ "$rc" -eq 0 ] || status=1
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
echo "checks, test programs, scenario suites and fuzz targets over native, asan, $wine_presets and fuzz:"
echo "$passed passed, $failed failed, $skipped skipped"
exit $status
