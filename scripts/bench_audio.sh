#!/usr/bin/env bash
# Builds the suite and measures how quickly real speech answers (see
# bench_audio.py) on a private virtual display, in the tests' prefix:
#   scripts/bench_audio.sh [--runs N] [--cold-runs N]
#   scripts/bench_audio.sh --help
# It takes turns with the test runs of this checkout, and never stops a
# wineserver it did not start.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bad_usage() { printf 'bench_audio: %s (see --help)\n' "$*" >&2; exit 2; }
args=("$@")
while [ $# -gt 0 ]; do
    case "$1" in
    -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    --runs|--cold-runs) [[ "${2:-}" =~ ^[0-9]+$ ]] || bad_usage "$1 takes a number"; shift ;;
    *) bad_usage "unknown option $1" ;;
    esac
    shift
done
# The tests' prefix: the measurements drive the programs as the tests do.
export VERBANOR_TESTING=1
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
# shellcheck source=scripts/testbed.sh
. "$here/testbed.sh"
testbed_setup "a test run of this checkout is going on"
testbed_begin bench --wait
python3 "$here/bench_audio.py" "${args[@]}"
