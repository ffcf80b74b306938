#!/usr/bin/env bash
# Puts the three programs into the desktop's menu for the current user:
# freedesktop launchers in ${XDG_DATA_HOME:-~/.local/share}/applications and
# their icons, made from the programs' own, in the hicolor theme there. Each
# launcher starts its program through scripts/launch.sh of this checkout
# (with the VERBANOR_BUILD given here, if one is), which starts the build as
# it is, at once, and says in a window what keeps it from starting; Vorira is
# offered for plain text files.
#
#   scripts/install-desktop.sh            installs, or brings up to date
#   scripts/install-desktop.sh --remove   removes exactly what it installed
#
# What it makes (files, and folders that were not there) it lists in
# verbanor/installed under the same data folder, and --remove takes away
# just those: a file of the same name it did not make is never overwritten.
set -euo pipefail
case "$*" in
""|--remove) ;;
-h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
*) echo "$0: unknown arguments: $*; usage: $0 [--remove] (see --help)" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")

say() { printf 'install-desktop: %s\n' "$*" >&2; }

data=${XDG_DATA_HOME:-$HOME/.local/share}
case "$data" in /*) ;; *) say "XDG_DATA_HOME must be an absolute path"; exit 1 ;; esac
manifest=$data/verbanor/installed
mapfile -t ours < <(cat "$manifest" 2>/dev/null || true)
is_ours() { local p; for p in "${ours[@]}"; do [ "$p" = "$1" ] && return 0; done; return 1; }

# A desktop program picks up a changed MIME association from this cache where
# one is kept; where none is, it reads the launchers themselves.
refresh_mime_cache() {
    if [ -f "$data/applications/mimeinfo.cache" ] && command -v update-desktop-database >/dev/null; then
        update-desktop-database "$data/applications" 2>/dev/null || true
    fi
}

if [ "${1:-}" = --remove ]; then
    [ ${#ours[@]} -gt 0 ] || { say "nothing to remove"; exit 0; }
    rm -f "$manifest"
    for ((i = ${#ours[@]} - 1; i >= 0; i--)); do
        p=${ours[i]}
        case "$p" in
        */) rmdir "$p" 2>/dev/null || true ;; # a folder of ours that holds someone else's files stays
        *) rm -f "$p" ;;
        esac
    done
    refresh_mime_cache
    say "removed the launchers"
    exit 0
fi
if ! command -v convert >/dev/null || ! command -v identify >/dev/null; then
    say "ImageMagick is needed for the icons (scripts/setup.sh installs it)"
    exit 1
fi

failed=0
# Each thing is listed before it is made, so that even an interrupted run
# leaves nothing that --remove would not take away.
record() { is_ours "$1" || { printf '%s\n' "$1" >>"$manifest"; ours+=("$1"); }; }
listed=()
folder=$data/verbanor
while [ ! -d "$folder" ]; do listed=("$folder/" "${listed[@]}"); folder=$(dirname "$folder"); done
mkdir -p "$data/verbanor"
for folder in "${listed[@]}"; do record "$folder"; done
make_dir() {
    [ -d "$1" ] && return 0
    make_dir "$(dirname "$1")"
    record "$1/"
    mkdir "$1"
}
# True when FILE may be written: it is not there, or it is ours. A file of
# that name that someone else made is kept.
claim() {
    if [ -e "$1" ] && ! is_ours "$1"; then
        say "$1 exists and was not installed by this script; it is left as it is"
        failed=1
        return 1
    fi
    make_dir "$(dirname "$1")"
    record "$1"
}

# One argument of an Exec line: quoted where it has to be, then escaped as a
# desktop file string (a backslash doubled, a percent sign doubled).
exec_arg() {
    local a=$1
    if [[ "$a" =~ [^A-Za-z0-9_/.,:=+@-] ]]; then
        a=${a//\\/\\\\}; a=${a//\"/\\\"}; a=${a//\`/\\\`}; a=${a//\$/\\\$}
        a="\"$a\""
    fi
    a=${a//\\/\\\\}
    printf '%s' "${a//%/%%}"
}
command_of() { # command_of PROGRAM: the Exec line's command, without field codes
    if [ "${VERBANOR_BUILD:-}" ]; then
        # As the scripts would take it: a relative folder from where it was given.
        local build=$VERBANOR_BUILD
        case "$build" in /*) ;; *) build=$PWD/$build ;; esac
        printf 'env %s ' "$(exec_arg "VERBANOR_BUILD=$build")"
    fi
    printf '%s %s' "$(exec_arg "$root/scripts/launch.sh")" "$1"
}

launcher() { # launcher PROGRAM ICO NAME GENERIC COMMENT CATEGORIES [MIME]
    local prog=$1 ico=$2 icon=verbanor-$1 w h idx png exec desktop=$data/applications/verbanor-$1.desktop
    # Every picture in the .ico becomes the theme's icon of that size.
    while read -r w h idx; do
        png=$data/icons/hicolor/${w}x$h/apps/$icon.png
        if claim "$png"; then convert "${ico}[$idx]" "png:$png.new" && mv "$png.new" "$png"; fi
    done < <(identify -format '%w %h %p\n' "$ico")
    exec=$(command_of "$prog")
    [ -z "${7:-}" ] || exec+=" %f"
    claim "$desktop" || return 0
    {
        printf '[Desktop Entry]\nType=Application\nVersion=1.0\n'
        printf 'Name=%s\nGenericName=%s\nComment=%s\n' "$3" "$4" "$5"
        printf 'Icon=%s\nExec=%s\nTerminal=false\nCategories=%s\n' "$icon" "$exec" "$6"
        # Wine names a program's windows after its .exe: docks then put them
        # with their launcher.
        printf 'StartupWMClass=%s.exe\n' "$prog"
        [ -z "${7:-}" ] || printf 'MimeType=%s\n' "$7"
    } >"$desktop.new"
    mv "$desktop.new" "$desktop"
}
launcher vorira "$root/olvaso/read.ico" Vorira "Felolvasó szövegszerkesztő" \
    "Szöveg szerkesztése és felolvasása magyar hangon" "Utility;TextEditor;Accessibility;" "text/plain;"
launcher dalnoka "$root/dalnoka/head.ico" Dalnoka "Vágólap-felolvasó" \
    "A vágólapra másolt szöveg felolvasása beszélő fejjel" "Utility;Accessibility;"
launcher lexibar "$root/lexibar/lexibar.ico" Lexibar "Kiejtési szótár" \
    "A beszédmotor felhasználói kiejtési szótárának szerkesztése" "Utility;Accessibility;"

refresh_mime_cache
[ "$failed" = 1 ] || say "launchers installed in $data/applications"
if [ ! -f "${VERBANOR_BUILD:-$root/build}/olvaso/vorira.exe" ] && [ ! -f "$root/build/x86_64/olvaso/vorira.exe" ]; then
    say "the programs are not built yet: run scripts/run.sh vorira once in a terminal first"
fi
exit "$failed"
