#!/usr/bin/env bash
# Sets up a Debian 12 machine for the suite and builds it: packages, the
# Hungarian locale, the cross-build, a Wine prefix inside the build folder and
# the stand-in speech runtime registered in it. Safe to run again: every step
# checks first whether it is already done, and says what it does and about how
# long it takes. Runs as the person who owns the checkout; only the package
# and locale step asks for administrator rights. Root may run it in a checkout
# root owns (a root shell, CI), not in a person's.
#
#   scripts/setup.sh [--help]
#
# The prefix it makes is the person's own (for run.sh), or with
# VERBANOR_TESTING=1 the tests' own.
set -euo pipefail
case "${1:-}" in
"") ;;
-h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; exit 0 ;;
*) printf 'setup: unknown argument %s (see --help)\n' "$1" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/env.sh
. "$here/env.sh"

say() { printf 'setup: %s\n' "$*" >&2; }

# Root in a person's checkout (sudo, or a root shell) would make the build
# root's, and the programs would run without the person's display and sound.
if [ "$(id -u)" = 0 ] && [ "$(stat -c %u "$VERBANOR_ROOT")" != 0 ]; then
    owner=$(stat -c %U "$VERBANOR_ROOT")
    say "this checkout belongs to $owner: please run this as $owner, without sudo; it asks for administrator rights itself, only to install packages"
    exit 1
fi
for d in "$VERBANOR_LOCKS" "$VERBANOR_BUILD"; do
    if [ -e "$d" ] && [ ! -w "$d" ]; then
        say "$d belongs to $(stat -c %U "$d") (an earlier run through sudo?); give it back with:"
        say "  sudo chown -R $(id -un): '$d'"
        exit 1
    fi
done
# Two set-ups of one checkout at once (run.sh and test.sh started together)
# would build into and create the same prefix: the second waits.
verbanor_lock "$VERBANOR_LOCKS/.setup.lock" "another set-up of $VERBANOR_BUILD is running"

packages=(g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
          g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 cmake make wine wine32:i386 wine64
          xvfb xauth xdotool xclip x11-utils imagemagick locales fonts-wine googletest python3
          speech-dispatcher speech-dispatcher-espeak-ng espeak-ng pulseaudio-utils sox
          desktop-file-utils libglib2.0-bin zip unzip procps)
# Real speech needs an audio server. A desktop running PipeWire's PulseAudio
# service has one, and a second PulseAudio installed beside it could be
# started by the session in its place.
dpkg-query -W -f='${Status}' pipewire-pulse 2>/dev/null | grep -q 'install ok installed' || packages+=(pulseaudio)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
need_locale=0
locale -a 2>/dev/null | grep -qi '^hu_HU\.utf-\?8$' || need_locale=1

