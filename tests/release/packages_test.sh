#!/usr/bin/env bash
# The release's packages, checked offline with the tools their projects
# use: the Debian package with lintian (no error, no warning, no override)
# and its AppStream metainfo with appstreamcli; the Scoop and winget
# manifests against their projects' JSON schemas (each check shown to fail
# on a manifest it must refuse); the hashes and version they carry; the
# package installed into a throwaway root and removed again; the Linux
# archive's install.sh likewise.
# Usage: packages_test.sh DIST CHECKOUT
set -u -o pipefail
dist=$1
checkout=$2
here=$(cd "$(dirname "$0")" && pwd)
schemas=${KORVAT_SCHEMAS_DIR:-$checkout/../shared/schemas}
source "$here/../lib/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
version=$(sed -n 's/^project(korvat VERSION \([0-9.]*\).*/\1/p' "$checkout/CMakeLists.txt")
deb=$dist/korvat-cli_${version}_amd64.deb

# lintian: nothing above information, with no override in the package.
lintian_out=$(lintian --display-info --pedantic --tag-display-limit 0 "$deb" 2>&1 | grep -v 'root privileges')
expect "lintian: no error or warning" "$(printf '%s\n' "$lintian_out" | grep -cE '^[EW]: ')" 0
expect "no lintian override shipped" "$(dpkg-deb -c "$deb" | grep -c lintian)" 0
echo "lintian's information tags: $(printf '%s\n' "$lintian_out" | grep -E '^[IP]: ' | cut -d' ' -f3 | sort -u | tr '\n' ' ')"
dpkg-deb -x "$deb" "$work/deb"
expect "appstreamcli validate --no-net" \
    "$(appstreamcli validate --no-net "$work/deb/usr/share/metainfo/"*.metainfo.xml >/dev/null 2>&1; echo $?)" 0

