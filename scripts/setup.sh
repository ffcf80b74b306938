#!/usr/bin/env bash
# Sets up a Debian 12 machine for the suite and builds it: packages, the
# Hungarian locale, the cross-build, a Wine prefix inside the build folder and
# the stand-in speech runtime registered in it. Safe to run again: every step
# checks first whether it is already done.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/env.sh
. "$here/env.sh"

say() { printf 'setup: %s\n' "$*" >&2; }
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
          g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 cmake make wine wine32:i386 wine64
          xvfb xauth xdotool xclip x11-utils imagemagick locales fonts-wine googletest python3
          speech-dispatcher speech-dispatcher-espeak-ng espeak-ng pulseaudio-utils sox)
# Real speech needs an audio server. A desktop running PipeWire's PulseAudio
# service has one, and a second PulseAudio installed beside it could be
# started by the session in its place.
dpkg-query -W -f='${Status}' pipewire-pulse 2>/dev/null | grep -q 'install ok installed' || packages+=(pulseaudio)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    say "installing ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qi '^hu_HU\.utf-\?8$'; then
    say "generating the hu_HU.UTF-8 locale"
    as_root sed -i 's/^# *\(hu_HU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^hu_HU.UTF-8 UTF-8' /etc/locale.gen || echo 'hu_HU.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
fi

# Now that Wine is installed, whether it can run 32-bit programs is known.
# shellcheck source=scripts/env.sh
. "$here/env.sh"

build_tree() { # build_tree FOLDER ARCH [CMAKE ARGS...]
    local dir=$1 arch=$2
    shift 2
    say "building in $dir"
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$VERBANOR_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_TOOLCHAIN_FILE="$VERBANOR_ROOT/cmake/mingw-$arch.cmake" "$@" >/dev/null
    fi
    cmake --build "$dir" -j "$(nproc)" -- --no-print-directory >/dev/null
}
if [ "$VERBANOR_ARCH" != i686 ]; then
    say "this kernel cannot run 32-bit programs: the 32-bit programs are built, but run and tested as a 64-bit build"
    build_tree "$VERBANOR_ROOT/build/win32" i686 -DVERBANOR_TESTS=OFF
fi
build_tree "$VERBANOR_BUILD" "$VERBANOR_ARCH"

if [ ! -f "$WINEPREFIX/.verbanor-ready" ]; then
    # A half-made prefix fails in odd ways later: start again from nothing.
    rm -rf "$WINEPREFIX"
    say "creating the Wine prefix $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
    # This Wine does not find its own fonts; window frames need Marlett.
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    # Wine draws the frames itself: no window manager needed, and closing a
    # window does not cost two seconds.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.verbanor-ready"
fi

say "registering the stand-in speech runtime"
wine regsvr32 /s "$(winepath -w "$VERBANOR_BUILD/engine/speechrt.dll" 2>/dev/null)" </dev/null >/dev/null 2>&1 \
    || { say "registering the speech runtime failed"; exit 1; }
say "ready"
