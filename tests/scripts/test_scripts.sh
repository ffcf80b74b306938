#!/usr/bin/env bash
# The README's two commands as a person on a desktop meets them, in a scratch
# build under a folder with accented letters, inside this build folder: real
# Wine prefixes, a real Vorira from run.sh, two test.sh runs at once beside
# it (CTest and CMake stood in for, the build itself is this build's). Then:
# nothing that is not the project's is deleted or stopped, the tests have a
# prefix of their own and take turns, only theirs is unmanaged, the runtime
# is registered under the true path, and nothing lands in the home or /tmp.
#
# Environment: VERBANOR_BUILD (this build, for its DLL and Vorira; CTest sets
# it), VERBANOR_ARCH; VERBANOR_SCRIPTS_ROOT tests another checkout's scripts.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${VERBANOR_SCRIPTS_ROOT:-$(cd "$here/../.." && pwd)}
built=${VERBANOR_BUILD:?the build folder}
arch=${VERBANOR_ARCH:-i686}
[ "$arch" = x86_64 ] || arch=i686
scratch=$(mktemp -d "$built/scripts-test.XXXXXX")
# shellcheck source=scripts/display.sh
. "$here/../../scripts/display.sh"

failures=0
check() { # check WHAT COMMAND...
    if "${@:2}"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}

# A build of this checkout, as far as the scripts can tell, in FOLDER.
fake_build() {
    mkdir -p "$1/engine" "$1/olvaso"
    cp "$built/engine/speechrt.dll" "$1/engine/"
    cp "$built/olvaso/vorira.exe" "$1/olvaso/"
    printf 'CMAKE_HOME_DIRECTORY:INTERNAL=%s\n' "$root" >"$1/CMakeCache.txt"
    : >"$1/Makefile"
}
mkdir -p "$scratch/bin" "$scratch/home" "$scratch/user-home" "$scratch/tmp" "$scratch/own-prefix"
printf '#!/bin/sh\necho "cmake $*" >>"%s/cmake.calls"\n' "$scratch" >"$scratch/bin/cmake"
cat >"$scratch/bin/ctest" <<EOF
#!/bin/sh
[ "\$1" != --help ] || exec /usr/bin/ctest --help
echo "start \$(date +%s.%N) \$WINEPREFIX" >>"$scratch/ctest.log"
sleep 3
echo "end \$(date +%s.%N)" >>"$scratch/ctest.log"
EOF
chmod +x "$scratch/bin/"*
echo "a person's own Wine prefix" >"$scratch/own-prefix/keep"

build=$scratch/Letöltések/build
other=$scratch/other/build
fake_build "$build"
fake_build "$other"
mkdir -p "$other/wineprefix"
echo "not the project's" >"$other/wineprefix/notes.txt"

# A person's shell: their own Wine exported (a prefix, and a server, loader,
# architecture and DLL folder that are not this build's), no build variables.
if [ "$arch" = i686 ]; then their_arch=win64; else their_arch=win32; fi
person() { # person HOME COMMAND...
    local home=$1
    shift
    env -i PATH="$scratch/bin:/usr/local/bin:/usr/bin:/bin" HOME="$home" TMPDIR="$scratch/tmp" LANG=C.UTF-8 \
        USER="$(id -un)" VERBANOR_ARCH="$arch" VERBANOR_BUILD="$build" WINEPREFIX="$scratch/own-prefix" \
        WINESERVER=/nonexistent/wineserver WINELOADER=/nonexistent/wine WINEARCH="$their_arch" \
        WINEDLLPATH=/nonexistent ${DISPLAY:+DISPLAY="$DISPLAY"} ${XAUTHORITY:+XAUTHORITY="$XAUTHORITY"} "$@"
}
# Another local account, for the doors that must stay shut to it. Only root
# can act as one: elsewhere those checks are skipped, and say so.
as_nobody() { setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }
can_be_nobody() { [ "$(id -u)" = 0 ] || { echo "skip: $1 (not root: no other account to act as)"; return 1; }; }
# One SSIP answer from a speech server (a bridge's port or a socket), as
# tests/scripts/ssip_probe.py asks for it: 0 answered, 3 turned away.
ssip_probe() { # ssip_probe [as_nobody] PORT|SOCKET [KEY|--http]
    local runner=()
    [ "$1" != as_nobody ] || { runner=(as_nobody); shift; }
    "${runner[@]}" /usr/bin/python3 - "$@" <"$here/ssip_probe.py" 2>/dev/null
}
turned_away() { ssip_probe "$@"; [ $? = 3 ]; }

