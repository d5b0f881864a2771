#!/usr/bin/env bash
# One version and one date: CMakeLists.txt and the changelog's top release
# agree here, and release.sh refuses, before building anything, a clone
# where they disagree, where [Unreleased] still holds entries, or where the
# version's tag is another commit.
# Usage: version_test.sh SOURCE_FOLDER WORK_FOLDER
set -u -o pipefail
source_folder=$1
work=$2
source "$(dirname "$0")/../lib/expect.sh"
source "$source_folder/tools/release_version.sh"
rm -rf "$work"
mkdir -p "$work"

expect "this checkout may be released" "$(check_release "$source_folder")" ""
version=$(cmake_version "$source_folder")
expect "the changelog's top release is the version" "$(changelog_release "$source_folder" | cut -d' ' -f1)" \
    "$version"

# A clone, changed and committed as a release would be, one fault at a time.
refusal() { # the first line release.sh ends with, and its exit status
    (cd "$work/clone" && git commit -qam "$1" && bash tools/release.sh 2>&1 >/dev/null | tail -n 1; echo "$?")
}
fresh() {
    rm -rf "$work/clone"
    git clone -q "$source_folder" "$work/clone" &&
        git -C "$work/clone" config user.email test@example.invalid &&
        git -C "$work/clone" config user.name test
}
fresh
sed -i "s/^project(korvat VERSION [0-9.]*/project(korvat VERSION 9.9.9/" "$work/clone/CMakeLists.txt"
expect "a version the changelog does not have" "$(refusal version)" \
    "no release: CMakeLists.txt says 9.9.9, but CHANGELOG.md's top release is $version
1"
fresh
sed -i '0,/^## \[Unreleased\]$/s//## [Unreleased]\n\n- Something not yet released./' "$work/clone/CHANGELOG.md"
expect "entries left under [Unreleased]" "$(refusal unreleased)" \
    "no release: CHANGELOG.md's [Unreleased] section still holds entries: move them into [$version]
1"
fresh
git -C "$work/clone" tag "v$version" HEAD
echo "changed" >>"$work/clone/README.md"
tagged=$(git -C "$work/clone" rev-parse HEAD)
expect "a version already released from another commit" "$(refusal retag)" \
    "no release: v$version is already released from commit $tagged: give this one a new version
1"
echo "version: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
