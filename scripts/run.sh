#!/usr/bin/env bash
# Sets up and builds the suite, then runs one of its programs under Wine with
# the stand-in speech runtime. Usage: scripts/run.sh vorira|dalnoka|lexibar [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prog=${1:-}
case "$prog" in
    vorira) exe=olvaso/vorira.exe ;;
    dalnoka) exe=dalnoka/dalnoka.exe ;;
    lexibar) exe=lexibar/lexibar.exe ;;
    *) echo "usage: $0 vorira|dalnoka|lexibar [ARGS...]" >&2; exit 2 ;;
esac
shift
"$here/setup.sh"
# shellcheck source=scripts/env.sh
. "$here/env.sh"
# shellcheck source=scripts/display.sh
. "$here/display.sh"
ensure_display
trap stop_virtual_display EXIT
if [ ! -f "$VERBANOR_BUILD/$exe" ]; then
    echo "$prog is not built yet in $VERBANOR_BUILD" >&2
    exit 1
fi
set +e
wine "$VERBANOR_BUILD/$exe" "$@"
rc=$?
exit $rc
