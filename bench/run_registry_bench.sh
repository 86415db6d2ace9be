#!/usr/bin/env bash
# Runs the registry benchmark natively and under Wine in one go and prints
# each measurement with the native/Wine ratio.
#   bench/run_registry_bench.sh [NATIVE_BUILD_DIR] [WIN32_BUILD_DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
native=${1:-$here/../build/native}
win32=${2:-$here/../build/win32}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

echo "native: $native/bench/bench_registry (machine folder $root)" >&2
VANTREL_ROOT=$root "$native/bench/bench_registry" > "$root/native.txt"
echo "wine:   $win32/bench/bench_registry.exe" >&2
"$here/../cmake/wine-run.sh" "$win32/bench/bench_registry.exe" | tr -d '\r' > "$root/wine.txt"

awk 'NR == FNR { native[$1] = $2; order[++n] = $1; next } { wine[$1] = $2 }
    END {
        printf "%-14s %10s %10s %12s\n", "step", "native s", "wine s", "native/wine"
        for (i = 1; i <= n; ++i) {
            k = order[i]
            printf "%-14s %10.3f %10.3f %12.2f\n", k, native[k], wine[k], (wine[k] > 0 ? native[k] / wine[k] : 0)
        }
    }' "$root/native.txt" "$root/wine.txt"
