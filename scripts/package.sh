#!/usr/bin/env bash
# Builds the Windows package verbanor-<version>-win32.zip from a clean Release
# build of the 32-bit programs, writes its SHA256SUMS beside it, and prints the
# sizes of what it ships and the checksum. Two runs on one commit give the
# same bytes: the entries carry the commit's time (or SOURCE_DATE_EPOCH), in a
# fixed order, and the read-me names the commit. A tree with uncommitted
# changes is refused; --allow-dirty packages it all the same, as
# verbanor-<version>-dirty-win32.zip. Needs the cross toolchain, git, iconv and
# zip (scripts/setup.sh installs them).
#
#   scripts/package.sh [--allow-dirty] [FOLDER]
#       the zip and SHA256SUMS land in FOLDER, by default dist/
#   scripts/package.sh --from BUILD FOLDER
#       the same package of the programs an existing build made (the 64-bit
#       test build where 32-bit programs cannot run), for tests only: named
#       verbanor-<version>-<arch>-test.zip, never in dist/
#
# The build happens in a private temporary folder, never in FOLDER, which
# others may be able to write to. The stand-in speech runtime stays out of the
# package: registered on Windows it would shadow a real engine, which serves
# the same class ids.
set -euo pipefail
say() { printf 'package: %s\n' "$*" >&2; }
usage() { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "${BASH_SOURCE[0]}"; }
bad_usage() { say "$* (see --help)"; exit 2; }
from= out= dirty_ok=0
while [ $# -gt 0 ]; do
    case "$1" in
    -h|--help) usage; exit 0 ;;
    --from) [ $# -ge 2 ] || bad_usage "--from needs a build folder"; from=$2; shift ;;
    --allow-dirty) dirty_ok=1 ;;
    -*) bad_usage "unknown option $1" ;;
    *) [ -z "$out" ] || bad_usage "only one output folder"; out=$1 ;;
    esac
    shift
done
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -n "$from" ]; then
    [ -n "$out" ] || bad_usage "--from needs an output folder"
    from=$(cd "$from" && pwd)
fi
out=$(realpath -m -- "${out:-$root/dist}")
[ -z "$from" ] || [ "$out" != "$root/dist" ] || bad_usage "a package of a test build never goes into dist/"
for tool in git iconv zip sha256sum; do
    command -v "$tool" >/dev/null || { say "$tool is not installed (scripts/setup.sh installs it)"; exit 1; }
done

# Which sources the package holds: the commit, and whether the tree differs
# from it (files git does not track are not built, so they do not count).
commit= changed=1
if git -C "$root" rev-parse -q --verify HEAD >/dev/null 2>&1; then
    commit=$(git -C "$root" rev-parse HEAD)
    [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ] || changed=0
    epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct HEAD)}
else
    epoch=${SOURCE_DATE_EPOCH:-$(date +%s)}
fi
# The tools take their times from it: the compiler's __DATE__, and strip,
# which would write its own time into the PE header.
export SOURCE_DATE_EPOCH=$epoch
if [ "$changed" = 1 ] && [ -z "$from" ] && [ "$dirty_ok" = 0 ]; then
    if [ -n "$commit" ]; then
        say "the tree has uncommitted changes (git status): a package must be of a commit."
    else
        say "this tree is not a git checkout: nothing tells which sources a package of it holds."
    fi
    say "Commit first, or package it anyway with --allow-dirty (named ...-dirty-win32.zip)."
    exit 1
fi
if [ -z "$commit" ]; then
    source_line="Forráskód: ismeretlen (nem git-tárolóból készült)"
elif [ "$changed" = 1 ]; then
    source_line="Forráskód: git $commit, nem véglegesített módosításokkal"
else
    source_line="Forráskód: git $commit"
fi

# Private, and named at random: nobody else can put a build folder in its way.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$from" ]; then
    build=$work/build
    arch=i686
    say "building the 32-bit programs (Release) in a private temporary folder: a few minutes"
    env -u CMAKE_GENERATOR cmake -G "Unix Makefiles" -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DVERBANOR_TESTS=OFF -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
    env -u CMAKE_GENERATOR cmake --build "$build" -j "$(nproc)" -- --no-print-directory >/dev/null
    suffix=win32
    [ "$changed" = 0 ] || suffix=dirty-win32
else
    build=$from
    # The build's toolchain file names its architecture.
    arch=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=.*mingw-\(.*\)\.cmake$/\1/p' "$from/CMakeCache.txt")
    [ -n "$arch" ] || { say "$from is not a build of the suite"; exit 2; }
    suffix=$arch-test
fi
version=$(cat "$build/version.txt")
name=verbanor-$version
stage=$work/stage/$name
mkdir -p "$stage"
strip=$arch-w64-mingw32-strip

"$strip" -o "$stage/vorira.exe" "$build/olvaso/vorira.exe"
"$strip" -o "$stage/dalnoka.exe" "$build/dalnoka/dalnoka.exe"
"$strip" -o "$stage/lexibar.exe" "$build/lexibar/lexibar.exe"
# Measured like the programs, though it is not shipped.
"$strip" -o "$work/speechrt.dll" "$build/engine/speechrt.dll"

# The read-me's source is UTF-8 with Unix line ends; Windows' Notepad of the
# users' systems wants code page 1250 and CR LF.
sed -e "s/@VERSION@/$version/g" -e "s/@SOURCE@/$source_line/" "$root/scripts/package/OLVASSEL.txt" \
    | iconv -f UTF-8 -t CP1250 | sed 's/$/\r/' >"$stage/OLVASSEL.TXT"

# The same bytes from every run: fixed modes and times (zip keeps local time,
# so the zone is fixed too), no extra fields, names in byte order.
zip=$name-$suffix.zip
chmod 755 "$work/stage" "$stage"
chmod 644 "$stage"/*
touch -d "@$epoch" "$stage"/*
(cd "$work/stage" && printf '%s\n' "$name"/* | LC_ALL=C sort | TZ=UTC zip -q -X -D -@ "$work/$zip")
(cd "$work" && sha256sum "$zip" >SHA256SUMS)
mkdir -p "$out"
mv -f "$work/$zip" "$work/SHA256SUMS" "$out/"

printf '%-26s %8s\n' file bytes
for f in vorira.exe dalnoka.exe lexibar.exe OLVASSEL.TXT; do
    printf '%-26s %8d\n' "$f" "$(stat -c %s "$stage/$f")"
done
printf '%-26s %8d  (not packaged)\n' speechrt.dll "$(stat -c %s "$work/speechrt.dll")"
printf '%-26s %8d\n' "$zip" "$(stat -c %s "$out/$zip")"
say "wrote $out/$zip and its SHA256SUMS:"
cat "$out/SHA256SUMS"