# Ends every program of a scratch prefix. Wine finds the server through a
# folder under TMPDIR: the system's, or (older scripts) the person's.
stop_prefix() {
    [ -f "$1/wineserver" ] || return 0
    (unset TMPDIR; export WINEPREFIX=$1; timeout 30 /usr/bin/wineserver -k; timeout 30 /usr/bin/wineserver -w) 2>/dev/null
    (export TMPDIR=$scratch/tmp WINEPREFIX=$1; timeout 30 /usr/bin/wineserver -k; timeout 30 /usr/bin/wineserver -w) 2>/dev/null
}
run_pid= keeper=
cleanup() {
    [ -z "$run_pid" ] || kill "$run_pid" 2>/dev/null
    [ -z "$keeper" ] || kill "$keeper" 2>/dev/null
    local p
    for p in "$build/wineprefix" "$build/test-prefix" "$other/wineprefix"; do
        stop_prefix "$p"
        # Wine's server folder for this prefix, named in it.
        [ ! -f "$p/wineserver" ] || [ -z "$(cat "$p/wineserver")" ] || rm -rf "/tmp/$(cat "$p/wineserver")"
    done
    stop_virtual_display
    wait 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# 1. A folder the project did not make is neither deleted nor used.
person "$scratch/home" env VERBANOR_BUILD="$other" timeout 300 "$root/scripts/setup.sh" >/dev/null 2>&1
check "a prefix folder the project did not make is left alone" test -f "$other/wineprefix/notes.txt"

# 2. Vorira from run.sh, open while the tests run, on a display that no
# other account can open, of a desktop that asks for large text (as a scale
# of 2 does). A client of the test's own keeps the display from resetting its
# resources until Wine's are there.
start_virtual_display || exit 1
check "the display lets in its own account" eval 'xdpyinfo >/dev/null 2>&1'
if can_be_nobody "another account cannot open the display"; then
    check "another account cannot open the display" \
        eval '[[ "$(as_nobody xdpyinfo 2>&1)" == *"unable to open display"* ]]'
fi
xprop -root -spy >/dev/null 2>&1 &
keeper=$!
xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "$(printf 'Xft.dpi:\t192\n')"
person "$scratch/user-home" "$root/scripts/run.sh" vorira >"$scratch/run.log" 2>&1 &
run_pid=$!
vorira_open() { xdotool search --name '^Vorira - ' >/dev/null 2>&1; }
for _ in $(seq 300); do vorira_open && break; kill -0 "$run_pid" 2>/dev/null || break; sleep 0.5; done
check "run.sh opens Vorira" vorira_open || { cat "$scratch/run.log"; exit 1; }
vorira_env() { tr '\0' '\n' <"/proc/$(pgrep -f "$build/olvaso/vorira.exe" | head -1)/environ" 2>/dev/null; }
check "the Wine settings a person exported do not reach the project's Wine" \
    eval 'vorira_env | grep -q "^WINEPREFIX=$build/" && ! vorira_env | grep -q "=/nonexistent\|^WINEARCH="'

person "$scratch/home" timeout 400 "$root/scripts/test.sh" >"$scratch/test1.log" 2>&1 &
test1=$!
person "$scratch/home" timeout 400 "$root/scripts/test.sh" >"$scratch/test2.log" 2>&1 &
test2=$!
wait "$test1" "$test2"
check "Vorira is still open after two test runs" vorira_open
check "the person's own prefix is untouched" test "$(ls -A "$scratch/own-prefix")" = keep
read -r s1 e1 s2 e2 <<<"$(awk '{print $2}' "$scratch/ctest.log" 2>/dev/null | tr '\n' ' ')"
check "both test runs reached CTest" test -n "${e2:-}"
check "the two test runs took turns" python3 -c "import sys; a, b, c, d = map(float, sys.argv[1:]); sys.exit(not (b <= c or d <= a))" \
    "${s1:-0}" "${e1:-1}" "${s2:-0}" "${e2:-1}"
test_prefix=$(awk '$1 == "start" {print $3; exit}' "$scratch/ctest.log" 2>/dev/null)
check "the tests run in a prefix of their own" test -n "$test_prefix" -a "$test_prefix" != "$build/wineprefix"
check "the tests leave the home alone" test -z "$(ls -A "$scratch/home")"

# Vorira ends; its prefix's registry is then on disk.
stop_prefix "$build/wineprefix"
wait "$run_pid" 2>/dev/null
run_pid=
unmanaged() { grep -A3 -F '[Software\\Wine\\X11 Driver]' "$1/user.reg" 2>/dev/null | grep -q '"Managed"="N"'; }
log_pixels() { sed -n '/^\[Control Panel\\\\Desktop\]/,/^\[/s/^"LogPixels"=dword:0*//p' "$1/user.reg" 2>/dev/null; }
check "run.sh gives the prefix the desktop's 192 DPI, and says so" \
    eval '[ "$(log_pixels "$build/wineprefix")" = c0 ] && grep -q "192 DPI" "$scratch/run.log"'
check "the person's prefix leaves windows to the desktop" eval '! unmanaged "$build/wineprefix"'
check "the tests' prefix draws its own frames" unmanaged "${test_prefix:-/nonexistent}"
registered() { # the runtime's path in PREFIX's registry, decoded from Wine's escapes
    python3 - "$1/system.reg" <<'EOF'
import re, sys
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    if line.startswith("@=") and "speechrt.dll" in line:
        print(re.sub(r'\\(x[0-9a-fA-F]{1,4}|.)', lambda m: chr(int(m.group(1)[1:], 16)) if m.group(1)[0] == "x"
                     and len(m.group(1)) > 1 else m.group(1), line.strip()[3:-1]))
EOF
}
expected="Z:${build//\//\\}\\engine\\speechrt.dll"
check "Wine's menu builder writes nothing into the person's home" \
    test ! -e "$scratch/user-home/.local/share/applications" -a ! -e "$scratch/user-home/.config/menus"
check "the runtime is registered under its true path" test "$(registered "$build/wineprefix" | sort -u)" = "$expected"

# 8. Temporary folders of the end-to-end tests, and the test speech server's state.
person "$scratch/home" python3 -c "import sys; sys.path.insert(0, '$root/tests/e2e'); import harness, tempfile
tempfile.mkdtemp(prefix='e2e-check-')"
check "the end-to-end tests leave nothing in the temporary folder" test -z "$(ls "$scratch/tmp" | grep '^e2e-')"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
if command -v pulseaudio >/dev/null && command -v speech-dispatcher >/dev/null; then
    port=$(free_port)
    person "$scratch/home" "$root/scripts/speech-server.sh" start "$scratch/speech" "$port" --null-sink --cold \
        >"$scratch/speech.env" 2>"$scratch/speech-server.log"
    # Nobody but the holder of the secret reaches the private server.
    key=$(sed -n 's/^SPEECHRT_SSIP_KEY=//p' "$scratch/speech.env")
    check "the private speech server answers the holder of its secret" ssip_probe "$port" "$key"
    check "it turns away a client of this account that does not prove the secret" turned_away "$port"
    check "it turns away a web page's POST" turned_away "$port" --http
    if can_be_nobody "another account reaches neither its port nor its socket"; then
        check "another account reaches neither its port nor its socket" \
            eval 'turned_away as_nobody "$port" && ! ssip_probe as_nobody "$scratch/speech/ssip"'
    fi
    # A second start for another port does not stop the server its owners use.
    sleep 60 &
    other_owner=$!
    serving=$(cat "$scratch/speech/speech-dispatcher.pid")
    person "$scratch/home" "$root/scripts/speech-server.sh" start "$scratch/speech" "$(free_port)" --null-sink --cold \
        --owner "$other_owner" >/dev/null 2>>"$scratch/speech-server.log"
    check "a start for another port leaves the server in use running" \
        eval 'kill -0 "$serving" && [ "$(cat "$scratch/speech/speech-dispatcher.pid")" = "$serving" ]'
    kill "$other_owner"
    person "$scratch/home" "$root/scripts/speech-server.sh" stop "$scratch/speech" >/dev/null 2>&1
    # Its state in a folder with blanks, deeper than a Unix socket's path
    # allows, as a checkout on a desktop may be. eSpeak NG takes 159 bytes of
    # HOME/espeak-ng-data and looks for its voices there when that is a folder:
    # a server's home of just that length must not take its voices away.
    port=$(free_port)
    speech="$scratch/Hosszú mappa/"
    speech+="$(printf 'x%.0s' $(seq $((159 - $(printf %s "$speech/speech/home" | wc -c)))))/speech"
    person "$scratch/home" "$root/scripts/speech-server.sh" start "$speech" "$port" --null-sink --cold \
        >"$scratch/speech.env" 2>>"$scratch/speech-server.log"
    pulse=$(sed -n 's/^PULSE_SERVER=//p' "$scratch/speech.env")
    key=$(sed -n 's/^SPEECHRT_SSIP_KEY=//p' "$scratch/speech.env")
    check "the tests' speech server starts in a deep folder with blanks, with its null sink" \
        eval 'PULSE_SERVER="$pulse" pactl list short sinks 2>/dev/null | grep -qw verbanor'
    check "and speaks there to the holder of its secret" ssip_probe "$port" "$key"
    person "$scratch/home" "$root/scripts/speech-server.sh" stop "$speech" >/dev/null 2>&1
    check "the tests' speech server keeps its state out of the home" test -z "$(ls -A "$scratch/home")"
    check "nor a socket folder in /tmp" eval '[[ "$pulse" == unix:/tmp/verbanor-speech.* ]] && [ ! -e "$(dirname "$(dirname "${pulse#unix:}")")" ]'
fi
# A PID file left from before a reboot names a process that is not ours now,
# even one of the same name (the session's own speech-dispatcher): it stays.
mkdir -p "$scratch/stale/owners" "$scratch/decoy"
cp /bin/sleep "$scratch/decoy/speech-dispatcher"
"$scratch/decoy/speech-dispatcher" 60 &
decoy=$!
echo "$decoy" >"$scratch/stale/speech-dispatcher.pid"
echo 1 >"$scratch/stale/speech-dispatcher.started"
person "$scratch/home" "$root/scripts/speech-server.sh" stop "$scratch/stale" >/dev/null 2>&1
check "a stale PID file does not stop another's process of that name" kill -0 "$decoy"
kill "$decoy"

# shellcheck source=tests/scripts/desktop_cases.sh
. "$here/desktop_cases.sh"

# 7. The engine tests load the runtime by the Unix path the build gives them,
# a string literal, and the compiler turns narrow literals into CP1250: under
# a folder with accented letters the path must stay UTF-8 to name the DLL.
# Only the one object that holds it is compiled (a whole engine-tests build
# costs minutes); registering under such a path is checked above.
accented_engine_tests() {
    local dir=$scratch/Letöltések/engine-build
    env -u CMAKE_GENERATOR cmake -G "Unix Makefiles" -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE= \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >"$scratch/accented.log" 2>&1 \
        && make -C "$dir/tests/engine" runtime.cpp.obj >>"$scratch/accented.log" 2>&1 \
        || { check "the engine tests compile under a folder with accented letters" false; return; }
    check "the engine tests name the runtime under a folder with accented letters by its true path" \
        env LC_ALL=C grep -qaF "$dir/engine/speechrt.dll" "$dir/tests/engine/CMakeFiles/engine_tests.dir/runtime.cpp.obj"
}
accented_engine_tests

if [ "$failures" -gt 0 ]; then
    for f in "$scratch"/*.log; do echo "== $f"; cat "$f"; done
    exit 1
fi
