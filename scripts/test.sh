#!/usr/bin/env bash
# Sets up and builds the suite, then runs every unit and end-to-end test under
# Wine on a private virtual display. Exits non-zero when any test fails.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
"$here/setup.sh"
# The set-up may have found that this kernel runs only 64-bit programs.
. "$here/env.sh"
# Tests always get their own display, so that nothing on a desktop interferes.
start_virtual_display
cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    stop_virtual_display
}
trap cleanup EXIT
# One wineserver for the whole run, started with stdio away from CTest's
# pipes. A wineserver keeps the display of the process that started it, so
# the one the set-up's Wine commands left behind must end first.
timeout 60 wineserver -w 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
cd "$VERBANOR_BUILD"
ctest --output-on-failure --timeout 600 "$@"
