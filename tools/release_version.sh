# The version a release carries and the date it is of, from the two places
# they are written by hand: CMakeLists.txt's project() and CHANGELOG.md's
# top release section ("## [1.3.0] - 2026-12-08"). Sourced by release.sh,
# package.sh and the release tests.

# The version CMakeLists.txt sets.
cmake_version() {
    sed -n 's/^project(korvat VERSION \([0-9.]*\).*/\1/p' "$1/CMakeLists.txt"
}

# "VERSION DATE" of the changelog's first release section.
changelog_release() {
    sed -n 's/^## \[\([0-9][0-9.]*\)\] - \([0-9]\{4\}-[0-9]\{2\}-[0-9]\{2\}\)$/\1 \2/p' \
        "$1/CHANGELOG.md" | head -n 1
}

# The lines of the changelog's [Unreleased] section that hold anything.
unreleased_entries() {
    awk '/^## \[Unreleased\]/ { inside = 1; next } /^## / { inside = 0 } inside && NF' \
        "$1/CHANGELOG.md"
}

# check_release ROOT: nothing, or why no release may be made from ROOT:
# the version and the changelog disagree, [Unreleased] still holds entries,
# or the version's tag is another commit (its published files would then be
# other bytes under the same name).
check_release() {
    local root=$1 version release tagged head
    version=$(cmake_version "$root")
    release=$(changelog_release "$root")
    if [ -z "$version" ]; then
        echo "no version in CMakeLists.txt"
    elif [ "${release%% *}" != "$version" ]; then
        echo "CMakeLists.txt says $version, but CHANGELOG.md's top release is ${release%% *}"
    elif [ -n "$(unreleased_entries "$root")" ]; then
        echo "CHANGELOG.md's [Unreleased] section still holds entries: move them into [$version]"
    else
        tagged=$(git -C "$root" rev-parse -q --verify "refs/tags/v$version^{commit}" 2>/dev/null)
        head=$(git -C "$root" rev-parse -q --verify HEAD 2>/dev/null)
        if [ -n "$tagged" ] && [ "$tagged" != "$head" ]; then
            echo "v$version is already released from commit $tagged: give this one a new version"
        fi
    fi
}
