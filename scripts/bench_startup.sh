#!/usr/bin/env bash
# Measures Vorira's and Dalnoka's start-up against a bare window (see
# bench_startup.py) on a private virtual display, in the tests' prefix.
#
#   scripts/bench_startup.sh [--against REF|DIR] [--runs N] [--ssip ADDRESS]
#   scripts/bench_startup.sh --help
#
# --against REF builds the programs and the runtime of that git commit (e.g.
# main) into $VERBANOR_BUILD/bench-REF and measures them in the same rounds;
# --against DIR measures the vorira.exe, dalnoka.exe and speechrt.dll in DIR.
# With --ssip, SPEECHRT_SSIP_KEY of the environment goes to the programs.
# It takes turns with the test runs of this checkout, and never stops a
# wineserver it did not start.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bad_usage() { printf 'bench_startup: %s (see --help)\n' "$*" >&2; exit 2; }
for ((i = 1; i <= $#; i++)); do
    option=${!i}
    case "$option" in
    -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    --against|--ssip|--runs)
        i=$((i + 1))
        [ -n "${!i:-}" ] || bad_usage "$option needs a value"
        [ "$option" != --runs ] || [[ "${!i}" =~ ^[0-9]+$ ]] || bad_usage "--runs takes a number" ;;
    *) bad_usage "unknown option $option" ;;
    esac
done
export VERBANOR_TESTING=1
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
# shellcheck source=scripts/testbed.sh
. "$here/testbed.sh"
testbed_setup "a test run of this checkout is going on"
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
testbed_begin bench --wait
python3 "$here/bench_startup.py" "${args[@]}"
