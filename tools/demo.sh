#!/usr/bin/env bash
# Builds the native program if needed, lays out a demo installation of
# "Vantrel Demo 1.0" in a fresh machine folder (build/demo-machine), runs the
# uninstaller on it in this terminal and shows what is left afterwards.
#
#   tools/demo.sh          interactive: answer the boxes at the terminal
#   tools/demo.sh --yes    answers Yes to every question (for scripts)
#
# The installation has program files (one read-only), an INI file of its own
# and entries in the shared win.ini (whose comments and other sections must
# survive), registry values and keys, two shared files (use counts 2 and 1),
# shortcuts with their .lnk/.pif twins, directories, a font, an OLE server
# (the test server library) and programs run before and after removal (the
# recording test program). Their installer's log is tools/demo/install.log.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
answer_yes=0
for arg in "$@"; do
    case "$arg" in
    --yes) answer_yes=1 ;;
    -h | --help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $arg (try --help)" >&2; exit 2 ;;
    esac
done

# VANTREL_BUILD_DIR and VANTREL_DEMO_MACHINE choose other folders.
build=${VANTREL_BUILD_DIR:-$repo/build/native}
if [ -z "${VANTREL_BUILD_DIR:-}" ]; then
    bash tools/setup.sh # the packages, once; nothing when all is there
    if [ ! -f "$build/build.ninja" ]; then
        echo "== Configuring the native build"
        cmake --preset native >/dev/null
    fi
    echo "== Building the native program (if needed)"
    cmake --build --preset native >/dev/null
else
    cmake --build "$build" --target unvantrel vantrel-reg vantrel_test_programs >/dev/null
fi

machine=${VANTREL_DEMO_MACHINE:-$repo/build/demo-machine}
[ -d "$machine" ] && chmod -R u+w "$machine" && rm -rf "$machine"
export VANTREL_ROOT=$machine
export VANTREL_TEST_LOG=$machine/programs.log
unset VANTREL_PLATFORM
c=$machine/drive_c
app="$c/Program Files/Vantrel Demo"
common="$c/Program Files/Common Files/Vantrel"
menu="$c/windows/Start Menu/Programs/Vantrel Demo"

echo "== Laying out Vantrel Demo 1.0 in $machine"
mkdir -p "$app/Samples" "$common" "$menu" "$c/windows/Desktop" "$c/windows/Fonts" \
    "$c/My Documents"
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
printf 'MZ vtdemo program\r\n' >"$app/vtdemo.exe"
crlf tools/demo/vtdemo.ini "$app/vtdemo.ini"
printf 'Vantrel Demo licence\r\n' >"$app/license.txt"
chmod a-w "$app/license.txt" # read-only
printf 'sample one\r\n' >"$app/Samples/sample1.vtd"
printf 'sample two\r\n' >"$app/Samples/sample2.vtd"
printf 'plan\r\n' >"$c/My Documents/plan.vtd"
cp "$build/tests/programs/vt_server.dll" "$app/vtdemosrv.dll"
# The vendor's notice program, run before and after removal, is shared by
# its products and stays: the log does not list it.
cp "$build/tests/programs/vt_recorder.exe" "$common/vt_recorder.exe"
printf 'common code\r\n' >"$common/vtcommon.dll"
printf 'chart code\r\n' >"$common/vtcharts.dll"
printf 'font\r\n' >"$c/windows/Fonts/vtdemo.fon"
for name in "Vantrel Demo.lnk" "Vantrel Demo.pif" "Read Me.lnk" "Read Me.pif"; do
    printf 'shortcut\r\n' >"$menu/$name"
done
printf 'shortcut\r\n' >"$c/windows/Desktop/Vantrel Demo.lnk"
crlf tools/demo/win.ini "$c/windows/win.ini"
crlf tools/demo/install.log "$app/install.log"
"$build/vantrel-reg" import tools/demo/demo.reg

show_machine() {
    echo "-- files and folders (C:\\):"
    (cd "$c" && find . -mindepth 1 | sort | sed 's|^\./|   |')
    echo "-- C:\\WINDOWS\\win.ini:"
    sed 's/\r$//; s/^/   /' "$c/windows/win.ini"
    echo "-- registry:"
    for key in 'HKEY_CURRENT_USER\Software\Vantrel Demo' 'HKEY_CURRENT_USER\Software\Another Program' \
        'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\vtdemo.exe' \
        'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs'; do
        if out=$("$build/vantrel-reg" export "$key" 2>/dev/null); then
            printf '%s\n' "$out" | sed 's/\r$//' | grep -v '^REGEDIT4$' | grep -v '^$' | sed 's/^/   /'
        else
            echo "   [$key] is gone"
        fi
    done
}

echo "== Before"
show_machine
echo
echo "== Running: unvantrel 'C:\\Program Files\\Vantrel Demo\\install.log'"
log='C:\Program Files\Vantrel Demo\install.log'
if [ "$answer_yes" = 1 ]; then
    # Yes to the confirmation and to the shared file nothing uses any more;
    # the final box takes its OK at the end of the input.
    printf 'Yes\nYes\n' | "$build/unvantrel" "$log"
elif [ -t 0 ]; then
    "$build/unvantrel" "$log"
else
    echo "(standard input is not a terminal: every box takes its No or Cancel answer; use --yes)"
    "$build/unvantrel" "$log"
fi
echo
echo "== After: what is left of the installation"
show_machine
echo "-- what the programs before and after removal recorded:"
if [ -f "$VANTREL_TEST_LOG" ]; then
    grep -E '^(run|argv|exit|load|unload|DllUnregisterServer)' "$VANTREL_TEST_LOG" | sed 's/^/   /'
else
    echo "   (nothing ran)"
fi
