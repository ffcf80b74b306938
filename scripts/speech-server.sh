#!/usr/bin/env bash
# Gives the stand-in speech runtime a speech server to talk to: a private
# speech-dispatcher driving eSpeak NG in Hungarian, speaking through the
# running audio server (PulseAudio, or PipeWire's PulseAudio service), and
# under it a private PulseAudio where none answers. Whatever it starts it
# records by PID and start time in the state folder, and ends exactly that.
#
# The servers listen on Unix sockets in the state folder (or, where its path
# is too long for a socket or has blanks, a private folder in /tmp), which only this
# account may enter; the runtime (whose Wine has no Unix sockets) reaches
# speech-dispatcher through speechd-bridge.py on 127.0.0.1, which lets
# through only a client that proves it knows the secret of this server
# (SPEECHRT_SSIP_KEY): no other local account, and no web page, can make the
# person's audio speak or fall silent.
#
#   scripts/speech-server.sh start STATE_DIR [PORT] [--null-sink] [--cold] [--owner PID]
#   scripts/speech-server.sh stop STATE_DIR [--owner PID]
#
# `start` prints the variables to export (SPEECHRT_SSIP, SPEECHRT_SSIP_KEY, and
# PULSE_SERVER when it started PulseAudio) and keeps them in STATE_DIR/env;
# the secret lasts while an owner does, so a server started again for them
# takes them back. The servers are
# shared by the owners of one state folder (the PID given, else the caller)
# and live as long as one of them does: `stop`, or an owner's end however it
# comes (Ctrl+C, a time-out, kill), lets them go, and the last one out stops
# them. Only servers this script started are ever used, on a port of their
# own (PORT, else a free one), so that a person's text never goes to a
# server in someone else's session; one that other owners still use is not
# stopped to start another. --null-sink starts a private PulseAudio
# whose only output is the sink "verbanor" (its monitor "verbanor.monitor"
# records what is played), for tests and measurements; its state stays in
# STATE_DIR (or the sockets' folder). --cold leaves out the silent warm-up
# message (to measure a cold start).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

say() { printf 'speech-server: %s\n' "$*" >&2; }

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# A process's start time tells it from a later one given the same PID.
started_at() { sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }

# NAME.pid holds the PID of what we started, NAME.started its start time.
record() { # record PID FILE
    echo "$1" >"$2"
    started_at "$1" >"${2%.pid}.started"
}

# Prints the PID that FILE names while that very process still runs that
# program. A number the system has given to someone else since (after a
# reboot, say: the speech-dispatcher behind a screen reader, or the
# session's PulseAudio) is left alone.
recorded() { # recorded FILE NAME
    local pid start
    pid=$(cat "$1" 2>/dev/null) && start=$(cat "${1%.pid}.started" 2>/dev/null) || return 1
    [ -n "$pid" ] && [ -n "$start" ] && [ "$(started_at "$pid")" = "$start" ] \
        && [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == "$2"* ]] && echo "$pid"
}

stop_pid() {
    local file=$1 name=$2 pid i
    if pid=$(recorded "$file" "$name"); then
        kill -TERM "$pid" 2>/dev/null || true
        for i in $(seq 50); do recorded "$file" "$name" >/dev/null || break; sleep 0.1; done
        if recorded "$file" "$name" >/dev/null; then
            say "$name ($pid) did not stop; killing it"
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    rm -f "$file" "${file%.pid}.started"
}

stop_all() {
    local dir=$1 sockets
    stop_pid "$dir/bridge.pid" python3
    # speech-dispatcher first: if PulseAudio goes before it, it wedges.
    stop_pid "$dir/speech-dispatcher.pid" speech-dispatc
    stop_pid "$dir/pulseaudio.pid" pulseaudio
    sockets=$(cat "$dir/sockets" 2>/dev/null) || sockets=
    [[ "$sockets" != /tmp/verbanor-speech.* ]] || rm -rf "$sockets"
    [ ! -L "$dir/ssip" ] || rm -f "$dir/ssip"
    rm -f "$dir/env" "$dir/sockets"
}

# The folder of the servers' sockets: the state folder, unless its path is
# too long for a Unix socket (107 bytes) or has blanks, at which PulseAudio
# splits its module arguments and PULSE_SERVER; then a private one in /tmp
# (mktemp makes it 0700), and STATE_DIR/ssip links to the speech socket.
sockets_dir() {
    local dir=$1 sockets
    if [ -f "$dir/sockets" ]; then cat "$dir/sockets"; return; fi
    sockets=$dir
    if [ "$(printf '%s/pulse/native' "$dir" | wc -c)" -gt 107 ] || [[ "$dir" =~ [[:space:]] ]]; then
        sockets=$(mktemp -d /tmp/verbanor-speech.XXXXXX) || return 1
        echo "$sockets" >"$dir/sockets"
    fi
    echo "$sockets"
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
    [ -f "$dir/env" ] && [ -f "$dir/port" ] && recorded "$dir/speech-dispatcher.pid" speech-dispatc >/dev/null \
        && recorded "$dir/bridge.pid" python3 >/dev/null && listening "$(cat "$dir/port")" \
        && { [ ! -f "$dir/pulseaudio.pid" ] || recorded "$dir/pulseaudio.pid" pulseaudio >/dev/null; }
}

audio_server_answers() {
    if command -v pactl >/dev/null 2>&1; then
        pactl info >/dev/null 2>&1
    else
        [ -S "${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native" ]
    fi
}

