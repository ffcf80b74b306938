#!/usr/bin/env bash
# Gives the stand-in speech runtime a speech server to talk to: a private
# speech-dispatcher on 127.0.0.1 driving eSpeak NG in Hungarian, speaking
# through the running audio server (PulseAudio, or PipeWire's PulseAudio
# service), and under it a private PulseAudio where none answers. Whatever it
# starts it records by PID in the state folder, and ends exactly that.
#
#   scripts/speech-server.sh start STATE_DIR [PORT] [--null-sink] [--cold] [--owner PID]
#   scripts/speech-server.sh stop STATE_DIR [--owner PID]
#
# `start` prints the variables to export (SPEECHRT_SSIP, and PULSE_SERVER when
# it started PulseAudio) and keeps them in STATE_DIR/env. The servers are
# shared by the owners of one state folder (the PID given, else the caller)
# and live as long as one of them does: `stop`, or an owner's end however it
# comes (Ctrl+C, a time-out, kill), lets them go, and the last one out stops
# them. Only servers this script started are ever used, on a port of their
# own (PORT, else a free one), so that a person's text never goes to a
# server in someone else's session. --null-sink starts a private PulseAudio
# whose only output is the sink "verbanor" (its monitor "verbanor.monitor"
# records what is played), for tests and measurements; its state stays in
# STATE_DIR. --cold leaves out the silent warm-up message (to measure a cold
# start).
set -euo pipefail

say() { printf 'speech-server: %s\n' "$*" >&2; }

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# PID files are only trusted while the process still runs that program: a
# number the system has given to someone else since is left alone.
alive_as() {
    local pid=$1 name=$2
    [ -n "$pid" ] && [ -r "/proc/$pid/comm" ] && [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == "$name"* ]]
}

# A process's start time tells it from a later one given the same PID.
started_at() { sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }

stop_pid() {
    local file=$1 name=$2 pid i
    [ -f "$file" ] || return 0
    pid=$(cat "$file")
    if alive_as "$pid" "$name"; then
        kill -TERM "$pid" 2>/dev/null || true
        for i in $(seq 50); do alive_as "$pid" "$name" || break; sleep 0.1; done
        if alive_as "$pid" "$name"; then
            say "$name ($pid) did not stop; killing it"
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    rm -f "$file"
}

stop_all() {
    local dir=$1 run
    # speech-dispatcher first: if PulseAudio goes before it, it wedges.
    stop_pid "$dir/speech-dispatcher.pid" speech-dispatc
    stop_pid "$dir/pulseaudio.pid" pulseaudio
    run=$(cat "$dir/pulse-runtime" 2>/dev/null) || run=
    [[ "$run" != /tmp/verbanor-pulse.* ]] || rm -rf "$run"
    rm -f "$dir/env" "$dir/pulse-runtime"
}

# PulseAudio's folder for its socket: the state folder's, unless its path is
# too long for a Unix socket (107 bytes) or has blanks, at which PulseAudio
# splits its module arguments and PULSE_SERVER; then a private one in /tmp.
pulse_runtime() {
    local dir=$1 run
    if [ -f "$dir/pulse-runtime" ]; then cat "$dir/pulse-runtime"; return; fi
    run=$dir/pulse
    if [ "$(printf '%s/native' "$run" | wc -c)" -gt 107 ] || [[ "$run" =~ [[:space:]] ]]; then
        run=$(mktemp -d /tmp/verbanor-pulse.XXXXXX) || return 1
        echo "$run" >"$dir/pulse-runtime"
    fi
    echo "$run"
}

# Drops owners that have ended; true while one remains.
owners_left() {
    local dir=$1 f pid left=1
    for f in "$dir"/owners/*; do
        [ -f "$f" ] || continue
        pid=${f##*/}
        if [ "$(started_at "$pid")" = "$(cat "$f")" ]; then left=0; else rm -f "$f"; fi
    done
    return $left
}