if [ ${#missing[@]} -gt 0 ] || [ "$need_locale" = 1 ]; then
    need_i386=0
    dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
    # What an administrator would type, shown when this user cannot.
    admin_commands() {
        if [ ${#missing[@]} -gt 0 ]; then
            [ "$need_i386" = 0 ] || echo "  dpkg --add-architecture i386"
            echo "  apt-get update"
            echo "  apt-get install --no-install-recommends ${missing[*]}"
        fi
        if [ "$need_locale" = 1 ]; then
            echo "  sed -i 's/^# *\\(hu_HU.UTF-8 UTF-8\\)/\\1/' /etc/locale.gen"
            echo "  locale-gen"
        fi
    }
    # apt-get update, unlike the install, does not wait for another package
    # manager's lock: it is tried again while that lock is held, for up to
    # 10 minutes as the install waits.
    apt_update() {
        local log i rc
        log=$(mktemp)
        for i in $(seq 60); do
            rc=0
            as_root apt-get update 2>&1 | tee "$log" || rc=$?
            grep -q '/var/lib/apt/lists/lock' "$log" || break
            [ "$i" -gt 1 ] || say "another package manager is at work: waiting for it (up to 10 minutes)"
            sleep 10
        done
        rm -f "$log"
        return $rc
    }
    if [ "$(id -u)" = 0 ]; then
        as_root() { "$@"; }
    elif command -v sudo >/dev/null 2>&1 && { sudo -n true 2>/dev/null || { [ -t 0 ] && say "administrator rights are needed to install packages:" && sudo -v 2>/dev/null; }; }; then
        as_root() { sudo "$@"; }
    else
        {
            say "missing:${missing[*]:+ the packages ${missing[*]}}$([ "$need_locale" = 0 ] || echo ' the hu_HU.UTF-8 locale')."
            say "Installing needs administrator rights, which this account does not have here."
            say "Please ask an administrator to run, as root:"
            admin_commands
            say "and then run this command again."
        } >&2
        exit 1
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        # Every install fails until an interrupted one is finished.
        if [ -n "$(ls -A /var/lib/dpkg/updates 2>/dev/null)" ]; then
            say "an earlier package installation was interrupted; finish it first: $([ "$(id -u)" = 0 ] || echo 'sudo ')dpkg --configure -a"
            exit 1
        fi
        say "installing ${#missing[@]} packages (${missing[*]}): on a fresh machine several hundred megabytes, 3-10 minutes"
        [ "$need_i386" = 0 ] || as_root dpkg --add-architecture i386
        apt_update
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
            -o DPkg::Lock::Timeout=600 "${missing[@]}"
    fi
    if [ "$need_locale" = 1 ]; then
        say "generating the hu_HU.UTF-8 locale (seconds)"
        as_root sed -i 's/^# *\(hu_HU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -q '^hu_HU.UTF-8 UTF-8' /etc/locale.gen || echo 'hu_HU.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
        as_root locale-gen >/dev/null
    fi
fi

# Now that Wine is installed, whether it can run 32-bit programs is known.
# shellcheck source=scripts/env.sh
. "$here/env.sh"

build_tree() { # build_tree FOLDER ARCH [CMAKE ARGS...]
    local dir=$1 arch=$2 home
    shift 2
    if [ -f "$dir/CMakeCache.txt" ]; then
        home=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$dir/CMakeCache.txt")
        if [ -n "$home" ] && [ "$home" != "$VERBANOR_ROOT" ]; then
            say "$dir was configured for the sources in $home, not these ($VERBANOR_ROOT)."
            say "Choose another build folder (VERBANOR_BUILD=...) or remove that one."
            exit 1
        fi
        # A configure that failed or was interrupted leaves a cache but no
        # Makefile, and that cache would make every later run fail.
        [ -f "$dir/Makefile" ] || rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        say "building in $dir for the first time: about 3 minutes on two idle cores, longer on a busy machine"
        # The generator is chosen here, whatever CMAKE_GENERATOR says.
        env -u CMAKE_GENERATOR cmake -G "Unix Makefiles" -S "$VERBANOR_ROOT" -B "$dir" \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_TOOLCHAIN_FILE="$VERBANOR_ROOT/cmake/mingw-$arch.cmake" "$@" >/dev/null
    else
        say "bringing the build in $dir up to date (seconds, minutes after big changes)"
    fi
    env -u CMAKE_GENERATOR cmake --build "$dir" -j "$(nproc)" >/dev/null
}
if [ "$VERBANOR_ARCH" != i686 ]; then
    say "this kernel cannot run 32-bit programs: the 32-bit programs are built, but run and tested as a 64-bit build"
    build_tree "$VERBANOR_ROOT/build/win32" i686 -DVERBANOR_TESTS=OFF
fi
build_tree "$VERBANOR_BUILD" "$VERBANOR_ARCH"

# shellcheck source=scripts/prefix.sh
. "$here/prefix.sh"
if [ "${VERBANOR_TESTING:-0}" = 1 ]; then kind="test"; else kind="interactive"; fi
verbanor_make_prefix "$kind" || exit 1

say "registering the stand-in speech runtime (seconds)"
verbanor_register_runtime "$VERBANOR_BUILD/engine/speechrt.dll" || exit 1
say "ready"
