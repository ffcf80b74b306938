#!/usr/bin/env bash
# Every command a person runs answers --help and refuses an unknown option
# before it does anything: no package query or install, no build, no Wine or
# display, nothing written into the folder it was started in, the build
# folder or the home.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin" "$scratch/cwd" "$scratch/home"
# What a command would do first is recorded instead; ctest still lists its
# options, against which test.sh checks what it is given.
for tool in sudo apt-get dpkg dpkg-query locale cmake ctest make wine wineserver wineboot Xvfb xdotool python3 git zip; do
    printf '#!/bin/sh\n[ "%s $1" != "ctest --help" ] || exec /usr/bin/ctest --help\necho "%s $*" >>"%s/called"\nexit 1\n' \
        "$tool" "$tool" "$scratch" >"$scratch/bin/$tool"
    chmod +x "$scratch/bin/$tool"
done

failures=0
check() { # check WHAT COMMAND...
    if "${@:2}"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
untouched() {
    [ ! -e "$scratch/called" ] && [ -z "$(find "$scratch/cwd" "$scratch/home" -mindepth 1)" ] && [ ! -e "$scratch/build" ]
}
ran() { [ ! -e "$scratch/called" ] || printf '; it ran: %s' "$(head -n 3 "$scratch/called" | tr '\n' ' ')"; }
# run COMMAND...: in the scratch folder, with the stand-ins first on the path.
run() {
    (cd "$scratch/cwd" && env -i PATH="$scratch/bin:/usr/bin:/bin" HOME="$scratch/home" LANG=C.UTF-8 \
        VERBANOR_BUILD="$scratch/build" timeout 60 "$@" >"$scratch/out" 2>"$scratch/err" </dev/null)
}

for command in run.sh setup.sh test.sh soak.sh install-desktop.sh package.sh bench_audio.sh bench_startup.sh \
    bench_dictionary.sh bench_release.sh bench_vorira.py bench_dalnoka.py; do
    script=$root/scripts/$command
    [[ "$command" != *.py ]] || script="/usr/bin/python3 $script"
    run $script --help
    check "$command --help answers" test $? = 0 -a -s "$scratch/out"
    check "$command --help does nothing else$(ran)" untouched
    rm -rf "$scratch/called" "$scratch/build" && find "$scratch/cwd" "$scratch/home" -mindepth 1 -delete
    run $script --no-such-option
    check "$command refuses an unknown option" test $? = 2 -a -n "$(grep -- --no-such-option "$scratch/err")"
    check "$command does nothing else then$(ran)" untouched
    rm -rf "$scratch/called" "$scratch/build" && find "$scratch/cwd" "$scratch/home" -mindepth 1 -delete
done

# Nothing installed: the set-up asks apt for everything at once (or, without
# administrator rights, an administrator), and stops where apt fails.
printf '#!/bin/sh\nexit 1\n' >"$scratch/bin/dpkg-query"
printf '#!/bin/sh\necho hu_HU.utf8\n' >"$scratch/bin/locale"
printf '#!/bin/sh\necho i386\n' >"$scratch/bin/dpkg"
printf '#!/bin/sh\necho "apt-get $*" >>"%s/called"\n[ "$1" = update ]\n' "$scratch" >"$scratch/bin/apt-get"
run "$root/scripts/setup.sh"
asked=$(grep -h 'install' "$scratch/called" "$scratch/err" 2>/dev/null)
for p in zip unzip; do
    check "the set-up installs $p" grep -qw -- "$p" <<<"$asked"
done
[ "$failures" = 0 ]
