#!/usr/bin/env bash
# Runs bench_uninstall natively (in a fresh machine folder) and under Wine,
# each printing its phase times and the ratio to the bare deletion calls
# measured in the same run; then, on each build, the uninstaller itself on
# the same installation with /S against /S /LOG=FILE (the report's cost),
# sides alternating, with the ratio.
#   bench/run_uninstall_bench.sh [NATIVE_BUILD_DIR [WIN32_BUILD_DIR]] [-- bench options]
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
native=${1:-$here/build/native}
win32=${2:-$here/build/win32}
shift $(( $# > 2 ? 2 : $# ))
[ "${1:-}" = "--" ] && shift

if [ -x "$native/bench/bench_uninstall" ]; then
    echo "=== native"
    machine=$(mktemp -d)
    VANTREL_ROOT="$machine" "$native/bench/bench_uninstall" "$@"
    echo "=== native: the report's cost"
    VANTREL_ROOT="$machine" "$native/bench/bench_uninstall" --program="$native/unvantrel" "$@"
    rm -rf "$machine"
else
    echo "=== native: $native/bench/bench_uninstall not built"
fi
if [ -f "$win32/bench/bench_uninstall.exe" ]; then
    echo "=== wine"
    "$here/cmake/wine-run.sh" "$win32/bench/bench_uninstall.exe" "$@"
    echo "=== wine: the report's cost"
    program="Z:$(echo "$win32/UnVantrel.exe" | tr / '\\')"
    "$here/cmake/wine-run.sh" "$win32/bench/bench_uninstall.exe" --program="$program" "$@"
else
    echo "=== wine: $win32/bench/bench_uninstall.exe not built"
fi
