#!/usr/bin/env bash
# What the desktop's menu starts (install-desktop.sh makes the launchers): a
# program of this checkout's build, at once, through run.sh but without its
# set-up, which would query packages, build and register the runtime at every
# start with nobody watching. A build that is not ready, and a program that
# does not start, are told in a window: a menu start has no terminal. A file
# handed over is opened as Vorira opens one, from its own folder.
#   scripts/launch.sh vorira|dalnoka|lexibar [FILE]
#   scripts/launch.sh --help
# What run.sh says goes to launch-PROGRAM.log in the build folder.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
usage() { echo "usage: $0 vorira|dalnoka|lexibar [FILE] (see --help)" >&2; exit 2; }
case "${1:-}" in
vorira) exe=olvaso/vorira.exe name=Vorira ;;
dalnoka) exe=dalnoka/dalnoka.exe name=Dalnoka ;;
lexibar) exe=lexibar/lexibar.exe name=Lexibar ;;
-h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
*) echo "$0: not a program: '${1:-}'" >&2; usage ;;
esac
prog=$1
shift
[ $# -le 1 ] || usage
file=${1:-}

# tell TEXT: in a window of the desktop's own kind where there is one.
tell() {
    local title="Verbanor: $name"
    printf '%s\n' "$1" >&2
    if command -v zenity >/dev/null; then
        zenity --error --title="$title" --no-markup --text="$1" 2>/dev/null
    elif command -v kdialog >/dev/null; then
        kdialog --title "$title" --error "$1" 2>/dev/null
    elif command -v xmessage >/dev/null; then
        # Its fonts may lack ő and ű, and it shows no UTF-8: plain letters.
        xmessage -title "$title" -center "$(LC_ALL=C.UTF-8 iconv -f UTF-8 -t ASCII//TRANSLIT <<<"$1")" 2>/dev/null
    fi || true
}

# shellcheck source=scripts/env.sh
. "$here/env.sh"
if [ ! -f "$VERBANOR_BUILD/$exe" ] || [ ! -f "$VERBANOR_PREFIX/.verbanor-ready" ]; then
    tell "A $name még nincs előkészítve itt: $VERBANOR_BUILD

Futtassa egyszer egy terminálban:
  $here/run.sh $prog
Ez telepíti, ami hiányzik, és lefordítja a programokat; azután a menüből
is azonnal indul."
    exit 1
fi

args=()
if [ -n "$file" ]; then
    # Vorira loads the name after the last backslash of its command line
    # from its current folder, and keeps quotes as a program of its time
    # does; Wine quotes a name with blanks in it. So it starts in the file's
    # folder, and such a name is handed over in its short (8.3) form.
    cd -- "$(dirname -- "$file")" || { tell "Nem érem el a mappát: $(dirname -- "$file")"; exit 1; }
    base=$(basename -- "$file")
    if [[ "$base" =~ [[:space:]\"] ]]; then
        short=$(winepath -s "Z:${PWD//\//\\}\\$base" 2>/dev/null) || short=
        base=${short##*\\}
    fi
    [ -z "$base" ] || args=("$base")
fi
log=$VERBANOR_BUILD/launch-$prog.log
rc=0
"$here/run.sh" --no-setup "$prog" "${args[@]}" </dev/null >"$log" 2>&1 || rc=$?
if [ "$rc" != 0 ]; then
    tell "A $name hibával ért véget (kód: $rc). A napló vége ($log):

$(tail -n 15 "$log")"
    exit "$rc"
fi
