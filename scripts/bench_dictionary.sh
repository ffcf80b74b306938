#!/usr/bin/env bash
# Benchmarks the stand-in runtime's user dictionary with 100 000 entries (or
# as many as the first argument says): loading, Get, Add and Remove with their
# durable write, and a long TextData. Rerunnable; uses a temporary dictionary,
# never the user's own. Needs scripts/setup.sh to have run (build and prefix).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/env.sh
. "$here/env.sh"
entries=${1:-100000}
root=$VERBANOR_ROOT
exe=$VERBANOR_BUILD/bench_dictionary.exe
i686-w64-mingw32-g++-posix -O2 -std=c++17 -Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1250 \
    -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601 -I"$root/engine" -I"$root/speech" \
    "$root/scripts/bench_dictionary.cpp" "$root/engine/dictionary.cpp" "$root/speech/sapi4_guids.cpp" \
    -static -static-libgcc -static-libstdc++ -lole32 -luuid -o "$exe"
work=$(mktemp -d /tmp/bench-dictionary.XXXXXX)
trap 'rm -rf "$work"' EXIT
wine "$exe" "$(winepath -w "$work/dictionary.txt" 2>/dev/null)" "$entries" </dev/null 2>&1 | iconv -f CP1250 -t UTF-8