running() {
    local dir=$1
    [ -f "$dir/env" ] && [ -f "$dir/port" ] && alive_as "$(cat "$dir/speech-dispatcher.pid" 2>/dev/null)" speech-dispatc \
        && listening "$(cat "$dir/port")" \
        && { [ ! -f "$dir/pulseaudio.pid" ] || alive_as "$(cat "$dir/pulseaudio.pid")" pulseaudio; }
}

audio_server_answers() {
    if command -v pactl >/dev/null 2>&1; then
        pactl info >/dev/null 2>&1
    else
        [ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native" ]
    fi
}

start_pulseaudio() {
    local dir=$1 null=$2 i run
    run=$(pulse_runtime "$dir") || return 1
    mkdir -p "$run" "$dir/home"
    rm -f "$run/native"
    local args=(--daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=file:"$dir/pulseaudio.log")
    if [ "$null" = 1 ]; then
        args+=(-n
               -L "module-native-protocol-unix socket=$run/native auth-anonymous=1"
               -L "module-null-sink sink_name=verbanor rate=22050 channels=1"
               -L "module-always-sink")
    fi
    # The private runtime folder keeps it from meeting any other PulseAudio;
    # the private home keeps its state out of the person's.
    HOME="$dir/home" PULSE_RUNTIME_PATH="$run" XDG_RUNTIME_DIR="$run" \
        setsid pulseaudio "${args[@]}" </dev/null >>"$dir/pulseaudio.log" 2>&1 {lock}>&- &
    echo $! >"$dir/pulseaudio.pid"
    for i in $(seq 100); do
        HOME="$dir/home" PULSE_SERVER="unix:$run/native" pactl info >/dev/null 2>&1 && return 0
        alive_as "$(cat "$dir/pulseaudio.pid")" pulseaudio || break
        sleep 0.1
    done
    say "PulseAudio did not start (see $dir/pulseaudio.log)"
    return 1
}

start_dispatcher() {
    local dir=$1 port=$2 i conf=$1/speechd
    mkdir -p "$conf/modules" "$dir/log"
    cat >"$conf/speechd.conf" <<EOF
CommunicationMethod "inet_socket"
Port $port
LocalhostAccessOnly 1
DefaultLanguage "hu"
DefaultModule espeak-ng
AudioOutputMethod "pulse"
LogLevel 0
AddModule "espeak-ng" "sd_espeak-ng" "espeak-ng.conf"
EOF
    if [ -f /etc/speech-dispatcher/modules/espeak-ng.conf ]; then
        { grep -v '^ *EspeakAudioChunkSize' /etc/speech-dispatcher/modules/espeak-ng.conf || true; } \
            >"$conf/modules/espeak-ng.conf"
    else
        : >"$conf/modules/espeak-ng.conf"
    fi
    # After a CANCEL the server goes on playing the module's chunks until the
    # module confirms the stop, some 60 ms later: 50 ms chunks instead of the
    # shipped 300 ms silence a reset and start speech sooner (measured with
    # scripts/bench_audio.sh).
    echo "EspeakAudioChunkSize 50" >>"$conf/modules/espeak-ng.conf"
    # No idle time-out: the owners' watch ends it.
    setsid speech-dispatcher -s -t 0 -c inet_socket -p "$port" -C "$conf" -P "$dir/speechd-own.pid" \
        -L "$dir/log" </dev/null >>"$dir/log/stdout.log" 2>&1 {lock}>&- &
    echo $! >"$dir/speech-dispatcher.pid"
    for i in $(seq 100); do
        listening "$port" && return 0
        alive_as "$(cat "$dir/speech-dispatcher.pid")" speech-dispatc || break
        sleep 0.1
    done
    say "speech-dispatcher did not start (see $dir/log)"
    return 1
}

# The first message after a start takes the server a second or more (the
# module loads its voice): say something silent now, not the user's text.
warm_up() {
    timeout 60 python3 - "$1" <<'EOF'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=30)
f = s.makefile("rb")
def reply():
    while True:
        line = f.readline()
        if not line:
            raise SystemExit("connection closed")
        if len(line) > 3 and line[3:4] == b" " and not line.startswith(b"7"):
            return line
for command in [b"SET SELF CLIENT_NAME verbanor:warmup:speechrt", b"SET SELF LANGUAGE hu",
                b"SET SELF VOLUME -100", b"SET SELF NOTIFICATION END on", b"SPEAK"]:
    s.sendall(command + b"\r\n")
    reply()
s.sendall(b"a\r\n.\r\n")
reply()
while not f.readline().startswith(b"702 "):
    pass
s.sendall(b"QUIT\r\n")
EOF
}

