#!/usr/bin/env bash
# Builds the package into a scratch folder and checks what a user unpacks: the
# names, the sizes, that the programs are stripped 32-bit programs carrying the
# project's version without a UAC manifest, and the read-me's encoding.
#   package_zip.sh SOURCE_FOLDER [KEEP]    a good zip is left in KEEP
set -euo pipefail
root=$1
keep=${2:-}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0
fail() { printf 'FAIL: %s\n' "$*"; failures=$((failures + 1)); }

"$root/scripts/package.sh" "$out" >"$out/sizes.txt" 2>"$out/log.txt" || { cat "$out/log.txt"; exit 1; }
cat "$out/sizes.txt"
# The one version number, read where it is kept rather than from the build.
version=$(sed -n 's/^project(Verbanor VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' "$root/CMakeLists.txt")
zip=$out/verbanor-$version-win32.zip
[ -f "$zip" ] || { echo "FAIL: no $zip"; ls "$out"; exit 1; }

# Exactly these files; the stand-in runtime above all must not be among them.
expected=$(printf "verbanor-$version/%s\n" OLVASSEL.TXT dalnoka.exe lexibar.exe vorira.exe)
names=$(unzip -Z1 "$zip" | LC_ALL=C sort)
[ "$names" = "$expected" ] || fail "the zip holds:"$'\n'"$names"
unzip -q "$zip" -d "$out/x"
dir=$out/x/verbanor-$version

check_binary() { # check_binary FILE NAME TYPE
    local file=$1 name=$2 type=$3 rc
    rc=$(i686-w64-mingw32-windres -i "$file" -O rc 2>/dev/null) || { fail "$name: resources unreadable"; return; }
    for line in "FILEVERSION ${version//./, }, 0" "PRODUCTVERSION ${version//./, }, 0" "FILETYPE $type" \
        'LANGUAGE 14, 1' 'BLOCK "040E04E2"' "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
        'VALUE "ProductName", "Verbanor"' "VALUE \"OriginalFilename\", \"$name\"" \
        'VALUE "FileDescription", L"' 'VALUE "Translation", 0x40e, 1250'; do
        grep -qF -- "$line" <<<"$rc" || fail "$name: no '$line' in its version resource"
    done
    # Type 24: a manifest would switch off the registry virtualization that
    # Dalnoka's settings under HKLM rely on for a normal user.
    ! grep -qi 'Type: 24\|MANIFEST' <<<"$rc" || fail "$name: carries a manifest"
}

for name in vorira.exe dalnoka.exe lexibar.exe; do
    file=$dir/$name
    [ -f "$file" ] || continue
    size=$(stat -c %s "$file")
    [ "$size" -le 153600 ] || fail "$name: $size bytes, over 150 KB"
    i686-w64-mingw32-objdump -f "$file" | grep -q 'file format pei-i386' || fail "$name: not a 32-bit program"
    i686-w64-mingw32-nm "$file" 2>&1 | grep -q 'no symbols' || fail "$name: not stripped"
    check_binary "$file" "$name" 0x1
done
check_binary "$out/.build-win32/speechrt.dll" speechrt.dll 0x2

# The read-me: CP1250 (so not UTF-8) with CR LF everywhere, and what it must say.
readme=$dir/OLVASSEL.TXT
if [ -f "$readme" ]; then
    ! iconv -f UTF-8 -t UTF-8 "$readme" >/dev/null 2>&1 || fail "OLVASSEL.TXT is UTF-8, not CP1250"
    lines=$(wc -l <"$readme")
    [ "$lines" -gt 0 ] && [ "$(grep -c $'\r$' "$readme")" = "$lines" ] || fail "OLVASSEL.TXT: a line without CR LF"
    [ "$(tr -cd '\r' <"$readme" | wc -c)" = "$lines" ] || fail "OLVASSEL.TXT: a stray CR"
    text=$(iconv -f CP1250 -t UTF-8 "$readme")
    for phrase in "Verbanor $version" '"Kelvanit"' '"Verbanor 4 TTS"' 'SAPI 4.0' 'felolvasó' \
        'HKEY_LOCAL_MACHINE\SOFTWARE\Kelvanit\Dalnoka' 'F1' 'Ctrl+M' 'Alt+M' 'felhasználói szótár'; do
        grep -qF -- "$phrase" <<<"$text" || fail "OLVASSEL.TXT does not say '$phrase'"
    done
fi

[ "$failures" = 0 ] || exit 1
if [ -n "$keep" ]; then
    rm -rf "$keep" && mkdir -p "$keep" && cp "$zip" "$keep/"
fi
echo "package_zip: ok"
