#!/usr/bin/env bash
# Benchmarks the stand-in runtime's user dictionary with 100 000 entries (or
# as many as the first argument says): loading, Get, Add and Remove with their
# durable write, TextData of texts up to 16 MB, the caller's time in a short
# TextData with the dictionary unchanged and just changed by another process,
# and the memory of the largest file the runtime takes.
# Rerunnable; uses a temporary dictionary, never the user's own. Needs
# scripts/setup.sh to have run (build and prefix). A second argument names
# another speechrt.dll (Unix path) to measure instead of the registered one,
# e.g. a build of an older commit.
#   scripts/bench_dictionary.sh [ENTRIES [SPEECHRT_DLL]]
#   scripts/bench_dictionary.sh --help
set -euo pipefail
case "${1:-}" in
-h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
""|[0-9]*) [ $# -le 2 ] && [[ "${1:-1}" =~ ^[0-9]+$ ]] || { echo "$0: unknown arguments: $*; usage: $0 [ENTRIES [SPEECHRT_DLL]] (see --help)" >&2; exit 2; } ;;
*) echo "$0: unknown arguments: $*; usage: $0 [ENTRIES [SPEECHRT_DLL]] (see --help)" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/env.sh
. "$here/env.sh"
entries=${1:-100000}
dll=()
[ -z "${2:-}" ] || dll=("$(winepath -w "$2" 2>/dev/null)")
root=${BENCH_SOURCE_ROOT:-$VERBANOR_ROOT} # the dictionary code the "other process" runs
exe=$VERBANOR_BUILD/bench_dictionary.exe
# The dictionary's own files, whichever way that source tree splits them.
sources=()
for f in "$root"/engine/dictionary*.cpp; do
    [ "$f" = "$root/engine/dictionary_lexicon.cpp" ] || sources+=("$f")
done
[ ! -f "$root/speech/private_file.cpp" ] || sources+=("$root/speech/private_file.cpp")
"$VERBANOR_ARCH"-w64-mingw32-g++-posix -O2 -std=c++17 -Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1250 \
    -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601 -I"$root/engine" -I"$root/speech" \
    "$VERBANOR_ROOT/scripts/bench_dictionary.cpp" "${sources[@]}" "$root/speech/sapi4_guids.cpp" \
    -static -static-libgcc -static-libstdc++ -lole32 -luuid -lpsapi -o "$exe"
work=$(mktemp -d /tmp/bench-dictionary.XXXXXX)
trap 'rm -rf "$work"' EXIT
wine "$exe" "$(winepath -w "$work/dictionary.txt" 2>/dev/null)" "$entries" "${dll[@]}" </dev/null 2>&1 | iconv -f CP1250 -t UTF-8
