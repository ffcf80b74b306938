#!/usr/bin/env bash
# Seeded random input for the programs under Wine on a private virtual display:
#   scripts/soak.sh [--seconds N] [--seed S] [--program vorira|dalnoka|lexibar|all] [--engine-ini FILE]
# Ends with one line of counts; exits non-zero when any seed failed. A failure
# prints its seed and step and leaves the journal, the program's log and a
# screenshot under the build's artifacts folder; `--seed S` replays it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
[ -f "$WINEPREFIX/.verbanor-ready" ] || "$here/setup.sh"
. "$here/env.sh"
cmake --build "$VERBANOR_BUILD" -j2 --target vorira dalnoka lexibar speechrt wdrive clipput \
    -- --no-print-directory >/dev/null
start_virtual_display
cleanup() {
    wineserver -k 2>/dev/null || true
    stop_virtual_display
}
trap cleanup EXIT
# The wineserver keeps the display of the process that starts it.
timeout 60 wineserver -w 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1 || true
export VERBANOR_BUILD
python3 "$VERBANOR_ROOT/tests/e2e/soak.py" "$@"
