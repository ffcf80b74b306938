#!/usr/bin/env bash
# Seeded random input for the programs under Wine on a private virtual display:
#   scripts/soak.sh [--seconds N] [--seed S[,S...|new]] [--program vorira|dalnoka|lexibar|all]
#                   [--faults] [--speech-server] [--engine-ini FILE]
# Ends with one line of counts; exits non-zero when any seed failed. A failure
# prints its seed and step and leaves the journal, the program's log and a
# screenshot under the build's artifacts folder; `--seed S` replays it.
#
# It runs where the tests run, and as they do: in the tests' own prefix and
# wineserver, with a home and temporary folder inside the build, taking turns
# with a test run of the same checkout. A program a person has open from
# run.sh is never joined or stopped.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export VERBANOR_TESTING=1
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
verbanor_lock "$VERBANOR_LOCKS/.test.lock" "a test run of this checkout is going on"
"$here/setup.sh"
. "$here/env.sh"

soak_home=$VERBANOR_BUILD/soak-home
soak_tmp=$VERBANOR_BUILD/soak-tmp
cleanup() {
    timeout 30 wineserver -k 2>/dev/null || true
    timeout 30 wineserver -w 2>/dev/null || true
    stop_virtual_display
    rm -rf "$soak_home" "$soak_tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
rm -rf "$soak_home" "$soak_tmp"
mkdir -p "$soak_home" "$soak_tmp"
export HOME=$soak_home TMPDIR=$soak_tmp
start_virtual_display
# The wineserver keeps the display of the process that starts it.
timeout 30 wineserver -k 2>/dev/null || true
timeout 60 wineserver -w 2>/dev/null || true
wineserver -p60 </dev/null >/dev/null 2>&1 || true
python3 "$VERBANOR_ROOT/tests/e2e/soak.py" "$@"
