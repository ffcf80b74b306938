#!/usr/bin/env bash
# Builds the package twice, each time in a private folder of its own, and
# checks what a user unpacks: both zips are the same bytes and match their
# SHA256SUMS; the names and sizes; the programs are stripped 32-bit programs
# carrying the project's version, maker and rights without a UAC manifest,
# and their About boxes show the same; the read-me's encoding and what it
# must say, the commit included. A build folder planted where the package
# used to be built is not used, and uncommitted changes are not packaged
# unasked.
#   package_zip.sh SOURCE_FOLDER RUNTIME_DLL ITS_WINDRES [KEEP]
# checks the version resource of this build's runtime too, and leaves a good
# zip in KEEP.
set -euo pipefail
root=$1
runtime=$2
runtime_windres=$3
keep=${4:-}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }

# A developer's tree may hold changes: then the package is asked for as such.
flags=() suffix=win32
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    flags=(--allow-dirty) suffix=dirty-win32
fi
# Someone else's build folder, waiting where the package used to be built.
mkdir -p "$out/1/.build-win32"
echo planted >"$out/1/.build-win32/CMakeCache.txt"
for run in 1 2; do
    "$root/scripts/package.sh" "${flags[@]}" "$out/$run" >"$out/sizes-$run.txt" 2>"$out/log-$run.txt" \
        || { cat "$out/log-$run.txt"; exit 1; }
done
cat "$out/sizes-1.txt"
# The one version number, read where it is kept rather than from the build.
version=$(sed -n 's/^project(Verbanor VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
IFS=. read -r major minor patch <<<"$version"
numbers="$major, $minor, ${patch:-0}, 0"
zip=$out/1/verbanor-$version-$suffix.zip
[ -f "$zip" ] || { echo "FAIL: no $zip"; ls "$out/1"; exit 1; }

[ "$(cat "$out/1/.build-win32/CMakeCache.txt")" = planted ] && [ "$(ls -A "$out/1/.build-win32")" = CMakeCache.txt ] \
    || fail "the planted build folder was used"
cmp -s "$zip" "$out/2/${zip##*/}" || fail "two packages of one commit differ:"$'\n'"$(
    diff <(unzip -v "$zip" | tail -n +2) <(unzip -v "$out/2/${zip##*/}" | tail -n +2))"
