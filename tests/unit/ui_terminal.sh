#!/usr/bin/env bash
# Runs the probe program once per case in the given folder: <case>.in is fed
# on standard input, <case>.env (optional) adds environment settings, and
# the output must equal <case>.out byte for byte.
set -u
probe="$1"
dir="$2"
status=0
for input in "$dir"/*.in; do
    case=${input%.in}
    name=$(basename "$case")
    envs=()
    if [ -f "$case.env" ]; then
        read -r -a envs <"$case.env"
    fi
    if ! actual=$(env "${envs[@]}" "$probe" 'C:\Logs\install log.log' second <"$input"); then
        echo "case $name: the probe failed"
        status=1
        continue
    fi
    if ! diff -u "$case.out" <(printf '%s\n' "$actual"); then
        echo "case $name: output differs"
        status=1
    fi
done
exit $status