start_pulseaudio() {
    local dir=$1 null=$2 i run home
    run=$(sockets_dir "$dir")/pulse || return 1
    home=$(sockets_dir "$dir")/home
    mkdir -p "$run" "$home"
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
    HOME="$home" PULSE_RUNTIME_PATH="$run" XDG_RUNTIME_DIR="$run" \
        setsid pulseaudio "${args[@]}" </dev/null >>"$dir/pulseaudio.log" 2>&1 {lock}>&- &
    record $! "$dir/pulseaudio.pid"
    for i in $(seq 100); do
        HOME="$home" PULSE_SERVER="unix:$run/native" pactl info >/dev/null 2>&1 && return 0
        recorded "$dir/pulseaudio.pid" pulseaudio >/dev/null || break
        sleep 0.1
    done
    say "PulseAudio did not start (see $dir/pulseaudio.log)"
    return 1
}

answers_on() { python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])' "$1" 2>/dev/null; }

# Its socket has a short name: a socket's path may not be longer than 107
# bytes, and the state folder may be deep in a checkout.
start_dispatcher() {
    local dir=$1 i conf=$1/speechd ssip
    ssip=$(sockets_dir "$dir")/ssip || return 1
    mkdir -p "$conf/modules" "$dir/log"
    rm -f "$dir/ssip" "$ssip"
    [ "$ssip" = "$dir/ssip" ] || ln -s "$ssip" "$dir/ssip"
    cat >"$conf/speechd.conf" <<EOF
CommunicationMethod "unix_socket"
SocketPath "$ssip"
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
    setsid speech-dispatcher -s -t 0 -c unix_socket -S "$ssip" -C "$conf" -P "$dir/speechd-own.pid" \
        -L "$dir/log" </dev/null >>"$dir/log/stdout.log" 2>&1 {lock}>&- &
    record $! "$dir/speech-dispatcher.pid"
    for i in $(seq 100); do
        answers_on "$ssip" && return 0
        recorded "$dir/speech-dispatcher.pid" speech-dispatc >/dev/null || break
        sleep 0.1
    done
    say "speech-dispatcher did not start (see $dir/log)"
    return 1
}

# The bridge in front of it ends with it. The secret is kept for the owners
# of the state folder, whose programs hold it.
start_bridge() {
    local dir=$1 port=$2 out
    out=$(python3 "$here/speechd-bridge.py" "$(sockets_dir "$dir")/ssip" --port "$port" --key-file "$dir/key" \
        --pid-file "$dir/bridge.pid" --owner "$(recorded "$dir/speech-dispatcher.pid" speech-dispatc)" {lock}>&-) \
        || { say "the bridge to speech-dispatcher did not start"; return 1; }
    printf '%s\n' "$out" >"$dir/env"
}

# The first message after a start takes the server a second or more (the
# module loads its voice): say something silent now, not the user's text.
warm_up() {
    timeout 60 python3 - "$1" <<'EOF'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.settimeout(30)
s.connect(sys.argv[1])
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
            owners_left "$dir" || rm -f "$dir/key"
            rm -f "$dir/watch.pid" "$dir/watch.started"
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
# The sockets and the secret are in here: this account's alone.
[ -O "$dir" ] && chmod 700 "$dir" || { say "$dir is not this account's own folder"; exit 1; }
[ "$cmd" != watch ] || watch "$dir"
# One start or stop at a time per state folder, and never while the watch
# decides: the lock is closed in every server started, so none keeps it.
exec {lock}>"$dir/lock"
flock "$lock"
if [ "$cmd" = stop ]; then
    rm -f "$dir/owners/$owner"
    owners_left "$dir" || { stop_all "$dir"; rm -f "$dir/key"; }
    exit 0
fi

start_time=$(started_at "$owner")
[ -n "$start_time" ] || { say "owner $owner is not running"; exit 1; }
if running "$dir"; then
    if [ "$(cat "$dir/mode")" = "$null" ] && { [ -z "$port" ] || [ "$port" = "$(cat "$dir/port")" ]; }; then
        echo "$start_time" >"$dir/owners/$owner"
        say "using the speech server already started here, on 127.0.0.1:$(cat "$dir/port")"
        cat "$dir/env"
        exit 0
    fi
    rm -f "$dir/owners/$owner"
    if owners_left "$dir"; then
        say "the speech server here, on 127.0.0.1:$(cat "$dir/port"), still serves other programs; use another state folder"
        exit 1
    fi
fi
# A secret no owner holds any more is not handed on.
owners_left "$dir" || rm -f "$dir/key"
echo "$start_time" >"$dir/owners/$owner"
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
    pulse="unix:$(sockets_dir "$dir")/pulse/native"
    # The home is in the sockets' short folder too: eSpeak NG, under
    # speech-dispatcher, cuts HOME/espeak-ng-data at 159 bytes and takes
    # its voices from whatever folder that names.
    export PULSE_SERVER=$pulse HOME="$(sockets_dir "$dir")/home"
fi
start_dispatcher "$dir" || { stop_all "$dir"; exit 1; }
start_bridge "$dir" "$port" || { stop_all "$dir"; exit 1; }
echo "$port" >"$dir/port"
echo "$null" >"$dir/mode"
[ -z "$pulse" ] || echo "PULSE_SERVER=$pulse" >>"$dir/env"
if ! recorded "$dir/watch.pid" speech-server >/dev/null; then
    setsid "$0" watch "$dir" </dev/null >/dev/null 2>&1 {lock}>&- &
    record $! "$dir/watch.pid"
fi
[ "$warm" = 0 ] || warm_up "$(sockets_dir "$dir")/ssip" || say "the warm-up message got no answer; going on"
say "speech-dispatcher on $dir/ssip, for those who hold its secret on 127.0.0.1:$port${pulse:+, over a private PulseAudio}"
cat "$dir/env"
