#!/usr/bin/env bash
# Builds the release: optimised binaries without sanitizers or tests, in
# trees of their own, and the archives in dist/ with their SHA256SUMS and
# the toolchain they were built with in BUILDINFO. A tree with uncommitted
# changes is refused.
# The same commit gives byte-identical archives wherever it is checked out
# and whenever it is built: every time stamp is the commit's
# (SOURCE_DATE_EPOCH), the binaries hold no build path and no link time,
# and archive entries have a fixed order, times, owners and modes.
# Usage: release.sh   (writes dist/ beside tools/)
set -eu -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source "$(dirname "${BASH_SOURCE[0]}")/package.sh"
source "$(dirname "${BASH_SOURCE[0]}")/third_party.sh"

install_missing_packages || { echo "package installation failed" >&2; exit 1; }
cd "$KORVAT_ROOT"
# A release is made from a commit: the same version from changed files
# would give other archives under the same name.
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    echo "the tree has uncommitted changes: commit them, or stash them, first" >&2
    exit 1
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
        { echo "not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C
umask 022
source "$KORVAT_ROOT/tools/release_version.sh"
# One version and one date everywhere, and never a second, different release
# under a name already published.
refusal=$(check_release "$KORVAT_ROOT")
[ -z "$refusal" ] || { echo "no release: $refusal" >&2; exit 1; }
version=$(cmake_version "$KORVAT_ROOT")
release_date=$(changelog_release "$KORVAT_ROOT" | cut -d' ' -f2)

release_tree() {
    local name=$1
    shift
    rm -rf "$KORVAT_BUILD/$name"
    cmake -S "$KORVAT_ROOT" -B "$KORVAT_BUILD/$name" -DCMAKE_BUILD_TYPE=Release \
        -DKORVAT_BUILD_TESTS=OFF "$@" >/dev/null &&
        cmake --build "$KORVAT_BUILD/$name" -j "$(nproc)" >/dev/null
}
echo "Building korvat $version for Windows and Linux"
prepare_machine || exit 1
release_tree release-windows -DCMAKE_TOOLCHAIN_FILE="$KORVAT_ROOT/cmake/toolchain-mingw-x86_64.cmake" \
    -DKORVAT_EXPAT_SOURCE_DIR="$KORVAT_EXPAT_SOURCE/expat" -DKORVAT_DEFLATE_SOURCE_DIR="$KORVAT_DEFLATE_SOURCE"
# The Linux tool is linked statically, position-independent, with Debian's
# hardening: it uses no name service and needs no C library of the system,
# so it starts on any x86-64 Linux, however old its glibc.
mapfile -t hardening < <(hardening_flags)
release_tree release-linux -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DKORVAT_STATIC_PIE=ON \
    "${hardening[@]}"

dist=$KORVAT_ROOT/dist
rm -rf "$dist"
mkdir -p "$dist"

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
# The guides as Notepad reads them everywhere: UTF-8 with a byte-order mark.
with_bom() { printf '\357\273\277'; sed 's/$/\r/' "$1"; }
with_bom "$KORVAT_BUILD/release-windows/README.txt" >"$stage/README.txt"
with_bom "$KORVAT_BUILD/release-windows/README.ru.txt" >"$stage/README.ru.txt"
sed 's/$/\r/' "$KORVAT_ROOT/LICENSE" >"$stage/LICENSE.txt"
# The licence of every library the programs hold, as Notepad reads them.
third_party "$stage" "$KORVAT_BUILD/release-windows" korvat.exe.map korvat-cli.exe.map
for text in "$stage/THIRD-PARTY.txt" "$stage"/licenses/*; do
    sed -i 's/\r*$/\r/' "$text"
done
fix_entries "$stage"
(cd "$stage/.." && LC_ALL=C find "korvat-$version-windows-x64/licenses" -type f | LC_ALL=C sort >"$stage.licences" &&
    zip -X -q -9 "$dist/korvat-$version-windows-x64.zip" \
    "korvat-$version-windows-x64/korvat.exe" "korvat-$version-windows-x64/korvat-cli.exe" \
    "korvat-$version-windows-x64/README.txt" "korvat-$version-windows-x64/README.ru.txt" \
    "korvat-$version-windows-x64/LICENSE.txt" "korvat-$version-windows-x64/THIRD-PARTY.txt" \
    $(cat "$stage.licences"))

# Linux: the tool, its manual page, the guide and the licence.
stage=$KORVAT_BUILD/release-stage/korvat-cli-$version-linux-x86_64
mkdir -p "$stage"
strip -o "$stage/korvat-cli" "$KORVAT_BUILD/release-linux/korvat-cli"
cp "$KORVAT_BUILD/release-linux/korvat-cli.1" "$stage/korvat-cli.1"
mkdir -p "$stage/man/ru"
cp "$KORVAT_BUILD/release-linux/man/ru/korvat-cli.1" "$stage/man/ru/korvat-cli.1"
cp "$KORVAT_BUILD/release-linux/README.txt" "$stage/README.txt"
cp "$KORVAT_BUILD/release-linux/README.ru.txt" "$stage/README.ru.txt"
cp "$KORVAT_ROOT/LICENSE" "$stage/LICENSE"
cp "$KORVAT_ROOT/packaging/linux/install.sh" "$stage/install.sh"
third_party "$stage" "$KORVAT_BUILD/release-linux" korvat-cli.map
fix_entries "$stage" "$stage/korvat-cli"
chmod 755 "$stage/install.sh"
touch -h -d "@$SOURCE_DATE_EPOCH" "$stage/install.sh"
(cd "$stage/.." && tar --sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 \
    --numeric-owner --format=gnu -cf - "korvat-cli-$version-linux-x86_64") |
    gzip -n -9 >"$dist/korvat-cli-$version-linux-x86_64.tar.gz"

# The Debian package, and the Scoop and winget manifests of the zip.
make_deb "$version" "$dist"
make_manifests "$version" "$dist"



# What the archives were built with: a rebuild compares its sums on the
# same ground.
package_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo unknown; }
{
    echo "korvat $version, commit $(git rev-parse HEAD)"
    echo "SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"
    echo "gcc: $(gcc -dumpfullversion) (Debian package gcc-12 $(package_version gcc-12))"
    echo "g++: $(g++ -dumpfullversion) (Debian package g++-12 $(package_version g++-12))"
    echo "binutils: $(ld --version | head -n 1) (Debian package binutils $(package_version binutils))"
    echo "glibc, linked in: $(package_version libc6-dev)"
    echo "x86_64-w64-mingw32-g++-posix: $(x86_64-w64-mingw32-g++-posix -dumpfullversion) (Debian package g++-mingw-w64-x86-64-posix $(package_version g++-mingw-w64-x86-64-posix))"
    echo "MinGW-w64 binutils: $(x86_64-w64-mingw32-ld --version | head -n 1) (Debian package binutils-mingw-w64-x86-64 $(package_version binutils-mingw-w64-x86-64))"
    echo "MinGW-w64 runtime: Debian package mingw-w64-x86-64-dev $(package_version mingw-w64-x86-64-dev)"
    echo "Nettle, linked in: Debian package nettle-dev $(package_version nettle-dev)"
    echo "expat, linked in: $(package_version libexpat1-dev), Debian's package libexpat1-dev on Linux and its source package expat, the same version, built here for Windows ($(expat_source_version))"
    echo "libdeflate, linked in: $(package_version libdeflate-dev), Debian's package libdeflate-dev on Linux and its source package libdeflate, the same version, built here for Windows ($(deflate_source_version))"
    echo "cmake: $(cmake --version | head -n 1)"
    echo "dpkg-deb: $(package_version dpkg)"
    echo "zip: $(package_version zip), tar: $(package_version tar), gzip: $(package_version gzip)"
} >"$dist/BUILDINFO"

# Every file the release publishes, BUILDINFO too, in name order.
# The release's own files lie side by side when published, so SHA256SUMS
# names them without a folder; the winget manifests are submitted apart,
# each folder as it is.
(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
    xargs -d '\n' sha256sum >SHA256SUMS)
echo "Release written to $dist:"
(cd "$dist" && ls -l --time-style=+ . | tail -n +2 && cat SHA256SUMS BUILDINFO)
