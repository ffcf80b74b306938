#!/usr/bin/env bash
# Gives the stand-in speech runtime a speech server to talk to: a private
# speech-dispatcher on 127.0.0.1 driving eSpeak NG in Hungarian, and under it
# a private PulseAudio where no audio server runs. Whatever it starts it
# records by PID in the state folder, and `stop` ends exactly that.
#
#   scripts/speech-server.sh start STATE_DIR [PORT] [--null-sink] [--cold]
#   scripts/speech-server.sh stop STATE_DIR
#
# `start` prints the variables to export (SPEECHRT_SSIP, and PULSE_SERVER when
# it started PulseAudio) and keeps them in STATE_DIR/env. A server already
# listening on PORT (default 6560) is used as it is. --null-sink always starts
# a private PulseAudio whose only output is the sink "verbanor" (its monitor
# "verbanor.monitor" records what is played), for tests and measurements.
# --cold leaves out the silent warm-up message (to measure a cold start).
set -euo pipefail

say() { printf 'speech-server: %s\n' "$*" >&2; }

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# PID files are only trusted while the process still runs that program: a
# number the system has given to someone else since is left alone.
alive_as() {
    local pid=$1 name=$2
    [ -n "$pid" ] && [ -r "/proc/$pid/comm" ] && [[ "$(cat "/proc/$pid/comm" 2>/dev/null)" == "$name"* ]]
}

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
    local dir=$1
    # speech-dispatcher first: if PulseAudio goes before it, it wedges.
    stop_pid "$dir/speech-dispatcher.pid" speech-dispatc
    stop_pid "$dir/pulseaudio.pid" pulseaudio
}

start_pulseaudio() {
    local dir=$1 null=$2 i
    mkdir -p "$dir/pulse"
    rm -f "$dir/pulse/native"
    local args=(--daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=file:"$dir/pulseaudio.log")
    if [ "$null" = 1 ]; then
        args+=(-n
               -L "module-native-protocol-unix socket=$dir/pulse/native auth-anonymous=1"
               -L "module-null-sink sink_name=verbanor rate=22050 channels=1"
               -L "module-always-sink")
    fi
    # The private runtime folder keeps it from meeting any other PulseAudio.
    PULSE_RUNTIME_PATH="$dir/pulse" XDG_RUNTIME_DIR="$dir/pulse" \
        setsid pulseaudio "${args[@]}" </dev/null >>"$dir/pulseaudio.log" 2>&1 &
    echo $! >"$dir/pulseaudio.pid"
    for i in $(seq 100); do
        PULSE_SERVER="unix:$dir/pulse/native" pactl info >/dev/null 2>&1 && return 0
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
        cp /etc/speech-dispatcher/modules/espeak-ng.conf "$conf/modules/"
    else
        : >"$conf/modules/espeak-ng.conf"
    fi
    setsid speech-dispatcher -s -t 0 -c inet_socket -p "$port" -C "$conf" -P "$dir/speechd-own.pid" \
        -L "$dir/log" </dev/null >>"$dir/log/stdout.log" 2>&1 &
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
    python3 - "$1" <<'EOF'
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

cmd=${1:-}
dir=${2:-}
[ -n "$dir" ] || { echo "usage: $0 start|stop STATE_DIR [PORT] [--null-sink]" >&2; exit 2; }
case "$cmd" in
stop)
    stop_all "$dir"
    exit 0 ;;
start) ;;
*) echo "usage: $0 start|stop STATE_DIR [PORT] [--null-sink]" >&2; exit 2 ;;
esac
shift 2
port=6560 null=0 warm=1
for a in "$@"; do
    case "$a" in
    --null-sink) null=1 ;;
    --cold) warm=0 ;;
    *) port=$a ;;
    esac
done
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
if [ "$null" = 0 ] && listening "$port"; then
    say "using the speech server already listening on 127.0.0.1:$port"
    echo "SPEECHRT_SSIP=127.0.0.1:$port" | tee "$dir/env"
    exit 0
fi
if [ "$null" = 1 ] && listening "$port"; then
    say "port $port is taken"
    exit 1
fi
# What a run that was killed left behind belongs to us: end it first.
stop_all "$dir"
: >"$dir/env"
for tool in speech-dispatcher pulseaudio pactl python3; do
    command -v "$tool" >/dev/null || { say "$tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done

pulse=
if [ "$null" = 1 ] || ! pactl info >/dev/null 2>&1; then
    start_pulseaudio "$dir" "$null" || { stop_all "$dir"; exit 1; }
    pulse="unix:$dir/pulse/native"
fi
[ -z "$pulse" ] || export PULSE_SERVER=$pulse
start_dispatcher "$dir" "$port" || { stop_all "$dir"; exit 1; }
[ "$warm" = 0 ] || warm_up "$port" || say "the warm-up message got no answer; going on"
say "speech-dispatcher on 127.0.0.1:$port${pulse:+, over a private PulseAudio}"
{
    echo "SPEECHRT_SSIP=127.0.0.1:$port"
    [ -z "$pulse" ] || echo "PULSE_SERVER=$pulse"
} | tee "$dir/env"
