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

# The second in another folder, another time zone and another umask: none
# of them may show in what is published.
for copy in first second-copy; do
    git clone -q "$root" "$work/$copy" || exit 1
    if [ "$copy" = first ]; then
        (cd "$work/$copy" && bash tools/release.sh) >"$work/$copy.log" 2>&1
    else
        (cd "$work/$copy" && umask 077 && TZ=Asia/Vladivostok bash tools/release.sh) \
            >"$work/$copy.log" 2>&1
    fi
    expect "release build in $copy" "$?" 0
    sleep 2 # a later build time must not show in the archives
done
expect "the same sums from two folders" "$(cat "$work/second-copy/dist/SHA256SUMS")" \
    "$(cat "$work/first/dist/SHA256SUMS")"
(cd "$work/first/dist" && sha256sum -c --quiet SHA256SUMS)
expect "the sums match the archives" "$?" 0

version=$(sed -n 's/^project(korvat VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
dist=$work/first/dist
expect "the zip's entries (the licences apart)" \
    "$(unzip -Z1 "$dist/korvat-$version-windows-x64.zip" | grep -v /licenses/)" \
    "korvat-$version-windows-x64/korvat.exe
korvat-$version-windows-x64/korvat-cli.exe
korvat-$version-windows-x64/README.txt
korvat-$version-windows-x64/README.ru.txt
korvat-$version-windows-x64/LICENSE.txt
korvat-$version-windows-x64/THIRD-PARTY.txt"
expect "the tarball's entries (the licences apart)" \
    "$(tar -tzf "$dist/korvat-cli-$version-linux-x86_64.tar.gz" | grep -v /licenses/)" \
    "korvat-cli-$version-linux-x86_64/
korvat-cli-$version-linux-x86_64/LICENSE
korvat-cli-$version-linux-x86_64/README.ru.txt
korvat-cli-$version-linux-x86_64/README.txt
korvat-cli-$version-linux-x86_64/THIRD-PARTY.txt
korvat-cli-$version-linux-x86_64/install.sh
korvat-cli-$version-linux-x86_64/korvat-cli
korvat-cli-$version-linux-x86_64/korvat-cli.1
korvat-cli-$version-linux-x86_64/man/
korvat-cli-$version-linux-x86_64/man/ru/
korvat-cli-$version-linux-x86_64/man/ru/korvat-cli.1"
mkdir -p "$work/unpacked"
unzip -q "$dist/korvat-$version-windows-x64.zip" -d "$work/unpacked"
tar -xzf "$dist/korvat-cli-$version-linux-x86_64.tar.gz" -C "$work/unpacked"
for guide in "$work/unpacked/korvat-$version-windows-x64"/README*.txt; do
    expect "every line of $(basename "$guide") ends in CRLF" \
        "$(grep -c $'\r$' "$guide") $(wc -l <"$guide")" "$(wc -l <"$guide") $(wc -l <"$guide")"
    expect "$(basename "$guide") starts with UTF-8's byte-order mark, for Notepad" \
        "$(head -c 3 "$guide" | od -An -tx1 | tr -d ' ')" efbbbf
done
# Every library the linker's maps show linked into a program has its
# licence in that program's archive, named in THIRD-PARTY.txt.
source "$root/tools/common.sh"
source "$root/tools/third_party.sh"
for pair in "release-linux:korvat-cli-$version-linux-x86_64:korvat-cli.map" \
    "release-windows:korvat-$version-windows-x64:korvat.exe.map korvat-cli.exe.map"; do
    IFS=: read -r tree folder maps <<<"$pair"
    tree=$work/first/build/$tree
    shipped=$work/unpacked/$folder
    missing=""
    libraries=0
    for archive in $(cd "$tree" && map_archives $maps); do
        found=$(cd "$tree" && KORVAT_EXPAT_SOURCE=$work/first/build/third_party/expat \
            KORVAT_DEFLATE_SOURCE=$work/first/build/third_party/libdeflate archive_source "$archive")
        [ "$found" = own ] && continue
        libraries=$((libraries + 1))
        source_package=${found%% *}
        { [ -n "$found" ] && [ -s "$shipped/licenses/$source_package.txt" ] &&
            grep -q "^$source_package .*$(basename "$archive")" "$shipped/THIRD-PARTY.txt"; } ||
            missing="$missing $archive"
    done
    expect "$folder: every library linked in has its licence ($libraries)" "${missing:-none}" none
    for common in $(grep -ohE '/usr/share/common-licenses/[A-Za-z0-9.+-]+' "$shipped"/licenses/*.txt | sort -u); do
        [ -f "$common" ] && expect "$folder: the licence text $(basename "$common") is there" \
            "$(test -s "$shipped/licenses/$(basename "$common").txt" && echo yes)" yes
    done
done
expect "the Linux tool's libraries: glibc, GCC's runtime, Nettle, expat, libdeflate" \
    "$(cut -d' ' -f1 "$work/unpacked/korvat-cli-$version-linux-x86_64/THIRD-PARTY.txt" | grep -xE 'glibc|gcc-12|nettle|expat|libdeflate' | sort | tr '\n' ' ')" \
    "expat gcc-12 glibc libdeflate nettle "
man=$work/unpacked/korvat-cli-$version-linux-x86_64
expect "both manual pages carry the release's date" \
    "$(sed -n 's/^\.TH KORVAT-CLI 1 "\([0-9-]*\)".*/\1/p' "$man/korvat-cli.1" "$man/man/ru/korvat-cli.1" | sort -u)" \
    "$(TZ=UTC git -C "$work/first" log -1 --format=%cd --date=format-local:%Y-%m-%d)"
commit=$(git -C "$work/first" rev-parse --short=12 HEAD)
tool=$work/unpacked/korvat-cli-$version-linux-x86_64/korvat-cli
expect "the Linux tool names its version and commit" "$("$tool" --version)" \
    "korvat-cli $version (commit $commit)"
expect "no build folder in the binaries" \
    "$(grep -c -a -e "$work" "$work/unpacked"/*/korvat* | grep -vc ':0$')" 0
expect "BUILDINFO names the commit and the toolchain" \
    "$(grep -c -e "^korvat $version, commit $(git -C "$work/first" rev-parse HEAD)$" -e '^gcc: ' \
        -e '^MinGW-w64 runtime: ' -e '^cmake: ' "$dist/BUILDINFO")" 4
expect "both builds read lists with one version of expat, which BUILDINFO names" \
    "$(sed -n 's/^expat, linked in: \([^,]*\),.*(\([^)]*\))$/\1 \2/p' "$dist/BUILDINFO" | awk '$1 == $2 { print "same" }')" same

# The Linux tool runs on any x86-64 Linux: no library of the system, so
# no glibc symbol version, however old; and it is hardened as Debian
# hardens (the unstripped build shows the protections' own symbols).
unstripped=$work/first/build/release-linux/korvat-cli
expect "the tool needs no shared library" "$(readelf -d "$tool" | grep -c NEEDED)" 0
expect "the tool needs no glibc symbol version" "$(readelf -V -W --dyn-syms "$tool" | grep -c 'GLIBC_')" 0
# The README's checks, on the shipped tool, then on the unstripped build.
expect "position independent" "$(readelf -h "$tool" | grep -c 'Type:.*DYN (Position-Independent')" 1
expect "read-only relocations, bound at once" \
    "$(readelf -l -W "$tool" | grep -c GNU_RELRO) $(readelf -d "$tool" | grep -c 'FLAGS.*BIND_NOW') $(readelf -d "$tool" | grep -c 'FLAGS_1.*NOW PIE')" "1 1 1"
expect "a stack that is not executable" "$(readelf -l -W "$tool" | grep GNU_STACK | grep -c ' RW ')" 1
expect "the stack protector's canary read" "$(objdump -d "$tool" | grep -c '%fs:0x28' | grep -cv '^0$')" 1
expect "the fortified calls' own message" "$(grep -c -a 'buffer overflow detected' "$tool")" 1
expect "the stack protector" "$(nm "$unstripped" | grep -c ' __stack_chk_fail$')" 1
expect "fortified calls" "$(nm "$unstripped" | grep -cE ' __(memcpy|memmove|memset|snprintf|vsnprintf|fprintf|printf)_chk$' | grep -cv '^0$')" 1
expect "no control-flow protection is claimed" "$(readelf -n "$tool" | grep -c 'x86 feature: IBT')" 0
# hardening-check itself, on the optimised build that links the system's
# glibc (the static tool hides what it looks for). Debian 12's own startup
# files carry no IBT/SHSTK notes, so no program linked here can claim them.
optimised=$root/build/optimised/korvat-cli
if [ -x "$optimised" ]; then
    hardening-check --nocfprotection "$optimised" >"$work/hardening.txt"
    expect "hardening-check passes on the optimised build" "$?" 0
    cat "$work/hardening.txt"
fi

# The Windows programs: DLLs from the system folder only, ASLR with high
# entropy, NX, the stack protector; korvat-cli.exe loads no USER32.
for exe in korvat.exe korvat-cli.exe; do
    flags=$(x86_64-w64-mingw32-objdump -p "$work/unpacked/korvat-$version-windows-x64/$exe" |
        sed -n 's/^DllCharacteristics[[:space:]]*//p')
    expect "$exe: high-entropy ASLR and NX" "$(((0x$flags & 0x160) == 0x160))" 1
    expect "$exe restricts its DLL search" \
        "$(grep -c -a SetDefaultDllDirectories "$work/unpacked/korvat-$version-windows-x64/$exe")" 1
    expect "$exe has the stack protector" \
        "$(x86_64-w64-mingw32-nm "$work/first/build/release-windows/$exe" | grep -c ' __stack_chk_fail$')" 1
done
expect "korvat-cli.exe imports no USER32" \
    "$(x86_64-w64-mingw32-objdump -p "$work/unpacked/korvat-$version-windows-x64/korvat-cli.exe" |
        grep -ci 'DLL Name: user32')" 0

# A tree with uncommitted changes gives no release.
echo "changed" >>"$work/second-copy/README.md"
(cd "$work/second-copy" && bash tools/release.sh) >"$work/dirty.log" 2>&1
expect "a tree with uncommitted changes is refused" \
    "$? $(grep -c 'uncommitted changes' "$work/dirty.log")" "1 1"

ls -l "$dist"
cat "$dist/SHA256SUMS"
# The packages and manifests, checked as their projects check them.
KORVAT_SCHEMAS_DIR=$root/../shared/schemas bash "$root/tests/release/packages_test.sh" "$dist" "$work/first"
expect "the packages' checks (above)" "$?" 0

echo "release: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
