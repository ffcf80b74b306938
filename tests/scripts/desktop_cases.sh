# Desktop integration, sourced by test_scripts.sh (its scratch build, person,
# check, stop_prefix, ssip_probe): the launchers install, validate, start
# Vorira at once (no set-up) on a file in a folder with blanks, say in a
# window when the build is not ready, and go again without a trace; Vorira
# speaks through a running desktop speech-dispatcher (a recording stand-in on
# a Unix socket), which nobody without the bridge's secret reaches, and with
# only a dead socket there through a private server.

# The first X window whose name matches, waited for up to SECONDS.
window_named() { # window_named REGEX SECONDS
    local wid i
    for ((i = 0; i < $2 * 2; i++)); do
        wid=$(xdotool search --name "$1" 2>/dev/null | head -1)
        [ -z "$wid" ] || { echo "$wid"; return 0; }
        sleep 0.5
    done
    return 1
}

desktop_cases() {
    local dhome=$scratch/desktop-home xdg=$scratch/xdg rec=$scratch/desktop-speech.rec
    local apps=$scratch/desktop-home/.local/share/applications sock text="$scratch/Saját mappa/felolvasandó szöveg.txt"
    local before fake f icon wid
    sock=$xdg/speech-dispatcher/speechd.sock
    mkdir -p "$dhome/.local/share"
    echo "the person's own" >"$dhome/.local/share/keep.txt"
    before=$(cd "$dhome" && find . | sort)

    person "$dhome" "$root/scripts/install-desktop.sh" >"$scratch/install-desktop.log" 2>&1
    check "install-desktop.sh installs the three launchers" \
        test "$(ls "$apps" 2>/dev/null | tr '\n' ' ')" = "verbanor-dalnoka.desktop verbanor-lexibar.desktop verbanor-vorira.desktop "
    check "the launchers validate" desktop-file-validate "$apps"/*.desktop
    for f in "$apps"/*.desktop; do
        icon=$(sed -n 's/^Icon=//p' "$f")
        check "$icon has its icon in the theme" test -n "$(identify "$dhome"/.local/share/icons/hicolor/32x32/apps/"$icon".png 2>/dev/null)"
    done

    # The person's desktop speech-dispatcher is up; Vorira is opened on a
    # file through its launcher, as a file manager would.
    mkdir -m 700 "$xdg"
    python3 "$here/fake_speechd.py" "$sock" "$rec" &
    fake=$!
    for _ in $(seq 50); do [ -S "$sock" ] && break; sleep 0.1; done
    mkdir -p "$(dirname "$text")"
    printf 'Ez az asztali beszed probaja.\n' >"$text"
    : >"$scratch/cmake.calls"
    person "$dhome" env XDG_RUNTIME_DIR="$xdg" DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus" \
        gio launch "$apps/verbanor-vorira.desktop" "$text" >"$scratch/launch.log" 2>&1
    wid=$(window_named '^Vorira - ' 120)
    # A file Vorira could not load leaves it untitled, behind a message.
    check "the launcher opens Vorira on the file" \
        eval '[ -n "$wid" ] && [[ "$(xdotool getwindowname "$wid")" != *névtelen* ]]'
    check "the launcher starts the program without a set-up" test ! -s "$scratch/cmake.calls"
    if [ -n "$wid" ]; then
        xdotool windowfocus --sync "$wid" 2>/dev/null
        xdotool key --clearmodifiers F3
        for _ in $(seq 60); do grep -q '^DATA:Ez az asztali' "$rec" 2>/dev/null && break; sleep 0.5; done
    fi
    check "Vorira speaks through the desktop's speech-dispatcher" grep -q '^DATA:Ez az asztali beszed probaja\.' "$rec"
    check "no private speech server is started beside it" test ! -f "$build/speech-server/env"
    stop_prefix "$build/wineprefix"
    for _ in $(seq 40); do pgrep -f "speechd-bridge.py $sock" >/dev/null || break; sleep 0.25; done
    check "the bridge ends with run.sh" eval 'command -v pgrep >/dev/null && ! pgrep -f "speechd-bridge.py $sock" >/dev/null'
    # Any local account, and any web page, can reach the bridge's port: the
    # server sees not a byte of anyone who does not prove the secret.
    local owner out port key
    sleep 60 &
    owner=$!
    out=$(python3 "$root/scripts/speechd-bridge.py" "$sock" --owner "$owner")
    port=$(sed -n 's/^SPEECHRT_SSIP=127.0.0.1://p' <<<"$out")
    key=$(sed -n 's/^SPEECHRT_SSIP_KEY=//p' <<<"$out")
    : >"$rec"
    check "the bridge turns away a client that does not prove its secret" turned_away "$port"
    check "the bridge turns away a wrong proof" turned_away "$port" "$(tr 0-9a-f 1-9a-f0 <<<"$key")"
    check "the bridge drops a web page's POST" turned_away "$port" --http
    if can_be_nobody "the bridge turns away another account"; then
        check "the bridge turns away another account" turned_away as_nobody "$port"
    fi
    check "the desktop's server saw not a byte of them" test ! -s "$rec"
    check "the bridge lets through the holder of its secret" ssip_probe "$port" "$key"
    kill "$owner"
    kill "$fake"
    wait "$fake" 2>/dev/null

    # Left behind by a server that is gone: nobody answers, so nothing is
    # started there and our own server speaks.
    rm -f "$sock"
    python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$sock"
    person "$dhome" env XDG_RUNTIME_DIR="$xdg" "$root/scripts/run.sh" vorira >"$scratch/run-private.log" 2>&1 &
    local run=$!
    for _ in $(seq 240); do vorira_open && break; kill -0 "$run" 2>/dev/null || break; sleep 0.5; done
    check "with no desktop speech-dispatcher answering, a private one speaks" \
        grep -q '^SPEECHRT_SSIP=127.0.0.1:' "$build/speech-server/env"
    check "nothing was started on the dead socket" \
        eval '! python3 -c "import socket, sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])" "$sock" 2>/dev/null'
    stop_prefix "$build/wineprefix"
    wait "$run" 2>/dev/null

    # Launchers of a build that is not there: a window says what to do.
    person "$dhome" env VERBANOR_BUILD="$scratch/not-built" "$root/scripts/install-desktop.sh" \
        >>"$scratch/install-desktop.log" 2>&1
    person "$dhome" env DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/no-bus" \
        gio launch "$apps/verbanor-dalnoka.desktop" >>"$scratch/launch.log" 2>&1
    wid=$(window_named '^Verbanor: Dalnoka$' 30)
    check "a launcher of a build that is not ready says so in a window" test -n "$wid"
    [ -z "$wid" ] || xdotool windowkill "$wid" 2>/dev/null

    person "$dhome" "$root/scripts/install-desktop.sh" --remove >>"$scratch/install-desktop.log" 2>&1
    check "--remove takes away exactly what was installed" test "$(cd "$dhome" && find . | sort)" = "$before"
}
desktop_cases
