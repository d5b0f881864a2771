#!/usr/bin/env bash
# The project as someone who only wants the programs builds it: with the
# tests off and no test library to be found, then installed; with the tests
# on and GoogleTest missing, a clear message. The manual page renders clean.
# Usage: build_test.sh SOURCE_FOLDER WORK_FOLDER
set -u -o pipefail
source=$1
work=$2
source "$(dirname "$0")/../lib/expect.sh"
rm -rf "$work"
mkdir -p "$work"
hidden=(-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON)

# Tests off, test libraries hidden: configures, builds and installs.
cmake -S "$source" -B "$work/tree" -DKORVAT_BUILD_TESTS=OFF "${hidden[@]}" >"$work/configure.log" 2>&1
expect "configure with the tests off and no test library" "$?" 0
cmake --build "$work/tree" -j 2 >"$work/build.log" 2>&1
expect "build with the tests off" "$?" 0
cmake --install "$work/tree" --prefix "$work/prefix" >/dev/null 2>&1
expect "install" "$?" 0
expect "the install tree" "$(cd "$work/prefix" && find . -type f | LC_ALL=C sort)" "./bin/korvat-cli
./share/doc/korvat/LICENSE
./share/doc/korvat/README.ru.txt
./share/doc/korvat/README.txt
./share/man/man1/korvat-cli.1
./share/man/ru/man1/korvat-cli.1"
expect "the installed program runs" "$("$work/prefix/bin/korvat-cli" --version | cut -d' ' -f1-3)" \
    "korvat-cli $(sed -n 's/^project(korvat VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt") (commit"
expect "the installed guide's title and its underline" \
    "$(head -n 2 "$work/prefix/share/doc/korvat/README.txt" | awk '{ print length($0) }' | uniq | wc -l)" 1

# Tests on, GoogleTest hidden: configuring stops and says what to install.
cmake -S "$source" -B "$work/tests-on" "${hidden[@]}" >"$work/tests-on.log" 2>&1
expect "configure with the tests on and no GoogleTest fails" "$?" 1
expect "the message names what to install" \
    "$(grep -c 'GoogleTest was not found: install it (Debian: apt-get install' "$work/tests-on.log")" 1

# The manual page: no warning from groff, and every section there.
warnings=$(groff -man -ww -z "$work/prefix/share/man/man1/korvat-cli.1" 2>&1)
expect "groff -man -ww warnings" "$warnings" ""
expect "manual page sections" "$(grep -c '^\.SH \(NAME\|SYNOPSIS\|DESCRIPTION\|OPTIONS\|EXIT STATUS\|EXAMPLES\)' \
    "$work/prefix/share/man/man1/korvat-cli.1")" 6
# The Russian one, as man shows it in a Russian locale.
# From standard input: preconv names its file in a line groff reads, and
# the checkout's path may hold any character.
warnings=$(preconv -e UTF-8 <"$work/prefix/share/man/ru/man1/korvat-cli.1" | groff -man -Tutf8 -ww -z 2>&1)
expect "the Russian manual page: groff -man -ww warnings" "$warnings" ""

echo "install: $checks checks, $failures failed"
[ "$failures" -eq 0 ]
