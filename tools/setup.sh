#!/usr/bin/env bash
# Installs what building and testing both targets needs, from Debian's
# packages: compilers (native, mingw-w64 i686 and x86_64), 32- and 64-bit Wine
# (64-bit Wine runs the Wine tests on machines that cannot run 32-bit), Xvfb,
# GoogleTest, Google Benchmark, SQLite, Python, clang (with libFuzzer) for
# the fuzz targets, clang-format and git for the formatting check; then the
# Japanese locale the code page 932 tests run in. Does nothing when all is
# there.
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config python3 clang libclang-rt-dev
          mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
          wine wine32:i386 wine64 xvfb xauth
          libgtest-dev googletest libbenchmark-dev libsqlite3-dev sqlite3
          clang-format git locales)

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $sudo dpkg --add-architecture i386
    # A mirror in the middle of a sync answers one index with "File has
    # unexpected size": try the update again after a pause, and go on to the
    # install anyway, which fails only if the index it needs is missing.
    for attempt in 1 2 3; do
        if $sudo apt-get update -q; then
            break
        fi
        echo "apt-get update failed (attempt $attempt)"
        if [ "$attempt" -lt 3 ]; then
            sleep $((attempt * 10))
        fi
    done
    if ! $sudo apt-get install -y -q "${packages[@]}"; then
        # Without the i386 index (the one a syncing mirror most often
        # answers wrongly) 32-bit Wine cannot be installed: install the rest,
        # and tests/run-all.sh runs the Wine tests on the 64-bit build.
        echo "the full install failed: installing without the 32-bit Wine packages"
        rest=()
        for p in "${packages[@]}"; do
            [[ $p == *:i386 ]] || rest+=("$p")
        done
        $sudo apt-get install -y -q "${rest[@]}"
    fi
fi

# A Japanese locale gives Wine programs the double-byte ANSI code page 932,
# for the tests of names in such a code page (made after the packages, which
# bring localedef on a fresh machine).
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    echo "Making the locale ja_JP.UTF-8"
    $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