# The manifests against their schemas, and a manifest each must refuse.
validate() { /usr/bin/python3 "$here/validate_manifest.py" "$@" >/dev/null 2>&1; echo $?; }
if [ -d "$schemas" ]; then
    expect "Scoop's schema takes korvat.json" "$(validate "$schemas/scoop/schema.json" "$dist/korvat.json")" 0
    sed 's/"hash": "[0-9a-f]*"/"hash": "not a hash"/' "$dist/korvat.json" >"$work/bad-hash.json"
    sed 's/"version":/"versio":/' "$dist/korvat.json" >"$work/bad-field.json"
    expect "Scoop's schema refuses a wrong hash" "$(validate "$schemas/scoop/schema.json" "$work/bad-hash.json")" 1
    expect "Scoop's schema refuses a field it has not" \
        "$(validate "$schemas/scoop/schema.json" "$work/bad-field.json")" 1
    winget=$dist/winget/manifests/k/Korvat/Korvat/$version
    for pair in "version:Korvat.Korvat.yaml" "installer:Korvat.Korvat.installer.yaml" \
        "defaultLocale:Korvat.Korvat.locale.en-US.yaml" "locale:Korvat.Korvat.locale.ru-RU.yaml"; do
        expect "winget's $pair" \
            "$(validate "$schemas/winget/manifest.${pair%%:*}.1.10.0.json" "$winget/${pair#*:}")" 0
    done
    sed 's/InstallerSha256: .*/InstallerSha256: 1234/' "$winget/Korvat.Korvat.installer.yaml" >"$work/bad.yaml"
    expect "winget's schema refuses a wrong hash" \
        "$(validate "$schemas/winget/manifest.installer.1.10.0.json" "$work/bad.yaml")" 1
    sed 's/^InstallerType: zip/InstallerType: tarball/' "$winget/Korvat.Korvat.installer.yaml" >"$work/bad.yaml"
    expect "winget's schema refuses an installer type it has not" \
        "$(validate "$schemas/winget/manifest.installer.1.10.0.json" "$work/bad.yaml")" 1
else
    echo "schemas: skipped, $schemas not found"
fi
# One version and one date: the changelog's top release, in AppStream and
# in each manifest.
source "$checkout/tools/release_version.sh"
release=$(changelog_release "$checkout")
winget_dir=$dist/winget/manifests/k/Korvat/Korvat/$version
expect "AppStream, Scoop and winget carry the changelog's version and date" \
    "$(sed -n 's/.*<release version="\([^"]*\)" date="\([^"]*\)".*/\1 \2/p' "$work/deb/usr/share/metainfo/"*.metainfo.xml)
$(sed -n 's/.*"version": "\([^"]*\)".*/\1/p' "$dist/korvat.json") $(sed -n 's/^ReleaseDate: "\(.*\)"/\1/p' "$winget_dir/Korvat.Korvat.installer.yaml")
$(grep -h '^PackageVersion: ' "$winget_dir"/*.yaml | sort -u | cut -d' ' -f2)" \
    "$release
$release
${release%% *}"
zip_hash=$(sed -n "s/^\([0-9a-f]*\)  korvat-$version-windows-x64.zip$/\1/p" "$dist/SHA256SUMS")
expect "the manifests carry the zip's hash from SHA256SUMS" \
    "$(grep -c "$zip_hash" "$dist/korvat.json" "$dist/winget/manifests/k/Korvat/Korvat/$version/Korvat.Korvat.installer.yaml" | cut -d: -f2 | tr '\n' ' ')" "1 1 "
expect "SHA256SUMS covers every file the release publishes, by its own name" \
    "$(cd "$dist" && sha256sum -c --quiet SHA256SUMS && wc -l <SHA256SUMS) $(grep -c / "$dist/SHA256SUMS")" \
    "$(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS | wc -l) 0"
# As a user checks a download: the zip alone beside SHA256SUMS.
mkdir -p "$work/download" && cp "$dist/SHA256SUMS" "$dist/korvat-$version-windows-x64.zip" "$work/download/"
expect "sha256sum -c --ignore-missing beside the zip alone" \
    "$(cd "$work/download" && sha256sum -c --ignore-missing SHA256SUMS 2>&1)" "korvat-$version-windows-x64.zip: OK"

# Installed into a throwaway root, run there, removed: nothing left.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"
before=$(cd "$root" && find . | sort)
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" >/dev/null 2>&1
expect "the package installs" "$(dpkg --root="$root" -s korvat-cli 2>/dev/null | grep -c '^Status: install ok installed')" 1
expect "korvat-cli --version there, the release's version" \
    "$("$root/usr/bin/korvat-cli" --version | cut -d' ' -f1-2)" "korvat-cli $version"
expect "man -w finds both manual pages there" \
    "$(MANPATH=$root/usr/share/man man -w korvat-cli; LANGUAGE= LC_ALL=C.UTF-8 MANPATH=$root/usr/share/man man -L ru -w korvat-cli)" \
    "$root/usr/share/man/man1/korvat-cli.1.gz
$root/usr/share/man/ru/man1/korvat-cli.1.gz"
dpkg --root="$root" --force-script-chrootless --purge korvat-cli >/dev/null 2>&1
expect "removed, nothing of it left" \
    "$(cd "$root" && find . | grep -v '^\./var/lib/dpkg/' | sort)" \
    "$(printf '%s\n' "$before" | grep -v '^\./var/lib/dpkg/')"

# The Linux archive's own install, into a prefix, and its removal.
tar -xzf "$dist/korvat-cli-$version-linux-x86_64.tar.gz" -C "$work"
prefix=$work/prefix
sh "$work/korvat-cli-$version-linux-x86_64/install.sh" --prefix "$prefix" >/dev/null
expect "install.sh puts the tool and its pages" \
    "$("$prefix/bin/korvat-cli" --version | cut -d' ' -f1-2) $(MANPATH=$prefix/share/man man -w korvat-cli)" \
    "korvat-cli $version $prefix/share/man/man1/korvat-cli.1"
sh "$work/korvat-cli-$version-linux-x86_64/install.sh" uninstall --prefix "$prefix" >/dev/null
expect "uninstall removes exactly what install put" "$(find "$prefix" -mindepth 1 2>/dev/null | wc -l)" 0
# A prefix that has folders of its own (bin, share/man, a link to it, a
# file), installed into twice: uninstall leaves all of them.
shared=$work/shared-prefix
mkdir -p "$shared/bin" "$shared/share/man" && echo mine >"$shared/bin/other" && ln -s share/man "$shared/man"
(cd "$shared" && find . | LC_ALL=C sort) >"$work/shared.before"
sh "$work/korvat-cli-$version-linux-x86_64/install.sh" --prefix "$shared" >/dev/null
sh "$work/korvat-cli-$version-linux-x86_64/install.sh" --prefix "$shared" >/dev/null
expect "the licences are installed with the tool" \
    "$(ls "$shared/share/doc/korvat-cli/THIRD-PARTY.txt" "$shared/share/doc/korvat-cli/licenses" | wc -l | grep -cv '^[01]$')" 1
sh "$work/korvat-cli-$version-linux-x86_64/install.sh" uninstall --prefix "$shared" >/dev/null
expect "after two installs, uninstall leaves the prefix as it was, folders, link and file" \
    "$(cd "$shared" && find . | LC_ALL=C sort | diff "$work/shared.before" - && echo same)" same

echo "packages: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
