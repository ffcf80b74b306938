# shellcheck shell=bash
# The desktop's text size in the person's prefix; sourced by run.sh. Wine
# draws at 96 DPI whatever the desktop says, so on a high-resolution screen,
# or with large text set for low vision (Xft.dpi 192, a scale of 2), the
# programs' text would be half the size of every other program's. The
# desktop's DPI is its Xft.dpi (the X resource every desktop sets), 96 where
# it sets none; Wine's is LogPixels in the prefix's registry.

# The prefix's LogPixels as Wine last saved it, 96 when it has none.
prefix_dpi() {
    local hex
    hex=$(sed -n '/^\[Control Panel\\\\Desktop\]/,/^\[/s/^"LogPixels"=dword:\([0-9a-fA-F]*\)$/\1/p' \
        "$WINEPREFIX/user.reg" 2>/dev/null | head -n 1)
    echo $((16#${hex:-60}))
}

desktop_dpi() {
    local dpi
    dpi=$(xprop -root RESOURCE_MANAGER 2>/dev/null | grep -o 'Xft\.dpi:\\t[0-9.]*' | head -n 1) || true
    dpi=${dpi##*t}
    printf '%.0f\n' "${dpi:-96}"
}

# Gives the prefix the desktop's DPI when they differ, and says so.
verbanor_match_desktop_dpi() {
    local want have
    want=$(desktop_dpi)
    have=$(prefix_dpi)
    [ "$want" != "$have" ] || return 0
    if timeout -k 10 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$want" /f \
            </dev/null >/dev/null 2>&1; then
        echo "The desktop draws text at $want DPI: the programs now do too (Wine had $have)." >&2
    else
        echo "The desktop draws text at $want DPI, but Wine's setting ($have) could not be changed." >&2
    fi
}
