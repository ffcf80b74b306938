#!/usr/bin/env bash
# Sets up and builds the suite, then runs every unit and end-to-end test under
# Wine on a private virtual display. Exits non-zero when any test fails.
# Arguments go to ctest.
#
# The tests have a Wine prefix and wineserver of their own, apart from the
# one run.sh uses, and a home and temporary folder inside the build folder:
# a program a person has open is never joined or stopped, and nothing is
# left in their home or in /tmp. Whatever the run starts ends with it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export VERBANOR_TESTING=1
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
# Two test runs of one checkout would build into, and test in, the same
# folders: the second waits for the first.
verbanor_lock "$VERBANOR_LOCKS/.test.lock" "another test run of this checkout is going on"
"$here/setup.sh"
# The set-up may have found that this kernel runs only 64-bit programs.
. "$here/env.sh"

test_home=$VERBANOR_BUILD/test-home
test_tmp=$VERBANOR_BUILD/test-tmp
ctest_pid=
cleanup() {
    trap - INT TERM HUP
    if [ -n "$ctest_pid" ]; then
        kill -TERM -- "-$ctest_pid" 2>/dev/null || true
        wait "$ctest_pid" 2>/dev/null || true
    fi
    timeout 30 wineserver -k 2>/dev/null || true
    timeout 30 wineserver -w 2>/dev/null || true
    stop_virtual_display
    rm -rf "$test_home" "$test_tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
rm -rf "$test_home" "$test_tmp"
mkdir -p "$test_home" "$test_tmp"
export HOME=$test_home TMPDIR=$test_tmp
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME XDG_RUNTIME_DIR
# Tests always get their own display, so that nothing on a desktop interferes.
start_virtual_display
# One wineserver for the whole run, started with stdio away from CTest's
# pipes. A wineserver keeps the display of the process that started it, so
# the one the set-up's Wine commands (or a killed earlier run) left behind
# must end first. It ends by itself a minute after its last program, should
# this script be killed.
timeout 30 wineserver -k 2>/dev/null || true
timeout 60 wineserver -w 2>/dev/null || true
wineserver -p60 </dev/null >/dev/null 2>&1 || true
timeout -k 10 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
cd "$VERBANOR_BUILD"
# CTest in a process group of its own, waited for in the background, so that
# Ctrl+C or a cancelled job ends it and every test it runs at once; should
# this script be killed outright, CTest is told to end too.
set +e
setsid setpriv --pdeathsig TERM ctest --output-on-failure --no-tests=error --timeout 600 "$@" &
ctest_pid=$!
wait "$ctest_pid"
rc=$?
ctest_pid=
exit $rc