(cd "$out/1" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the zip"
[ "$(tail -n 1 "$out/sizes-1.txt")" = "$(cat "$out/1/SHA256SUMS")" ] || fail "the checksum is not printed at the end"

# Exactly these files; the stand-in runtime above all must not be among them.
expected=$(printf "verbanor-$version/%s\n" OLVASSEL.TXT dalnoka.exe lexibar.exe vorira.exe)
names=$(unzip -Z1 "$zip")
[ "$names" = "$expected" ] || fail "the zip holds, in this order:"$'\n'"$names"
unzip -q "$zip" -d "$out/x"
dir=$out/x/verbanor-$version

check_binary() { # check_binary FILE NAME TYPE [WINDRES]
    local file=$1 name=$2 type=$3 rc
    rc=$("${4:-i686-w64-mingw32-windres}" -i "$file" -O rc 2>/dev/null) || { fail "$name: resources unreadable"; return; }
    for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "FILETYPE $type" \
        'LANGUAGE 14, 1' 'BLOCK "040E04E2"' "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
        'VALUE "ProductName", "Verbanor"' "VALUE \"OriginalFilename\", \"$name\"" 'VALUE "CompanyName", ' \
        'VALUE "LegalCopyright", ' 'VALUE "FileDescription", L"' 'VALUE "Translation", 0x40e, 1250'; do
        grep -qF -- "$line" <<<"$rc" || fail "$name: no '$line' in its version resource"
    done
    # Type 24: a manifest would switch off the registry virtualization that
    # Dalnoka's settings under HKLM rely on for a normal user.
    ! grep -qi 'Type: 24\|MANIFEST' <<<"$rc" || fail "$name: carries a manifest"
}
# The text of VALUE NAME in a resource dump, as the dump writes it.
value() { sed -n "s/^ *VALUE \"$2\", \(L\{0,1\}\".*\"\)$/\1/p" <<<"$1"; }

for name in vorira.exe dalnoka.exe lexibar.exe; do
    file=$dir/$name
    [ -f "$file" ] || continue
    size=$(stat -c %s "$file")
    [ "$size" -le 153600 ] || fail "$name: $size bytes, over 150 KB"
    i686-w64-mingw32-objdump -f "$file" | grep -q 'file format pei-i386' || fail "$name: not a 32-bit program"
    i686-w64-mingw32-nm "$file" 2>&1 | grep -q 'no symbols' || fail "$name: not stripped"
    check_binary "$file" "$name" 0x1
done
check_binary "$runtime" speechrt.dll 0x2 "$runtime_windres"
# The About boxes show the version and the rights the resource carries;
# Vorira's also its maker.
rc=$(i686-w64-mingw32-windres -i "$dir/vorira.exe" -O rc 2>/dev/null || true)
for text in "L\"Verzi\\363 $version\"" "$(value "$rc" CompanyName)" "$(value "$rc" LegalCopyright)"; do
    grep -qF -- "CTEXT $text," <<<"$rc" || fail "Vorira's About box does not show $text"
done
rc=$(i686-w64-mingw32-windres -i "$dir/dalnoka.exe" -O rc 2>/dev/null || true)
for text in "L\"Verzi\\363 $version\"" "$(value "$rc" LegalCopyright)"; do
    grep -qF -- "CTEXT $text," <<<"$rc" || fail "Dalnoka's About box does not show $text"
done

# The read-me: CP1250 (so not UTF-8) with CR LF everywhere, and what it must say.
readme=$dir/OLVASSEL.TXT
if [ -f "$readme" ]; then
    ! iconv -f UTF-8 -t UTF-8 "$readme" >/dev/null 2>&1 || fail "OLVASSEL.TXT is UTF-8, not CP1250"
    lines=$(wc -l <"$readme")
    [ "$lines" -gt 0 ] && [ "$(grep -c $'\r$' "$readme")" = "$lines" ] || fail "OLVASSEL.TXT: a line without CR LF"
    [ "$(tr -cd '\r' <"$readme" | wc -c)" = "$lines" ] || fail "OLVASSEL.TXT: a stray CR"
    text=$(iconv -f CP1250 -t UTF-8 "$readme")
    for phrase in "Verbanor $version" "Forráskód: git $(git -C "$root" rev-parse HEAD)" '"Kelvanit"' '"Verbanor 4 TTS"' \
        'SAPI 4.0' 'Windows 7' 'Nem találok hangokat a beszédmotorhoz!' 'Nem tudom betölteni a Verbanor 4 TTS-t' \
        'SmartScreen' 'SHA256SUMS' 'HKEY_LOCAL_MACHINE\SOFTWARE\Kelvanit\Dalnoka' 'reg delete "HKLM\SOFTWARE\Kelvanit\Dalnoka"' \
        'VirtualStore\MACHINE\SOFTWARE\WOW6432Node\Kelvanit\Dalnoka' 'Minden jog fenntartva' 'Hibát' \
        'F1' 'Ctrl+M' 'Alt+M' 'felhasználói szótár'; do
        grep -qF -- "$phrase" <<<"$text" || fail "OLVASSEL.TXT does not say '$phrase'"
    done
fi

# The same sources committed in a scratch repository, then changed: refused
# before anything is built, with the way on named.
tree=$out/tree
mkdir "$tree"
git -C "$root" ls-files -z -c -o --exclude-standard | tar -C "$root" --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -C "$tree" -xf -
git -C "$tree" init -q && git -C "$tree" add -A \
    && git -C "$tree" -c user.name=test -c user.email=test@localhost commit -q -m sources
echo "// changed" >>"$tree/olvaso/main.cpp"
if "$tree/scripts/package.sh" "$out/3" >"$out/log-3.txt" 2>&1; then
    fail "a tree with uncommitted changes was packaged unasked"
fi
[ ! -e "$out/3" ] && grep -q -- --allow-dirty "$out/log-3.txt" \
    || fail "the refusal wrote something or does not say how to go on: $(cat "$out/log-3.txt")"

[ "$failures" = 0 ] || exit 1
if [ -n "$keep" ]; then
    rm -rf "$keep" && mkdir -p "$keep" && cp "$zip" "$keep/verbanor-$version-win32.zip"
fi
echo "package_zip: ok"
