#!/usr/bin/env bash
# Runs bench_uninstall natively (in a fresh machine folder) and under Wine,
# each printing its phase times and the ratio to the bare deletion calls
# measured in the same run.
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
    rm -rf "$machine"
else
    echo "=== native: $native/bench/bench_uninstall not built"
fi
if [ -f "$win32/bench/bench_uninstall.exe" ]; then
    echo "=== wine"
    "$here/cmake/wine-run.sh" "$win32/bench/bench_uninstall.exe" "$@"
else
    echo "=== wine: $win32/bench/bench_uninstall.exe not built"
fi
