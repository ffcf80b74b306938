#!/usr/bin/env bash
# Measures how long AudioReset and the engine's final Release keep a
# program's thread while the speech server is wedged, trickles or floods
# (the unit tests' fake server plays each), and when the worker has ended.
# Rerunnable. Needs scripts/setup.sh to have run (build and prefix). An
# optional first argument names another speechrt.dll (e.g. an older build)
# to measure instead of the build's own; the second the rounds per server.
#   scripts/bench_release.sh [SPEECHRT_DLL [ROUNDS]]
#   scripts/bench_release.sh --help
set -euo pipefail
case "${1:-}" in
-h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
-*) echo "$0: unknown arguments: $*; usage: $0 [SPEECHRT_DLL [ROUNDS]] (see --help)" >&2; exit 2 ;;
esac
[ $# -le 2 ] && [[ "${2:-1}" =~ ^[0-9]+$ ]] || { echo "$0: unknown arguments: $*; usage: $0 [SPEECHRT_DLL [ROUNDS]] (see --help)" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/env.sh
. "$here/env.sh"
root=$VERBANOR_ROOT
dll=${1:-$VERBANOR_BUILD/engine/speechrt.dll}
rounds=${2:-5}
exe=$VERBANOR_BUILD/bench_release.exe
"$VERBANOR_ARCH-w64-mingw32-g++-posix" -O2 -std=c++17 -Wall -Wextra -finput-charset=UTF-8 -fexec-charset=CP1250 \
    -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601 -I"$root/engine" -I"$root/speech" -I"$root/tests/engine" \
    "$root/scripts/bench_release.cpp" "$root/tests/engine/ssip_fake_server.cpp" "$root/speech/sapi4_guids.cpp" \
    -static -static-libgcc -static-libstdc++ -lole32 -luuid -lws2_32 -o "$exe"
wine "$exe" "$(winepath -w "$dll" 2>/dev/null)" "$rounds" </dev/null 2>&1
