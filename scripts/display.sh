# Gives the caller an X display; sourced, not run. With none usable it starts a
# private Xvfb, says so, and stops it when the calling shell exits. The Xvfb
# is told to end when the shell that started it does, however that ends.
start_virtual_display() {
    local fifo pid
    fifo=$(mktemp -u); mkfifo "$fifo"
    setpriv --pdeathsig TERM Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    pid=$!
    read -r -t 20 num <"$fifo" || { rm -f "$fifo"; echo "Xvfb did not start" >&2; return 1; }
    rm -f "$fifo"
    export DISPLAY=":$num"
    VERBANOR_XVFB_PID=$pid
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
        VERBANOR_XVFB_PID=
    fi
}
