# Gives the caller an X display; sourced, not run. With none usable it starts a
# private Xvfb, says so, and stops it when the calling shell exits. The Xvfb
# is told to end when the shell that started it does, however that ends.
#
# Only the holder of its cookie may connect: the cookie is in a folder of
# this account's alone (XAUTHORITY), so no other local account can send the
# programs keys (Save As over a file of the person's) or take screenshots.
start_virtual_display() {
    local dir pid num cookie
    dir=$(mktemp -d) || return 1
    cookie=$(mcookie)
    # The server takes every cookie in its file, whatever display it names:
    # the number is known only once the server runs.
    xauth -q -f "$dir/server" add :0 . "$cookie" 2>/dev/null && mkfifo "$dir/displayfd" \
        || { rm -rf "$dir"; echo "xauth could not make a cookie for Xvfb" >&2; return 1; }
    setpriv --pdeathsig TERM Xvfb -displayfd 3 -auth "$dir/server" -screen 0 1024x768x24 -nolisten tcp \
        3>"$dir/displayfd" >/dev/null 2>&1 &
    pid=$!
    if ! read -r -t 20 num <"$dir/displayfd"; then
        kill "$pid" 2>/dev/null
        rm -rf "$dir"
        echo "Xvfb did not start" >&2
        return 1
    fi
    rm -f "$dir/displayfd"
    xauth -q -f "$dir/Xauthority" add ":$num" . "$cookie" 2>/dev/null
    export DISPLAY=":$num" XAUTHORITY="$dir/Xauthority"
    VERBANOR_XVFB_PID=$pid
    VERBANOR_XVFB_AUTH=$dir
}
ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    start_virtual_display || return 1
    echo "No X display: started a virtual one (Xvfb) on $DISPLAY." >&2
}
stop_virtual_display() {
    if [ -n "${VERBANOR_XVFB_PID:-}" ]; then
        kill "$VERBANOR_XVFB_PID" 2>/dev/null || true
        wait "$VERBANOR_XVFB_PID" 2>/dev/null || true
        rm -rf "$VERBANOR_XVFB_AUTH"
        VERBANOR_XVFB_PID=
    fi
}
