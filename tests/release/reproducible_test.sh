#!/usr/bin/env bash
# The release is reproducible: the same commit, cloned into two folders of
# different names and built at different times, gives byte-identical
# archives. Then the release is unpacked and checked: what each archive
# holds, the guide's CRLF line ends, the programs' version.
# Usage: reproducible_test.sh   (from a git checkout; builds in a temporary folder)
set -u -o pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/korvat-release-XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$root/tests/lib/expect.sh"

for copy in first second-copy; do
    git clone -q "$root" "$work/$copy" || exit 1
    (cd "$work/$copy" && bash tools/release.sh) >"$work/$copy.log" 2>&1
    expect "release build in $copy" "$?" 0
    sleep 2 # a later build time must not show in the archives
done
expect "the same sums from two folders" "$(cat "$work/second-copy/dist/SHA256SUMS")" \
    "$(cat "$work/first/dist/SHA256SUMS")"
(cd "$work/first/dist" && sha256sum -c --quiet SHA256SUMS)
expect "the sums match the archives" "$?" 0

version=$(sed -n 's/^project(korvat VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
dist=$work/first/dist
expect "the zip's entries" "$(unzip -Z1 "$dist/korvat-$version-windows-x64.zip")" \
    "korvat-$version-windows-x64/korvat.exe
korvat-$version-windows-x64/korvat-cli.exe
korvat-$version-windows-x64/README.txt
korvat-$version-windows-x64/LICENSE.txt"
expect "the tarball's entries" "$(tar -tzf "$dist/korvat-cli-$version-linux-x86_64.tar.gz")" \
    "korvat-cli-$version-linux-x86_64/
korvat-cli-$version-linux-x86_64/LICENSE
korvat-cli-$version-linux-x86_64/README.txt
korvat-cli-$version-linux-x86_64/korvat-cli
korvat-cli-$version-linux-x86_64/korvat-cli.1"
mkdir -p "$work/unpacked"
unzip -q "$dist/korvat-$version-windows-x64.zip" -d "$work/unpacked"
tar -xzf "$dist/korvat-cli-$version-linux-x86_64.tar.gz" -C "$work/unpacked"
guide=$work/unpacked/korvat-$version-windows-x64/README.txt
expect "every line of the Windows guide ends in CRLF" \
    "$(grep -c $'\r$' "$guide") $(wc -l <"$guide")" "$(wc -l <"$guide") $(wc -l <"$guide")"
expect "the Linux tool's version" \
    "$("$work/unpacked/korvat-cli-$version-linux-x86_64/korvat-cli" --version)" "korvat-cli $version"
expect "no build folder in the binaries" \
    "$(grep -c -a -e "$work" "$work/unpacked"/*/korvat* | grep -vc ':0$')" 0

ls -l "$dist"
cat "$dist/SHA256SUMS"
echo "release: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
