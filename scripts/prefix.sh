# shellcheck shell=bash
# Making the project's Wine prefixes and registering the stand-in speech
# runtime in them; sourced after env.sh, not run. The set-up uses it for the
# person's and the tests' prefixes, the package test for a fresh one.

# Wine commands of the set-up get a time limit: a wedged one ends the set-up
# with a message instead of hanging it (and CI) for good.
wine_step() { # wine_step SECONDS WHAT COMMAND...
    local limit=$1 what=$2
    shift 2
    if ! timeout -k 10 "$limit" "$@" </dev/null >/dev/null 2>&1; then
        printf 'setup: %s\n' "$what failed or took longer than $limit s" >&2
        return 1
    fi
}

# verbanor_make_prefix KIND: makes $WINEPREFIX (KIND is test or interactive)
# or brings one an older set-up made up to date. The prefix's settings are
# written into its marker, so that nothing is done twice.
verbanor_make_prefix() {
    local kind=$1 settings marker creating link
    settings="verbanor prefix 2 $kind"
    marker=$WINEPREFIX/.verbanor-ready
    creating=$WINEPREFIX/.verbanor-creating
    if [ -e "$WINEPREFIX" ] && [ ! -f "$marker" ]; then
        if [ -f "$creating" ]; then
            # Ours, but half made (interrupted or failed): that fails in odd
            # ways later, so it starts again from nothing.
            printf 'setup: %s\n' "removing the half-made Wine prefix $WINEPREFIX" >&2
            timeout 30 wineserver -k 2>/dev/null || true
            rm -rf "$WINEPREFIX"
        else
            printf 'setup: %s\n' "$WINEPREFIX exists but was not made by this set-up; it is left alone." \
                "Move it away, or choose another build folder (VERBANOR_BUILD=...)." >&2
            return 1
        fi
    fi
    if [ ! -e "$WINEPREFIX" ]; then
        printf 'setup: %s\n' "creating the Wine prefix $WINEPREFIX (about half a minute)" >&2
        mkdir -p "$WINEPREFIX"
        touch "$creating"
        wine_step 600 "creating the Wine prefix" wineboot -i || return 1
        wine_step 120 "waiting for the new prefix" wineserver -w || return 1
        # This Wine does not find its own fonts; window frames need Marlett.
        cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        if [ "$kind" = test ]; then
            # Folders of the tests' Windows profile stay in the prefix rather
            # than lead into the person's home.
            for link in "$WINEPREFIX"/drive_c/users/*/*; do
                if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
            done
        fi
        touch "$marker"
        rm -f "$creating"
    fi
    if [ "$(cat "$marker")" != "$settings" ]; then
        # No menu entries or file types in the person's home, whoever runs
        # Wine in this prefix.
        wine_step 120 "turning off Wine's menu builder" \
            wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d '' /f || return 1
        if [ "$kind" = test ]; then
            # Wine draws the frames itself: no window manager needed, and
            # closing a window does not cost two seconds.
            wine_step 120 "setting up window frames" \
                wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f || return 1
        else
            # A person's desktop manages the windows: frames, taskbar, Alt+Tab.
            timeout -k 10 120 wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f </dev/null >/dev/null 2>&1 || true
        fi
        wine_step 120 "waiting for the prefix" wineserver -w || return 1
        printf '%s\n' "$settings" >"$marker"
    fi
}

# verbanor_register_runtime DLL: registers the runtime at that Unix path in
# $WINEPREFIX. The Windows name is made here rather than by winepath, whose
# output is in the ANSI code page and would not survive the way back into
# Wine's argv: a checkout under a folder with accented letters would register
# a wrong path.
verbanor_register_runtime() {
    local dll=$1
    # Once in a test run, regsvr32 in a prefix made a moment before failed
    # at once and succeeded on the next run: a second try, a moment later.
    # A registration that cannot succeed (another runtime owns the classes)
    # fails both times and says so.
    timeout -k 10 300 wine regsvr32 /s "Z:${dll//\//\\}" </dev/null >/dev/null 2>&1 && return 0
    sleep 2
    wine_step 300 "registering the speech runtime" wine regsvr32 /s "Z:${dll//\//\\}"
}
