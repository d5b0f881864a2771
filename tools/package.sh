# The release's packages, made from the archives release.sh has just built:
# the Debian package of korvat-cli, linked against Debian's own libraries,
# and the Scoop and winget manifests of the Windows zip. Sourced by
# release.sh, whose variables it uses; everything it writes is fixed by the
# commit (SOURCE_DATE_EPOCH), so a second clone gives the same bytes.

# The repository whose releases the manifests point at, set in one place.
korvat_homepage() {
    sed -n 's/^set(KORVAT_HOMEPAGE "\(.*\)")$/\1/p' "$KORVAT_ROOT/CMakeLists.txt"
}

# fill TEMPLATE: the template with @NAME@ replaced by each NAME=value given.
fill() {
    local template=$1 text
    shift
    text=$(cat "$template")
    local pair
    for pair in "$@"; do
        text=${text//@${pair%%=*}@/${pair#*=}}
    done
    printf '%s\n' "$text"
}

# make_deb VERSION DIST: korvat-cli_VERSION_amd64.deb in DIST.
make_deb() {
    local version=$1 dist=$2 homepage date stage tree=$KORVAT_BUILD/release-deb
    homepage=$(korvat_homepage)
    date=$release_date
    # The program linked against the system's libraries, hardened as Debian
    # hardens its own, stripped as Debian strips.
    local hardening
    mapfile -t hardening < <(hardening_flags)
    release_tree release-deb -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ "${hardening[@]}"
    stage=$KORVAT_BUILD/release-stage/deb
    rm -rf "$stage"
    mkdir -p "$stage/DEBIAN" "$stage/usr/bin" "$stage/usr/share/man/man1" \
        "$stage/usr/share/man/ru/man1" "$stage/usr/share/doc/korvat-cli" "$stage/usr/share/metainfo"
    strip --remove-section=.comment --remove-section=.note --strip-unneeded \
        -o "$stage/usr/bin/korvat-cli" "$tree/korvat-cli"
    gzip -9n <"$tree/korvat-cli.1" >"$stage/usr/share/man/man1/korvat-cli.1.gz"
    gzip -9n <"$tree/man/ru/korvat-cli.1" >"$stage/usr/share/man/ru/man1/korvat-cli.1.gz"
    cp "$KORVAT_ROOT/README.md" "$stage/usr/share/doc/korvat-cli/README.md"
    fill "$KORVAT_ROOT/packaging/debian/changelog.in" "VERSION=$version" \
        "DATE=$(date -u -d "$release_date 12:00:00" -R)" | gzip -9n >"$stage/usr/share/doc/korvat-cli/changelog.gz"
    gzip -9n <"$KORVAT_ROOT/CHANGELOG.md" >"$stage/usr/share/doc/korvat-cli/CHANGELOG.md.gz"
    fill "$KORVAT_ROOT/packaging/debian/copyright" "HOMEPAGE=$homepage" \
        >"$stage/usr/share/doc/korvat-cli/copyright"
    fill "$KORVAT_ROOT/packaging/debian/korvat-cli.metainfo.xml.in" "VERSION=$version" \
        "DATE=$date" "HOMEPAGE=$homepage" >"$stage/usr/share/metainfo/io.github.korvat.korvat_cli.metainfo.xml"
    # Its dependencies as dpkg-shlibdeps works them out from the program.
    local depends
    depends=$(cd "$KORVAT_BUILD/release-stage" && mkdir -p debian &&
        printf 'Source: korvat\n\nPackage: korvat-cli\nArchitecture: amd64\n' >debian/control &&
        dpkg-shlibdeps -O -e "$stage/usr/bin/korvat-cli" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
    [ -n "$depends" ] || { echo "dpkg-shlibdeps found no dependencies" >&2; return 1; }
    (cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
    local size
    size=$(cd "$stage" && find usr -type f -printf '%s\n' | awk '{ s += int(($1 + 1023) / 1024) } END { print s }')
    fill "$KORVAT_ROOT/packaging/debian/control.in" "VERSION=$version" "HOMEPAGE=$homepage" \
        "DEPENDS=$depends" "INSTALLED_SIZE=$size" >"$stage/DEBIAN/control"
    find "$stage" -type d -exec chmod 755 {} +
    find "$stage" -type f -exec chmod 644 {} +
    chmod 755 "$stage/usr/bin/korvat-cli"
    find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    dpkg-deb --root-owner-group -Zxz --build "$stage" "$dist/korvat-cli_${version}_amd64.deb" >/dev/null
}

# make_manifests VERSION DIST: the Scoop manifest and the winget manifests
# of the Windows zip, with its address under the release and its SHA-256.
make_manifests() {
    local version=$1 dist=$2 homepage date zip url hash
    homepage=$(korvat_homepage)
    date=$release_date
    zip=korvat-$version-windows-x64.zip
    url=$homepage/releases/download/v$version/$zip
    hash=$(cd "$dist" && sha256sum "$zip" | cut -d' ' -f1)
    local values=("VERSION=$version" "HOMEPAGE=$homepage" "DATE=$date" "ZIP_URL=$url" "ZIP_SHA256=$hash")
    fill "$KORVAT_ROOT/packaging/scoop/korvat.json.in" "${values[@]}" >"$dist/korvat.json"
    # As the community repository lays them out: manifests/k/Publisher/Name/Version.
    local winget=$dist/winget/manifests/k/Korvat/Korvat/$version
    mkdir -p "$winget"
    fill "$KORVAT_ROOT/packaging/winget/version.yaml.in" "${values[@]}" >"$winget/Korvat.Korvat.yaml"
    fill "$KORVAT_ROOT/packaging/winget/installer.yaml.in" "${values[@]}" \
        >"$winget/Korvat.Korvat.installer.yaml"
    fill "$KORVAT_ROOT/packaging/winget/defaultLocale.yaml.in" "${values[@]}" \
        >"$winget/Korvat.Korvat.locale.en-US.yaml"
    fill "$KORVAT_ROOT/packaging/winget/locale.ru-RU.yaml.in" "${values[@]}" \
        >"$winget/Korvat.Korvat.locale.ru-RU.yaml"
    find "$dist/winget" -type d -exec chmod 755 {} +
    find "$dist/winget" "$dist/korvat.json" -type f -exec chmod 644 {} +
}
