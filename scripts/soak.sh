#!/usr/bin/env bash
# Seeded random input for the programs under Wine on a private virtual display:
#   scripts/soak.sh [--seconds N] [--seed S[,S...|new]] [--program vorira|dalnoka|lexibar|all]
#                   [--faults] [--speech-server] [--engine-ini FILE] [--min-judged N]
#   scripts/soak.sh --help
# Without --seed it draws a fresh seed and prints it. Ends with one line of
# counts; exits non-zero when any seed failed. A failure prints its seed and
# step and leaves the journal, the program's log and a screenshot under the
# build's artifacts folder; `--seed S` replays it. --min-judged N fails a
# program whose run compared fewer than N handle samples after its warm-up.
#
# It runs where the tests run, and as they do: in the tests' own prefix and
# wineserver, with a home and temporary folder inside the build, taking turns
# with a test run of the same checkout. A program a person has open from
# run.sh is never joined or stopped.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bad_usage() { printf 'soak: %s (see --help)\n' "$*" >&2; exit 2; }
# Checked here, before the set-up; soak.py reads them.
args=("$@")
while [ $# -gt 0 ]; do
    case "$1" in
    -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    --faults|--speech-server) ;;
    --program) [[ "${2:-}" =~ ^(vorira|dalnoka|lexibar|all)$ ]] || bad_usage "--program takes vorira, dalnoka, lexibar or all"; shift ;;
    --seconds) [[ "${2:-}" =~ ^[0-9]+(\.[0-9]+)?$ ]] || bad_usage "--seconds takes a number"; shift ;;
    --min-judged) [[ "${2:-}" =~ ^[0-9]+$ ]] || bad_usage "--min-judged takes a number"; shift ;;
    --seed) [[ "${2:-}" =~ ^([0-9]+|new)(,([0-9]+|new))*$ ]] || bad_usage "--seed takes numbers or new, separated by commas"; shift ;;
    --engine-ini) [ -f "${2:-}" ] || bad_usage "--engine-ini takes a file"; shift ;;
    *) bad_usage "unknown option $1" ;;
    esac
    shift
done
export VERBANOR_TESTING=1
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
# shellcheck source=scripts/testbed.sh
. "$here/testbed.sh"
testbed_setup "a test run of this checkout is going on"
testbed_begin soak
python3 "$VERBANOR_ROOT/tests/e2e/soak.py" "${args[@]}"
