#!/usr/bin/env bash
# Builds the Windows package verbanor-<version>-win32.zip from a clean Release
# build of the 32-bit programs and prints the sizes of what it ships. Needs
# only the cross toolchain (scripts/setup.sh installs it), iconv and zip.
#   scripts/package.sh [FOLDER]    the zip lands in FOLDER, by default dist/
#   scripts/package.sh --from BUILD FOLDER
#                                  the same package of the programs an existing
#                                  build made (the 64-bit test build where 32-bit
#                                  programs cannot run), for tests only: named
#                                  verbanor-<version>-<arch>-test.zip, never in dist/
# The stand-in speech runtime stays out of the package: registered on Windows
# it would shadow a real engine, which serves the same class ids.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
from=
if [ "${1:-}" = --from ]; then
    [ $# -eq 3 ] || { echo "usage: $0 --from BUILD FOLDER" >&2; exit 2; }
    from=$(cd "$2" && pwd)
    shift 2
fi
out=$(realpath -m "${1:-$root/dist}")
programs=(vorira.exe dalnoka.exe lexibar.exe)

say() { printf 'package: %s\n' "$*" >&2; }

if [ -z "$from" ]; then
    mkdir -p "$out"
    build=$out/.build-win32
    arch=i686
    # Clean: nothing left over from an earlier configuration slips into the zip.
    rm -rf "$build"
    say "building the 32-bit programs (Release) in $build"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVERBANOR_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
    cmake --build "$build" -j "$(nproc)" -- --no-print-directory >/dev/null
    version=$(cat "$build/version.txt")
    from=$build
    suffix=win32
else
    [ "$out" != "$root/dist" ] || { say "a package of a test build never goes into dist/"; exit 2; }
    mkdir -p "$out"
    build=$out/.build-test
    rm -rf "$build"
    mkdir -p "$build"
    # The build's toolchain file names its architecture.
    arch=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=.*mingw-\(.*\)\.cmake$/\1/p' "$from/CMakeCache.txt")
    [ -n "$arch" ] || { say "$from is not a build of the suite"; exit 2; }
    version=$(cat "$from/version.txt")
    suffix=$arch-test
fi
name=verbanor-$version
stage=$build/stage/$name
mkdir -p "$stage"
strip=$arch-w64-mingw32-strip

"$strip" -o "$stage/vorira.exe" "$from/olvaso/vorira.exe"
"$strip" -o "$stage/dalnoka.exe" "$from/dalnoka/dalnoka.exe"
"$strip" -o "$stage/lexibar.exe" "$from/lexibar/lexibar.exe"
# Measured like the programs, though it is not shipped.
"$strip" -o "$build/speechrt.dll" "$from/engine/speechrt.dll"

# The read-me's source is UTF-8 with Unix line ends; Windows' Notepad of the
# users' systems wants code page 1250 and CR LF.
sed "s/@VERSION@/$version/g" "$root/scripts/package/OLVASSEL.txt" | iconv -f UTF-8 -t CP1250 | sed 's/$/\r/' \
    >"$stage/OLVASSEL.TXT"

zip=$out/$name-$suffix.zip
rm -f "$zip"
(cd "$build/stage" && zip -q -X -D -r "$zip" "$name")

printf '%-26s %8s\n' file bytes
for f in "${programs[@]}" OLVASSEL.TXT; do
    printf '%-26s %8d\n' "$f" "$(stat -c %s "$stage/$f")"
done
printf '%-26s %8d  (not packaged)\n' speechrt.dll "$(stat -c %s "$build/speechrt.dll")"
printf '%-26s %8d\n' "$(basename "$zip")" "$(stat -c %s "$zip")"
say "wrote $zip"
