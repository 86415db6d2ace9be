#!/usr/bin/env bash
# Runs bench_uninstall natively (in a fresh machine folder) and under Wine,
# each printing its phase times and the ratio to the bare deletion calls
# measured in the same run; then, on each build, the uninstaller itself on
# the same installation with /S against /S /LOG=FILE (the report's cost),
# sides alternating, with the ratio.
#   bench/run_uninstall_bench.sh [--report-only] [--wine-only]
#                                [NATIVE_BUILD_DIR [WINE_BUILD_DIR]] [-- bench options]
# --report-only leaves out the phase benchmark, --wine-only the native build.
# The Wine tree defaults to build/win64 where it is built (64-bit Wine runs
# on kernels that cannot run 32-bit programs), else build/win32.
# The report's cost under Wine, 20,000 files, three rounds:
#   bench/run_uninstall_bench.sh --report-only --wine-only -- --rounds=3
# --against=EXE (Wine only) times this tree's UnVantrel.exe against another
# build of it (a Linux path), both against the bare deletion calls, with the
# CPU time of each program and of the Wine server:
#   bench/run_uninstall_bench.sh --against=/tmp/old/UnVantrel.exe -- --rounds=20
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
report_only=0
wine_only=0
against=""
while [ $# -gt 0 ]; do
    case "$1" in
    --report-only) report_only=1 ;;
    --against=*) against=${1#--against=}; wine_only=1 ;;
    --wine-only) wine_only=1 ;;
    *) break ;;
    esac
    shift
done
positional=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    positional+=("$1")
    shift
done
[ "${1:-}" = "--" ] && shift
native=${positional[0]:-$here/build/native}
wine_tree=$here/build/win32
[ -f "$here/build/win64/bench/bench_uninstall.exe" ] && wine_tree=$here/build/win64
wine_tree=${positional[1]:-$wine_tree}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$wine_only" = 1 ]; then
    :
elif [ -x "$native/bench/bench_uninstall" ]; then
    machine=$(mktemp -d)
    if [ "$report_only" = 0 ]; then
        echo "=== native"
        VANTREL_ROOT="$machine" "$native/bench/bench_uninstall" "$@"
    fi
    echo "=== native: the report's cost"
    VANTREL_ROOT="$machine" "$native/bench/bench_uninstall" --program="$native/unvantrel" "$@"
    rm -rf "$machine"
else
    echo "=== native: $native/bench/bench_uninstall not built"
fi
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
if [ -n "$against" ] && [ -f "$wine_tree/bench/bench_uninstall.exe" ]; then
    echo "=== wine ($wine_tree): this build against $against"
    # The Wine server of the tree's prefix, started here so that its CPU
    # time can be read from /proc.
    WINEPREFIX="$wine_tree/wineprefix" wineserver -p >/dev/null 2>&1
    server=$(pgrep -n -f '^/usr/lib/wine/wineserver' || true)
    "$here/cmake/wine-run.sh" "$wine_tree/bench/bench_uninstall.exe" \
        --program="$(winpath "$wine_tree/UnVantrel.exe")" --against="$(winpath "$against")" \
        ${server:+--server-stat="Z:\\proc\\$server\\stat"} "$@"
elif [ -f "$wine_tree/bench/bench_uninstall.exe" ]; then
    if [ "$report_only" = 0 ]; then
        echo "=== wine ($wine_tree)"
        "$here/cmake/wine-run.sh" "$wine_tree/bench/bench_uninstall.exe" "$@"
    fi
    echo "=== wine ($wine_tree): the report's cost"
    program=$(winpath "$wine_tree/UnVantrel.exe")
    "$here/cmake/wine-run.sh" "$wine_tree/bench/bench_uninstall.exe" --program="$program" "$@"
else
    echo "=== wine: $wine_tree/bench/bench_uninstall.exe not built"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
