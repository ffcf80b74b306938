#!/usr/bin/env bash
# Runs the ssip_tests cases meant for the real speech-dispatcher against a
# private one on a null sink (nothing is heard), and stops exactly what it
# started. Exits 77 (skipped) where no speech-dispatcher is installed.
#   real_server.sh BUILD_DIR SSIP_TESTS_EXE
set -euo pipefail
build=$1
exe=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
command -v speech-dispatcher >/dev/null || { echo "no speech-dispatcher: skipped"; exit 77; }
# In the test run's temporary folder (TMPDIR), like every test's, not in /tmp.
state=$(mktemp -d -t speechrt-real-server.XXXXXX)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cleanup() { "$root/scripts/speech-server.sh" stop "$state" --owner $$ >/dev/null 2>&1 || true; rm -rf "$state"; }
trap cleanup EXIT
key=$("$root/scripts/speech-server.sh" start "$state" "$port" --null-sink --owner $$ | sed -n 's/^SPEECHRT_SSIP_KEY=//p')
# A rate of the user's own, which an ordinary voice must keep: the server
# reads its configuration again on SIGHUP; a new connection (on its own
# socket, not through the bridge) shows when.
echo 'DefaultRate 25' >>"$state/speechd/speechd.conf"
kill -HUP "$(cat "$state/speech-dispatcher.pid")"
python3 - "$state/ssip" <<'EOF'
import os, socket, sys, time
for _ in range(50):
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(5)
        s.connect(os.path.realpath(sys.argv[1]))
        s.sendall(b"GET RATE\r\n")
        if s.makefile("rb").readline().startswith(b"251-25\r"):
            sys.exit(0)
    time.sleep(0.1)
sys.exit("the server did not take DefaultRate 25")
EOF
export SPEECHRT_TEST_SERVER=127.0.0.1:$port SPEECHRT_TEST_SERVER_KEY=$key SPEECHRT_TEST_SERVER_RATE=25
"$root/scripts/wine-run" --build "$build" "$exe" --gtest_filter='*RealServer*'
