#!/usr/bin/env bash
# Runs one cross-compiled program under Wine inside a virtual X display: 32-bit
# Wine for the i686 tree, 64-bit Wine for the x86_64 one (the tree's
# VANTREL_WINE_ARCH says which), each with its own prefix.
# The Wine prefix is private to the build tree (created on first use) and the
# wineserver is started up front with its output sent elsewhere, so that it
# never holds the caller's pipes open.
#
# With DISPLAY set (the test script runs one Xvfb for the whole session) the
# wineserver stays up between programs and the caller stops it at the end.
# Without it, each program gets its own Xvfb, and programs of one prefix run
# one at a time, since the wineserver is stopped with the display.
set -u
exe="$1"; shift
dir=$(cd "$(dirname "$exe")" && pwd)
build="$dir"
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
[ -f "$build/CMakeCache.txt" ] || build="$dir"
export WINEARCH=win32
grep -qx 'VANTREL_WINE_ARCH:INTERNAL=win64' "$build/CMakeCache.txt" 2>/dev/null && WINEARCH=win64
export WINEPREFIX="${VANTREL_WINEPREFIX:-$build/wineprefix}"
# The wine wrapper prefers the 32-bit loader whenever it is installed, even
# where it cannot run: name the 64-bit one outright.
if [ "$WINEARCH" = win64 ]; then
    export WINELOADER=/usr/lib/wine/wine64
    wine() { /usr/lib/wine/wine64 "$@"; }
    wineboot() { /usr/lib/wine/wine64 wineboot "$@"; }
    export -f wine wineboot
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
lock="$build/.wineprefix.lock"
(
    flock 9
    if [ ! -f "$WINEPREFIX/.vantrel-ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1 </dev/null
        # Without a window manager, a managed window's destruction waits about
        # two seconds for a withdrawal that never comes; unmanaged windows
        # close at once (a message box then takes ~25 ms instead of ~2 s).
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
        wineserver -w
        touch "$WINEPREFIX/.vantrel-ready"
    fi
) 9>"$lock"

if [ -n "${DISPLAY:-}" ]; then
    wineserver -p >/dev/null 2>&1 </dev/null
    # Helper processes that Wine starts on demand (winedevice and the like)
    # outlive the program and inherit its output: give the program a file,
    # not the caller's pipe, so the caller is not kept waiting for ever.
    out=$(mktemp)
    wine "$exe" "$@" >"$out" 2>&1 </dev/null
    rc=$?
    cat "$out"
    rm -f "$out"
    exit $rc
fi

exec 9>"$lock"
flock 9
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    wineserver -p >/dev/null 2>&1 </dev/null
    wine "$@"
    rc=$?
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    exit $rc' wine-run "$exe" "$@"
