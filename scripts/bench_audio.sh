#!/usr/bin/env bash
# Builds the suite and measures how quickly real speech answers (see
# bench_audio.py) on a private virtual display. Arguments go to bench_audio.py.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The tests' prefix: the measurements drive the programs as the tests do.
export VERBANOR_TESTING=1
"$here/setup.sh"
# shellcheck source=scripts/env.sh
. "$here/env.sh"
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
python3 "$here/bench_audio.py" "$@"
