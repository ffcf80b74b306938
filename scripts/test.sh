#!/usr/bin/env bash
# Sets up and builds the suite, then runs every unit and end-to-end test under
# Wine on a private virtual display. Exits non-zero when any test fails.
#
#   scripts/test.sh [CTEST OPTIONS...]    e.g. -R e2e_vorira, -V, --repeat until-fail:3
#   scripts/test.sh --help
#
# The options go to ctest (`ctest --help` lists them); others are refused
# before anything is done. The whole run, set-up included, ends within
# VERBANOR_TEST_MINUTES (default 80): without a terminal (CI) a set-up still
# going after all but 20 of them is stopped, and ctest stops the test still
# running at the end and names it. Every test has a time limit of its own.
#
# The tests have a Wine prefix and wineserver of their own, apart from the
# one run.sh uses, and a home and temporary folder inside the build folder:
# a program a person has open is never joined or stopped, and nothing is
# left in their home or in /tmp. Whatever the run starts ends with it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
say() { printf 'test: %s\n' "$*" >&2; }
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;; esac
# CTest runs whatever it does not understand as if nothing had been said:
# every option is checked against its own list, before the set-up where
# CTest is installed already.
check_options() {
    local known a
    known=" $(ctest --help | grep -E '^  -' | grep -oE '(^|[ ,])-{1,2}[A-Za-z][-A-Za-z0-9]*' | tr -d ' ,' | tr '\n' ' ' || true) "
    for a in "$@"; do
        case "$a" in
        --*=*) a=${a%%=*} ;;
        -[A-Za-z]?*) [[ "$known" == *" $a "* ]] || a=${a:0:2} ;;  # -j4
        -*) ;;
        *) continue ;;
        esac
        [[ "$known" == *" $a "* ]] || { say "unknown option $a (see --help)"; exit 2; }
    done
}
options_checked=0
if command -v ctest >/dev/null; then check_options "$@"; options_checked=1; fi
minutes=${VERBANOR_TEST_MINUTES:-80}
[[ "$minutes" =~ ^[0-9]+$ ]] && [ "$minutes" -gt 20 ] || { say "VERBANOR_TEST_MINUTES must be a number over 20"; exit 2; }
deadline=$(($(date +%s) + minutes * 60))

export VERBANOR_TESTING=1
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
# shellcheck source=scripts/testbed.sh
. "$here/testbed.sh"
# Two test runs of one checkout would build into, and test in, the same
# folders: the second waits for the first.
verbanor_lock "$VERBANOR_LOCKS/.test.lock" "another test run of this checkout is going on"
rc=0
if [ -t 0 ]; then
    # A person sees the set-up's steps, and may have to type a password.
    "$here/setup.sh" || rc=$?
else
    timeout -k 30 $((deadline - $(date +%s) - 20 * 60)) "$here/setup.sh" || rc=$?
fi
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    say "the set-up did not end within $((minutes - 20)) minutes; the step it was at is the last one it named above"
fi
[ "$rc" = 0 ] || exit "$rc"
[ "$options_checked" = 1 ] || check_options "$@"
# The set-up may have found that this kernel runs only 64-bit programs.
. "$here/env.sh"

ctest_pid=
cleanup() {
    trap - INT TERM HUP
    if [ -n "$ctest_pid" ]; then
        kill -TERM -- "-$ctest_pid" 2>/dev/null || true
        wait "$ctest_pid" 2>/dev/null || true
    fi
    testbed_end
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
# Tests always get their own display, so that nothing on a desktop interferes.
testbed_begin test
cd "$VERBANOR_BUILD"
# Two minutes are left for the clean-up.
stop=$(date -d "@$((deadline - 120))" +%H:%M:%S)
say "the tests end by $stop at the latest (VERBANOR_TEST_MINUTES=$minutes)"
# CTest in a process group of its own, waited for in the background, so that
# Ctrl+C or a cancelled job ends it and every test it runs at once; should
# this script be killed outright, CTest is told to end too.
set +e
setsid setpriv --pdeathsig TERM ctest --output-on-failure --no-tests=error --timeout 600 --stop-time "$stop" "$@" &
ctest_pid=$!
wait "$ctest_pid"
rc=$?
ctest_pid=
exit $rc
