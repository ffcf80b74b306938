# Common environment of every Wine command of the project; sourced, not run.
# VERBANOR_BUILD names the build folder (default: build/ in the checkout); the
# Wine prefix lives inside it so that each checkout and build has its own.
VERBANOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export VERBANOR_ROOT
export VERBANOR_BUILD=${VERBANOR_BUILD:-$VERBANOR_ROOT/build}
export WINEPREFIX=${WINEPREFIX:-$VERBANOR_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine takes its ANSI code page only from the Unix locale: without this the
# programs would run in 1252 and every Hungarian text would be wrong.
export LC_ALL=hu_HU.UTF-8
