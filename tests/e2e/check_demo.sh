#!/usr/bin/env bash
# Runs tools/demo.sh --yes on the given native build and checks what it
# reports is left: the shared file still in use stays with its count lowered,
# the other program's INI sections and registry key stay, the demo's own
# files, keys and INI entries are gone, and both programs ran. The run ends
# clean: no box names items left over, and the final box says the log's
# message 5 and nothing else.
set -u
build="$1"
work="$2"
repo=$(cd "$(dirname "$0")/../.." && pwd)
out=$(VANTREL_BUILD_DIR="$build" VANTREL_DEMO_MACHINE="$work/demo-machine" \
    timeout 120 "$repo/tools/demo.sh" --yes 2>&1)
rc=$?
after=${out#*== After: what is left of the installation}
status=0
[ "$rc" -eq 0 ] || { echo "demo.sh ended with $rc"; status=1; }
expect() { grep -qF -- "$1" <<<"$after" || { echo "missing after the run: $1"; status=1; }; }
refuse() { ! grep -qF -- "$1" <<<"$after" || { echo "still there after the run: $1"; status=1; }; }
expect 'Program Files/Common Files/Vantrel/vtcommon.dll'
expect '"C:\\Program Files\\Common Files\\Vantrel\\vtcommon.dll"=dword:00000001'
expect '[HKEY_CURRENT_USER\Software\Vantrel Demo] is gone'
expect '"Stays"="yes"'
expect '[Another Program]'
expect 'argv[2] before-removal'
expect 'DllUnregisterServer vt_server.dll'
expect 'argv[1] after-removal'
refuse 'vtcharts.dll'
refuse 'Vantrel Demo/vtdemo.exe'
refuse 'license.txt'
refuse 'Vantrel Demo.lnk'
refuse 'Read Me.pif'
refuse '[Vantrel Demo]'
refuse 'install.log'

! grep -qF 'Some items could not be removed' <<<"$out" ||
    { echo "a box names items left over"; status=1; }
run=${out#*== Running:}
run=${run%%== After: what is left of the installation*}
final_texts=$(grep '^\[text\]' <<<"${run##*\[box\]}" | sed 's/^\[text\] \{0,1\}//')
message5=$(sed -n 's/\r$//; s/^5=//p' "$repo/tools/demo/install.log" | sed 's/||/\n/g')
[ -n "$message5" ] || { echo "tools/demo/install.log gives no message 5"; status=1; }
[ "$final_texts" = "$message5" ] ||
    { printf 'the final box says:\n%s\ninstead of message 5:\n%s\n' "$final_texts" "$message5"
      status=1; }
[ "$status" -eq 0 ] || printf '%s\n' "$out"
exit $status
