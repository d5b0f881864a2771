# The licences of the libraries linked into the release's programs, found
# from the linker's maps: each archive a map shows a member of belongs to a
# Debian package (or, for Windows, to a Debian source package built here),
# whose copyright file, and the common licence texts it names, go into
# licenses/ beside the programs, with THIRD-PARTY.txt naming each library,
# its version and its source package. Sourced by release.sh and the
# release test.

# The archives a map shows members of, one a line: absolute paths, and the
# build tree's own relative to it.
map_archives() {
    grep -ohE '^[^ ]+\.a\(' "$@" | sed 's/($//' | LC_ALL=C sort -u
}

# archive_source ARCHIVE: "SOURCE VERSION COPYRIGHT" for an archive (a path
# relative to the build tree, run from there), or "own" for the program's
# own code; nothing when it cannot be told.
archive_source() {
    local archive=$1 package
    case $archive in
    */libkorvat_*.a | libkorvat_*.a | CMakeFiles/*.a) echo own ;;
    expat/*.a | */expat/*.a)
        echo "expat $(debian_source_version "$KORVAT_EXPAT_SOURCE") $KORVAT_EXPAT_SOURCE/debian/copyright" ;;
    *deflate*.a)
        echo "libdeflate $(debian_source_version "$KORVAT_DEFLATE_SOURCE") $KORVAT_DEFLATE_SOURCE/debian/copyright" ;;
    /*)
        package=$(dpkg -S "$(readlink -f "$archive")" 2>/dev/null | head -n 1 | cut -d: -f1)
        [ -n "$package" ] || package=$(dpkg -S "$archive" 2>/dev/null | head -n 1 | cut -d: -f1)
        [ -n "$package" ] || return 0
        echo "$(dpkg-query -W -f='${source:Package} ${Version}' "$package") /usr/share/doc/$package/copyright" ;;
    esac
}

# third_party STAGE TREE MAP...: STAGE/licenses/SOURCE.txt for each library
# and STAGE/THIRD-PARTY.txt; false, saying which, when an archive's licence
# cannot be found.
third_party() {
    local stage=$1 tree=$2 archive found source version copyright common
    shift 2
    mkdir -p "$stage/licenses"
    : >"$stage/licenses.list"
    for archive in $(cd "$tree" && map_archives "$@"); do
        found=$(cd "$tree" && archive_source "$archive")
        [ "$found" = own ] && continue
        read -r source version copyright <<<"$found"
        if [ -z "$found" ] || [ ! -f "$copyright" ]; then
            echo "no licence found for $archive" >&2
            return 1
        fi
        cp "$copyright" "$stage/licenses/$source.txt"
        echo "$source $version $(basename "$archive")" >>"$stage/licenses.list"
        # The common licence texts it names by path, which Debian keeps apart.
        for common in $(grep -oE '/usr/share/common-licenses/[A-Za-z0-9.+-]+' "$copyright" | sort -u); do
            [ -f "$common" ] && cp "$common" "$stage/licenses/$(basename "$common").txt"
        done
    done
    {
        echo "Third-party software in these programs"
        echo "======================================"
        echo
        echo "KORVAT's own code is under the MIT licence (see LICENSE). The programs hold"
        echo "code of the libraries below, linked in. Each one's copyright and licence is in"
        echo "licenses/SOURCE.txt, as its Debian source package gives it, with the common"
        echo "licence texts that file names (licenses/GPL-3.txt, licenses/LGPL-2.1.txt...)."
        echo "The sources of each are Debian's source packages of that name and version."
        echo
        printf '%-18s %-22s %s\n' "source package" "version" "libraries"
        awk '{ libs[$1 " " $2] = libs[$1 " " $2] (libs[$1 " " $2] ? ", " : "") $3 }
             END { for (k in libs) { split(k, f, " "); printf "%-18s %-22s %s\n", f[1], f[2], libs[k] } }' \
            "$stage/licenses.list" | LC_ALL=C sort
    } >"$stage/THIRD-PARTY.txt"
    rm -f "$stage/licenses.list"
}
