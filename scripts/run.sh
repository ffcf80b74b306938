#!/usr/bin/env bash
# Sets up and builds the suite, then runs one of its programs under Wine with
# the stand-in speech runtime; the arguments after its name go to it.
#   scripts/run.sh [--no-setup] vorira|dalnoka|lexibar [ARGS...]
#   scripts/run.sh --help
# --no-setup (the desktop's launchers) starts a program that is built and set
# up already, at once. The prefix is given the desktop's DPI where it has
# another (dpi.sh).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
setup=1
if [ "${1:-}" = --no-setup ]; then setup=0; shift; fi
prog=${1:-}
case "$prog" in
    vorira) exe=olvaso/vorira.exe ;;
    dalnoka) exe=dalnoka/dalnoka.exe ;;
    lexibar) exe=lexibar/lexibar.exe ;;
    -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
    *) echo "$0: not a program: '$prog'; usage: $0 vorira|dalnoka|lexibar [ARGS...] (see --help)" >&2; exit 2 ;;
esac
shift
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
speech_state=
cleanup() {
    trap - INT TERM HUP
    [ -z "$speech_state" ] || "$here/speech-server.sh" stop "$speech_state" --owner $$ || true
    stop_virtual_display
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
# A wineserver keeps the display of the process that started it: the display
# comes before the set-up's own Wine commands wherever Xvfb is already there.
display_first=0
if command -v Xvfb >/dev/null 2>&1 && command -v xdpyinfo >/dev/null 2>&1 && command -v xauth >/dev/null 2>&1; then
    ensure_display
    display_first=1
fi
[ "$setup" = 0 ] || "$here/setup.sh"
# The set-up may have found that this kernel runs only 64-bit programs.
. "$here/env.sh"
if [ "$display_first" = 0 ]; then
    ensure_display
    timeout 15 wineserver -w 2>/dev/null || true
fi
# shellcheck source=scripts/dpi.sh
. "$here/dpi.sh"
verbanor_match_desktop_dpi
# Real speech. Where the desktop's own speech-dispatcher runs, the runtime
# speaks through it (through a bridge: Wine has no Unix sockets here), so
# that the person's voice settings hold and a screen reader's speech queues
# with ours instead of being talked over. A socket nobody answers on is left
# alone: the system's server is never started. Otherwise the runtime talks
# to our own speech-dispatcher (with a PulseAudio under it where no audio
# server answers), shared with the other programs run from this build and
# stopped after the last one. VERBANOR_SPEECH_PORT asks for our own with its
# bridge on that port, beside any other. Either way the runtime gets the
# bridge's port and the secret it must prove it knows (SPEECHRT_SSIP_KEY).
desktop_speech=${XDG_RUNTIME_DIR:+$XDG_RUNTIME_DIR/speech-dispatcher/speechd.sock}
speech_env=
if [ -z "${VERBANOR_SPEECH_PORT:-}" ] && [ -n "$desktop_speech" ] && [ -S "$desktop_speech" ] \
        && speech_env=$(python3 "$here/speechd-bridge.py" "$desktop_speech" --owner $$); then
    echo "Speaking through the desktop's speech-dispatcher ($desktop_speech)." >&2
else
    speech_state=$VERBANOR_BUILD/speech-server${VERBANOR_SPEECH_PORT:+-$VERBANOR_SPEECH_PORT}
    speech_env=$("$here/speech-server.sh" start "$speech_state" ${VERBANOR_SPEECH_PORT:+"$VERBANOR_SPEECH_PORT"} --owner $$) \
        || echo "No speech server could be started: the programs run, but silently." >&2
fi
while IFS= read -r assignment; do [ -z "$assignment" ] || export "${assignment?}"; done <<<"$speech_env"
if [ ! -f "$VERBANOR_BUILD/$exe" ]; then
    echo "$prog is not built yet in $VERBANOR_BUILD" >&2
    exit 1
fi
set +e
wine "$VERBANOR_BUILD/$exe" "$@"
rc=$?
exit $rc
