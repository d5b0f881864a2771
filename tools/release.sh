#!/usr/bin/env bash
# Builds the release: optimised binaries without sanitizers or tests, in
# trees of their own, and the archives in dist/ with their SHA256SUMS.
# The same commit gives byte-identical archives wherever it is checked out
# and whenever it is built: every time stamp is the commit's
# (SOURCE_DATE_EPOCH), the binaries hold no build path and no link time,
# and archive entries have a fixed order, times, owners and modes.
# Usage: release.sh   (writes dist/ beside tools/)
set -eu -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing_packages || { echo "package installation failed" >&2; exit 1; }
cd "$KORVAT_ROOT"
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
        { echo "not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C
umask 022
version=$(sed -n 's/^project(korvat VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }

release_tree() {
    local name=$1
    shift
    rm -rf "$KORVAT_BUILD/$name"
    cmake -S "$KORVAT_ROOT" -B "$KORVAT_BUILD/$name" -DCMAKE_BUILD_TYPE=Release \
        -DKORVAT_BUILD_TESTS=OFF "$@" >/dev/null &&
        cmake --build "$KORVAT_BUILD/$name" -j "$(nproc)" >/dev/null
}
echo "Building korvat $version for Windows and Linux"
release_tree release-windows -DCMAKE_TOOLCHAIN_FILE="$KORVAT_ROOT/cmake/toolchain-mingw-x86_64.cmake"
# The Linux tool carries its C++ runtime, so it runs on older systems too.
release_tree release-linux -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
    -DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc"

dist=$KORVAT_ROOT/dist
rm -rf "$dist"
mkdir -p "$dist"
guide() { sed "s/@VERSION@/$version/" "$KORVAT_ROOT/docs/guide.txt"; }

# Sets the fixed time and modes on every entry below a folder.
fix_entries() {
    find "$1" -type d -exec chmod 755 {} +
    find "$1" -type f -exec chmod 644 {} +
    find "$1" -name '*.exe' -exec chmod 755 {} +
    [ -z "${2:-}" ] || chmod 755 "$2"
    find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# Windows: the two programs, the guide with CRLF line ends, the licence.
stage=$KORVAT_BUILD/release-stage/korvat-$version-windows-x64
rm -rf "$KORVAT_BUILD/release-stage"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/korvat.exe" "$KORVAT_BUILD/release-windows/korvat.exe"
x86_64-w64-mingw32-strip -o "$stage/korvat-cli.exe" "$KORVAT_BUILD/release-windows/korvat-cli.exe"
guide | sed 's/$/\r/' >"$stage/README.txt"
sed 's/$/\r/' "$KORVAT_ROOT/LICENSE" >"$stage/LICENSE.txt"
fix_entries "$stage"
(cd "$stage/.." && zip -X -q -9 "$dist/korvat-$version-windows-x64.zip" \
    "korvat-$version-windows-x64/korvat.exe" "korvat-$version-windows-x64/korvat-cli.exe" \
    "korvat-$version-windows-x64/README.txt" "korvat-$version-windows-x64/LICENSE.txt")

# Linux: the tool, its manual page, the guide and the licence.
stage=$KORVAT_BUILD/release-stage/korvat-cli-$version-linux-x86_64
mkdir -p "$stage"
strip -o "$stage/korvat-cli" "$KORVAT_BUILD/release-linux/korvat-cli"
cp "$KORVAT_BUILD/release-linux/korvat-cli.1" "$stage/korvat-cli.1"
guide >"$stage/README.txt"
cp "$KORVAT_ROOT/LICENSE" "$stage/LICENSE"
fix_entries "$stage" "$stage/korvat-cli"
(cd "$stage/.." && tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
    --numeric-owner --format=gnu -cf - "korvat-cli-$version-linux-x86_64") |
    gzip -n -9 >"$dist/korvat-cli-$version-linux-x86_64.tar.gz"

(cd "$dist" && sha256sum "korvat-$version-windows-x64.zip" \
    "korvat-cli-$version-linux-x86_64.tar.gz" >SHA256SUMS)
echo "Release written to $dist:"
(cd "$dist" && ls -l --time-style=+ . | tail -n +2 && cat SHA256SUMS)
