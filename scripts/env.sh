# Common environment of every Wine command of the project; sourced, not run.
# VERBANOR_BUILD names the build folder (default: build/ in the checkout); the
# Wine prefix lives inside it so that each checkout and build has its own.
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
export VERBANOR_BUILD
# Always the prefix of this build: one a person exported for their own Wine
# programs is never touched.
export WINEPREFIX=$VERBANOR_BUILD/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine takes its ANSI code page only from the Unix locale: without this the
# programs would run in 1252 and every Hungarian text would be wrong.
export LC_ALL=hu_HU.UTF-8
if [ "$VERBANOR_ARCH" = x86_64 ]; then
    # Debian's `wine` always picks the 32-bit loader when it is installed:
    # every wine command (scripts, CTest, the end-to-end tests) must reach the
    # 64-bit one instead.
    verbanor_shims=$VERBANOR_BUILD/wine64-bin
    if [ ! -x "$verbanor_shims/wine-stable" ]; then
        mkdir -p "$verbanor_shims"
        printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
            >"$verbanor_shims/wine"
        cp "$verbanor_shims/wine" "$verbanor_shims/wine-stable"
        chmod +x "$verbanor_shims/wine" "$verbanor_shims/wine-stable"
    fi
    case ":$PATH:" in *":$verbanor_shims:"*) ;; *) export PATH="$verbanor_shims:$PATH" ;; esac
fi
