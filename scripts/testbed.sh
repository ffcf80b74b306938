# shellcheck shell=bash
# The tests' own session, sourced after env.sh and display.sh by test.sh,
# soak.sh and the benchmarks that drive the programs: a home and a temporary
# folder inside the build, a private display, and the test prefix's own
# wineserver on that display. testbed_end ends and removes all of it, Wine's
# folder for the server in /tmp included. The caller holds the test lock, so
# no other run of this checkout uses the prefix meanwhile.

# testbed_setup WHO: waits for the test lock (WHO says what holds it), runs
# the set-up, and has testbed_end run however the caller ends.
testbed_setup() {
    verbanor_lock "$VERBANOR_LOCKS/.test.lock" "$1"
    "$VERBANOR_ROOT/scripts/setup.sh"
    # The set-up may have found that this kernel runs only 64-bit programs.
    # shellcheck source=scripts/env.sh
    . "$VERBANOR_ROOT/scripts/env.sh"
    trap testbed_end EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

# testbed_begin NAME [--wait]: the folders are NAME-home and NAME-tmp. A
# wineserver already running in the prefix is a leftover of an earlier run
# and is ended; with --wait it is waited for a while instead, and the caller
# refused if it stays: a benchmark never stops a server it did not start.
testbed_begin() {
    local name=$1 how=${2:-}
    if [ "$how" = --wait ]; then
        if ! timeout 90 wineserver -w 2>/dev/null; then
            printf '%s\n' "A wineserver this run did not start keeps running in $WINEPREFIX; it is left alone." \
                "Wait for it to end, or stop it: WINEPREFIX='$WINEPREFIX' wineserver -k" >&2
            return 1
        fi
    else
        timeout 30 wineserver -k 2>/dev/null || true
        timeout 60 wineserver -w 2>/dev/null || true
    fi
    testbed_home=$VERBANOR_BUILD/$name-home
    testbed_tmp=$VERBANOR_BUILD/$name-tmp
    rm -rf "$testbed_home" "$testbed_tmp"
    mkdir -p "$testbed_home" "$testbed_tmp"
    export HOME=$testbed_home TMPDIR=$testbed_tmp
    unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME XDG_RUNTIME_DIR
    start_virtual_display || return 1
    # One wineserver for the whole run, with stdio away from CTest's pipes,
    # started after the display, which it keeps. Should the caller be
    # killed, it ends by itself a minute after its last program.
    testbed_server=1
    wineserver -p60 </dev/null >/dev/null 2>&1 || true
    timeout -k 10 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

testbed_end() {
    local dir
    if [ -n "${testbed_server:-}" ]; then
        testbed_server=
        timeout 30 wineserver -k 2>/dev/null || true
        # Debian's Wine names the server's folder under /tmp in the prefix;
        # once the server has ended, nothing needs it.
        dir=$(cat "$WINEPREFIX/wineserver" 2>/dev/null) || dir=
        if timeout 30 wineserver -w 2>/dev/null && [[ "$dir" =~ ^wine-[A-Za-z0-9]+$ ]] && [ -O "/tmp/$dir" ]; then
            rm -rf "/tmp/$dir"
        fi
    fi
    stop_virtual_display
    [ -z "${testbed_home:-}" ] || rm -rf "$testbed_home" "$testbed_tmp"
}

# As a command, for the benchmarks written in Python:
#   scripts/testbed.sh COMMAND...
# runs COMMAND with VERBANOR_TESTBED=1 on the test bed, in its turn with the
# test runs of this checkout, and ends the bed after it.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    export VERBANOR_TESTING=1
    # shellcheck source=scripts/env.sh
    . "$(dirname "${BASH_SOURCE[0]}")/env.sh"
    # shellcheck source=scripts/display.sh
    . "$VERBANOR_ROOT/scripts/display.sh"
    testbed_setup "a test run of this checkout is going on"
    testbed_begin bench --wait
    VERBANOR_TESTBED=1 "$@"
fi
