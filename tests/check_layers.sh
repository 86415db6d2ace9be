#!/usr/bin/env bash
# tools/check-layers.py passes on the tree and fails on each planted
# violation: an include up a layer, a platform header or a platform condition
# above winapi.h, a link to a library above, an include circle between the
# modules of one folder. Each plant goes into a fresh copy of the layer
# folders.
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
check="$src/tools/check-layers.py"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fresh_copy() {
    rm -rf "$work/tree" && mkdir "$work/tree"
    cp -r "$src/base" "$src/inifile" "$src/system" "$src/uninstaller" "$work/tree/"
}

fresh_copy
if ! python3 "$check" --root "$work/tree" >"$work/out"; then
    echo "FAIL: the tree itself does not pass"; cat "$work/out"; failures=$((failures + 1))
fi

# file | line planted at its end | what the report must name
plants=(
    'inifile/ktIniFile.cpp|#include "ktRegIni.h"|points up from inifile/ to system/'
    'inifile/ktLineFile.h|#include "ktLedger.h"|points up from inifile/ to system/'
    'base/ktText.cpp|#include "ktStringList.h"|points up from base/ to inifile/'
    'base/ktHandle.h|#include "ktFileUtils.h"|points up from base/ to system/'
    'base/ktPlatform.cpp|#include <unistd.h>|platform header <unistd.h>'
    'base/CMakeLists.txt|target_link_libraries(vantrel_base PUBLIC vantrel_inifile)|links vantrel_inifile'
    'system/ktRegIni.cpp|#include "UnVantrel.h"|points up from system/ to uninstaller/'
    'system/ktShell.cpp|#include <windows.h>|platform header <windows.h>'
    'uninstaller/Phases.cpp|#include <sys/stat.h>|platform header <sys/stat.h>'
    'inifile/ktStrUtils.cpp|#include "pal.h"|"pal.h" is not in a layer'
    'uninstaller/Phases.cpp|#ifdef _WIN32|platform condition'
    'system/ktUtils.h|#if defined(__linux__) \&\& 1|platform condition'
    'inifile/CMakeLists.txt|target_link_libraries(vantrel_inifile PUBLIC vantrel_system)|links vantrel_system'
    'system/ktRegIni.h|#include "ktGuardRails.h"|include circle between the modules ktGuardRails, ktRegIni'
    'inifile/ktSafeWriteNames.cpp|#include "ktSafeWrite.h"|include circle between the modules ktSafeWrite, ktSafeWriteNames'
    # A source file without a header of its own belongs to the module it implements.
    'system/ktLedgerOverlay.cpp|#include "ktLedger.h"|include circle between the modules ktLedger, ktLedgerMachine'
)
for plant in "${plants[@]}"; do
    IFS='|' read -r file line expected <<<"$plant"
    line=${line//\\&/&}
    fresh_copy
    printf '%s\n' "$line" >>"$work/tree/$file"
    if python3 "$check" --root "$work/tree" >"$work/out"; then
        echo "FAIL: $file with '$line' passed"; failures=$((failures + 1))
    elif ! grep -qF "$file" "$work/out" || ! grep -qF "$expected" "$work/out"; then
        echo "FAIL: $file with '$line' reported as:"; cat "$work/out"; failures=$((failures + 1))
    fi
done
echo "$failures failure(s)"
[ "$failures" -eq 0 ]
