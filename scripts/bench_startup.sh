#!/usr/bin/env bash
# Measures Vorira's and Dalnoka's start-up against a bare window (see
# bench_startup.py) on a private virtual display, in the tests' prefix.
#
#   scripts/bench_startup.sh [--against REF|DIR] [bench_startup.py arguments]
#
# --against REF builds the programs and the runtime of that git commit (e.g.
# main) into $VERBANOR_BUILD/bench-REF and measures them in the same rounds;
# --against DIR measures the vorira.exe, dalnoka.exe and speechrt.dll in DIR.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export VERBANOR_TESTING=1
"$here/setup.sh"
# shellcheck source=scripts/env.sh
. "$here/env.sh"
args=()
while [ $# -gt 0 ]; do
    if [ "$1" = --against ] && [ $# -gt 1 ] && [ -d "$2" ]; then
        args+=(--against "$(cd "$2" && pwd)")
        shift 2
    elif [ "$1" = --against ] && [ $# -gt 1 ]; then
        ref=$2
        out=$VERBANOR_BUILD/bench-${ref//\//-}
        commit=$(git -C "$VERBANOR_ROOT" rev-parse --verify "$ref^{commit}")
        if [ "$(cat "$out/commit" 2>/dev/null)" != "$commit" ]; then
            rm -rf "$out"
            mkdir -p "$out/src"
            git -C "$VERBANOR_ROOT" archive "$commit" | tar -x -C "$out/src"
            env -u CMAKE_GENERATOR cmake -G "Unix Makefiles" -S "$out/src" -B "$out/build" \
                -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVERBANOR_TESTS=OFF \
                -DCMAKE_TOOLCHAIN_FILE="$out/src/cmake/mingw-$VERBANOR_ARCH.cmake" >/dev/null
            env -u CMAKE_GENERATOR cmake --build "$out/build" -j "$(nproc)" --target vorira dalnoka speechrt >/dev/null
            echo "$commit" >"$out/commit"
        fi
        cp "$out/build/olvaso/vorira.exe" "$out/build/dalnoka/dalnoka.exe" "$out/build/engine/speechrt.dll" "$out/"
        args+=(--against "$out")
        shift 2
    else
        args+=("$1")
        shift
    fi
done
# shellcheck source=scripts/display.sh
. "$here/display.sh"
start_virtual_display
cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    stop_virtual_display
}
trap cleanup EXIT
# A server still ending from an earlier run may refuse the new one: wait for it.
wineserver -w 2>/dev/null || true
wineserver -p60 </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
python3 "$here/bench_startup.py" "${args[@]}"
