#!/usr/bin/env bash
# vantrel-reg refuses a bad .reg file as a whole: it names the line, exits 1
# and leaves the registry as it was. Each case is a file body (after the
# REGEDIT4 line unless it brings its own first line) and the line to name.
#   test_vantrel_reg.sh PATH/TO/vantrel-reg
set -u
tool=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
export VANTREL_ROOT=$root
failures=0

check() { # description, expected line, file body (- when case.reg holds it)
    local what=$1 line=$2 body=$3
    [ "$body" = - ] || printf '%s' "$body" > "$root/case.reg"
    if "$tool" import "$root/case.reg" 2> "$root/err"; then
        echo "FAIL: $what: imported"; failures=$((failures + 1)); return
    fi
    if ! grep -q "case.reg:$line: " "$root/err"; then
        echo "FAIL: $what: expected line $line, got: $(cat "$root/err")"; failures=$((failures + 1))
    fi
    if "$tool" query 'HKCU\Software\Bad' > /dev/null 2>&1; then
        echo "FAIL: $what: the key before the error was created"; failures=$((failures + 1))
    fi
    if ! "$tool" query 'HKCU\Software\Kept' Value > /dev/null; then
        echo "FAIL: $what: an earlier value was lost"; failures=$((failures + 1))
    fi
}

printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n"Value"="1"\n' > "$root/kept.reg"
"$tool" import "$root/kept.reg" || { echo "FAIL: cannot import a good file"; exit 1; }

good='REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Bad]\n"A"="1"\n'
check "no header" 1 "$(printf '[HKEY_CURRENT_USER\\Software\\Bad]\n"A"="1"\n')"
check "unknown root" 5 "$(printf "$good")
[HKEY_NOWHERE\\X]"
check "open key line" 5 "$(printf "$good")
[HKEY_CURRENT_USER\\Software\\Bad"
check "value before any key" 3 "$(printf 'REGEDIT4\n\n"A"="1"\n')"
check "unclosed string" 5 "$(printf "$good")
\"B\"=\"text"
check "unknown escape" 5 "$(printf "$good")
\"B\"=\"a\\qb\""
check "dword too long" 5 "$(printf "$good")
\"B\"=dword:123456789"
check "bad hex byte" 5 "$(printf "$good")
\"B\"=hex:01,zz"
check "hex without commas" 5 "$(printf "$good")
\"B\"=hex:01 02"
check "bad hex type" 5 "$(printf "$good")
\"B\"=hex(q):01"
check "continuation at the end" 5 "$(printf "$good")
\"B\"=hex:01,\\"
check "root deletion" 5 "$(printf "$good")
[-HKEY_CURRENT_USER]"
check "stray text" 5 "$(printf "$good")
stray"
check "no equals sign" 5 "$(printf "$good")
\"B\" \"x\""
# A NUL byte would cut a name short and name another key or value (deleting
# a key then went down the same key for ever).
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Bad]\n"A"="1"\n[-HKCU\\Software\\Kept\0x\\C]\n' > "$root/case.reg"
check "NUL in a key name" 5 -
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Bad]\n"A"="1"\n"Value\0x"=-\n' > "$root/case.reg"
check "NUL in a value name" 5 -

# A write that the store refuses rolls back the whole file too.
"$tool" protect 'HKCU\Software\Kept' || { echo "FAIL: protect"; exit 1; }
check "protected key" 6 "$(printf "$good")
[HKEY_CURRENT_USER\\Software\\Kept]
\"Other\"=\"2\""
"$tool" unprotect 'HKCU\Software\Kept'

# Deletions: a key with everything below it, and a single value.
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Gone\\Deep\\Er]\n"V"=dword:00000001\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n"Extra"=hex:01\n' > "$root/add.reg"
printf 'REGEDIT4\r\n\r\n[-HKEY_CURRENT_USER\\Software\\Gone]\r\n[HKEY_CURRENT_USER\\Software\\Kept]\r\n"Extra"=-\r\n' > "$root/remove.reg"
"$tool" import "$root/add.reg" && "$tool" query 'HKCU\Software\Gone\Deep\Er' V > /dev/null ||
    { echo "FAIL: cannot lay out the keys to delete"; failures=$((failures + 1)); }
"$tool" import "$root/remove.reg" || { echo "FAIL: deletions refused"; failures=$((failures + 1)); }
if "$tool" query 'HKCU\Software\Gone' > /dev/null 2>&1; then
    echo "FAIL: [-KEY] left the key"; failures=$((failures + 1))
fi
if "$tool" query 'HKCU\Software\Kept' Extra > /dev/null 2>&1; then
    echo "FAIL: \"Extra\"=- left the value"; failures=$((failures + 1))
fi
"$tool" query 'HKCU\Software\Kept' Value > /dev/null || { echo "FAIL: a sibling value went"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "all cases refused as a whole, deletions applied"
exit $((failures > 0))
