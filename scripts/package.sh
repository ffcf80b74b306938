#!/usr/bin/env bash
# Builds the Windows package verbanor-<version>-win32.zip from a clean Release
# build of the 32-bit programs and prints the sizes of what it ships. Needs
# only the cross toolchain (scripts/setup.sh installs it), iconv and zip.
#   scripts/package.sh [FOLDER]    the zip lands in FOLDER, by default dist/
# The stand-in speech runtime stays out of the package: registered on Windows
# it would shadow a real engine, which serves the same class ids.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$root/dist}
mkdir -p "$out"
out=$(cd "$out" && pwd)
build=$out/.build-win32
programs=(vorira.exe dalnoka.exe lexibar.exe)

say() { printf 'package: %s\n' "$*" >&2; }

# Clean: nothing left over from an earlier configuration slips into the zip.
rm -rf "$build"
say "building the 32-bit programs (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVERBANOR_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" -- --no-print-directory >/dev/null
version=$(cat "$build/version.txt")
name=verbanor-$version
stage=$build/stage/$name
mkdir -p "$stage"

i686-w64-mingw32-strip -o "$stage/vorira.exe" "$build/olvaso/vorira.exe"
i686-w64-mingw32-strip -o "$stage/dalnoka.exe" "$build/dalnoka/dalnoka.exe"
i686-w64-mingw32-strip -o "$stage/lexibar.exe" "$build/lexibar/lexibar.exe"
# Measured like the programs, though it is not shipped.
i686-w64-mingw32-strip -o "$build/speechrt.dll" "$build/engine/speechrt.dll"

# The read-me's source is UTF-8 with Unix line ends; Windows' Notepad of the
# users' systems wants code page 1250 and CR LF.
sed "s/@VERSION@/$version/g" "$root/scripts/package/OLVASSEL.txt" | iconv -f UTF-8 -t CP1250 | sed 's/$/\r/' \
    >"$stage/OLVASSEL.TXT"

zip=$out/$name-win32.zip
rm -f "$zip"
(cd "$build/stage" && zip -q -X -D -r "$zip" "$name")

printf '%-26s %8s\n' file bytes
for f in "${programs[@]}" OLVASSEL.TXT; do
    printf '%-26s %8d\n' "$f" "$(stat -c %s "$stage/$f")"
done
printf '%-26s %8d  (not packaged)\n' speechrt.dll "$(stat -c %s "$build/speechrt.dll")"
printf '%-26s %8d\n' "$(basename "$zip")" "$(stat -c %s "$zip")"
say "wrote $zip"
