# Common environment of every Wine command of the project; sourced, not run.
# VERBANOR_BUILD names the build folder (default: build/ in the checkout); the
# Wine prefixes live inside it so that each checkout and build has its own.
VERBANOR_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export VERBANOR_ROOT

# The programs are 32-bit, and so is the Wine that runs them. A kernel built
# or booted without 32-bit support cannot start that Wine ("Exec format
# error"); there the tests run on a 64-bit build of the same sources under
# the 64-bit Wine, and the 32-bit programs are only built. Decided afresh at
# every sourcing: before the set-up has installed Wine nothing can be told.
verbanor_pick_arch() {
    if [ -x /usr/lib/wine/wine64 ] && [ -x /usr/lib/wine/wine ] \
            && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo x86_64
    else
        echo i686
    fi
}
if [ -z "${VERBANOR_ARCH_GIVEN:-}" ]; then
    if [ -n "${VERBANOR_ARCH:-}" ]; then VERBANOR_ARCH_GIVEN=1; else VERBANOR_ARCH_GIVEN=0; fi
    export VERBANOR_ARCH_GIVEN
fi
[ "$VERBANOR_ARCH_GIVEN" = 1 ] || VERBANOR_ARCH=$(verbanor_pick_arch)
export VERBANOR_ARCH
if [ -z "${VERBANOR_BUILD_GIVEN:-}" ]; then
    if [ -n "${VERBANOR_BUILD:-}" ]; then VERBANOR_BUILD_GIVEN=1; else VERBANOR_BUILD_GIVEN=0; fi
    export VERBANOR_BUILD_GIVEN
fi
if [ "$VERBANOR_BUILD_GIVEN" = 0 ]; then
    VERBANOR_BUILD=$VERBANOR_ROOT/build
    [ "$VERBANOR_ARCH" = i686 ] || VERBANOR_BUILD=$VERBANOR_ROOT/build/$VERBANOR_ARCH
fi
# Wine refuses a relative prefix: a relative folder is taken from where the
# command was given.
case "$VERBANOR_BUILD" in /*) ;; *) VERBANOR_BUILD=$PWD/$VERBANOR_BUILD ;; esac
export VERBANOR_BUILD
# The folder the set-up and test locks live in: the top build folder, which
# holds the 64-bit build too.
if [ "$VERBANOR_BUILD_GIVEN" = 1 ]; then VERBANOR_LOCKS=$VERBANOR_BUILD; else VERBANOR_LOCKS=$VERBANOR_ROOT/build; fi

# Two prefixes per build, always inside it (one a person exported for their
# own Wine programs is never touched): the person's own for run.sh, whose
# windows their desktop manages, and the tests' own with its own wineserver,
# so that a test run never waits for, joins or stops a program left open.
VERBANOR_PREFIX=$VERBANOR_BUILD/wineprefix
VERBANOR_TEST_PREFIX=$VERBANOR_BUILD/test-prefix
if [ "${VERBANOR_TESTING:-0}" = 1 ]; then
    export WINEPREFIX=$VERBANOR_TEST_PREFIX
else
    export WINEPREFIX=$VERBANOR_PREFIX
fi
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer, and no menu entries or file types written into
# the person's home.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Every wine and wineserver command (scripts, CTest, the end-to-end tests)
# goes through small wrappers in the build folder. Wine takes its ANSI code
# page only from the Unix locale, and without hu_HU.UTF-8 the programs would
# run in 1252: the locale is set there and nowhere else, so that apt, dpkg
# and the other tools keep the person's language. Wine finds a prefix's
# server through a folder under TMPDIR, which the tests set to a folder of
# their own: every Wine command uses the system's, so that all of them meet
# the same server. On a 64-bit-only kernel the wrapper also picks the 64-bit
# loader, which Debian's `wine` never chooses by itself. Like WINEPREFIX, what
# a person exported for their own Wine (another server, loader, architecture
# or DLL folder) never reaches the project's.
verbanor_wrappers=$VERBANOR_BUILD/wine-bin
if [ "$VERBANOR_ARCH" = x86_64 ]; then
    verbanor_wine='export WINELOADER=/usr/lib/wine/wine64
exec /usr/lib/wine/wine64 "$@"'
else
    verbanor_wine='exec /usr/bin/wine-stable "$@"'
fi
verbanor_wrapper() { # verbanor_wrapper NAME BODY
    local text
    text=$(printf '#!/bin/sh\nunset TMPDIR WINESERVER WINELOADER WINEARCH WINEDLLPATH\nexport LC_ALL=hu_HU.UTF-8\n%s' "$2")
    [ "$(cat "$verbanor_wrappers/$1" 2>/dev/null)" != "$text" ] || return 0
    { mkdir -p "$verbanor_wrappers" && printf '%s\n' "$text" >"$verbanor_wrappers/$1.new" \
        && chmod +x "$verbanor_wrappers/$1.new" && mv "$verbanor_wrappers/$1.new" "$verbanor_wrappers/$1"; } 2>/dev/null || true
}
# Debian's wineboot, winepath and the like run `wine-stable`.
verbanor_wrapper wine "$verbanor_wine"
verbanor_wrapper wine-stable "$verbanor_wine"
verbanor_wrapper wineserver 'exec /usr/bin/wineserver "$@"'
case ":$PATH:" in *":$verbanor_wrappers:"*) ;; *) export PATH="$verbanor_wrappers:$PATH" ;; esac

# verbanor_lock FILE WHAT: holds FILE locked for as long as the calling script
# runs, however it ends. The lock belongs to a small helper that watches the
# script rather than to the script itself, so that no program it starts (a
# wineserver, say) inherits the lock and keeps it after the script is gone.
verbanor_lock() {
    local file=$1 what=$2 ready
    mkdir -p "$(dirname "$file")"
    if ! flock -n "$file" true; then
        printf '%s\n' "waiting: $what" >&2
    fi
    exec {ready}< <(exec flock -o "$file" sh -c 'echo locked; exec tail --pid="$1" -f /dev/null >/dev/null' sh "$$" 2>/dev/null)
    read -r _ <&"$ready"
    exec {ready}<&-
}