# Runs detached from the first owner on: once no owner is left, or the
# servers are gone, it stops them (in order) and ends.
watch() {
    local dir=$1
    while sleep 1; do
        exec {lock}>"$dir/lock"
        flock "$lock"
        if ! owners_left "$dir" || ! running "$dir"; then
            stop_all "$dir"
            rm -f "$dir/watch.pid"
            exit 0
        fi
        exec {lock}>&-
    done
}

usage() { echo "usage: $0 start|stop STATE_DIR [PORT] [--null-sink] [--cold] [--owner PID]" >&2; exit 2; }
cmd=${1:-}
dir=${2:-}
[ -n "$dir" ] || usage
case "$cmd" in start|stop|watch) ;; *) usage ;; esac
shift 2
port= null=0 warm=1 owner=$PPID
while [ $# -gt 0 ]; do
    case "$1" in
    --null-sink) null=1 ;;
    --cold) warm=0 ;;
    --owner) owner=$2; shift ;;
    *) port=$1 ;;
    esac
    shift
done
mkdir -p "$dir/owners"
dir=$(cd "$dir" && pwd)
[ "$cmd" != watch ] || watch "$dir"
# One start or stop at a time per state folder, and never while the watch
# decides: the lock is closed in every server started, so none keeps it.
exec {lock}>"$dir/lock"
flock "$lock"
if [ "$cmd" = stop ]; then
    rm -f "$dir/owners/$owner"
    owners_left "$dir" || stop_all "$dir"
    exit 0
fi

start_time=$(started_at "$owner")
[ -n "$start_time" ] || { say "owner $owner is not running"; exit 1; }
echo "$start_time" >"$dir/owners/$owner"
if running "$dir" && [ "$(cat "$dir/mode")" = "$null" ] && { [ -z "$port" ] || [ "$port" = "$(cat "$dir/port")" ]; }; then
    say "using the speech server already started here, on 127.0.0.1:$(cat "$dir/port")"
    cat "$dir/env"
    exit 0
fi
# What a run that was killed left behind belongs to us: end it first.
stop_all "$dir"
for tool in speech-dispatcher python3; do
    command -v "$tool" >/dev/null || { say "$tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done
[ -n "$port" ] || port=$(free_port)
if listening "$port"; then
    say "port $port is taken"
    exit 1
fi

pulse=
if [ "$null" = 1 ] || ! audio_server_answers; then
    for tool in pulseaudio pactl; do
        command -v "$tool" >/dev/null || { say "no audio server answers, and $tool is not installed to start one"; exit 1; }
    done
    start_pulseaudio "$dir" "$null" || { stop_all "$dir"; exit 1; }
    pulse="unix:$(pulse_runtime "$dir")/native"
    export PULSE_SERVER=$pulse HOME="$dir/home"
fi
start_dispatcher "$dir" "$port" || { stop_all "$dir"; exit 1; }
echo "$port" >"$dir/port"
echo "$null" >"$dir/mode"
{
    echo "SPEECHRT_SSIP=127.0.0.1:$port"
    [ -z "$pulse" ] || echo "PULSE_SERVER=$pulse"
} >"$dir/env"
if ! alive_as "$(cat "$dir/watch.pid" 2>/dev/null)" speech-server; then
    setsid "$0" watch "$dir" </dev/null >/dev/null 2>&1 {lock}>&- &
    echo $! >"$dir/watch.pid"
fi
[ "$warm" = 0 ] || warm_up "$port" || say "the warm-up message got no answer; going on"
say "speech-dispatcher on 127.0.0.1:$port${pulse:+, over a private PulseAudio}"
cat "$dir/env"
